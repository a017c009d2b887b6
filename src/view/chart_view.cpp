#include "view/chart_view.h"

#include "view/colour.h"

#include <qcustomplot.h>
#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMouseEvent>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QRubberBand>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "view/series_drawing.h"
#include "workspace/error.h"

namespace varnix {

namespace {

/// Axis labels in the format "###0.###": at most three decimals, no
/// thousands separators, '.' as decimal point.
QString tickText(double v) {
  QString s = QString::number(v, 'f', 3);
  if (s.contains('.')) {
    while (s.endsWith('0')) s.chop(1);
    if (s.endsWith('.')) s.chop(1);
  }
  if (s == "-0") s = "0";
  return s;
}

class PlainTicker : public QCPAxisTicker {
 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override { return tickText(tick); }
};

class PlainLogTicker : public QCPAxisTickerLog {
 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override { return tickText(tick); }
};

}  // namespace

/// The two cursor lines, drawn on their own buffered layer so that moving
/// them repaints only that layer.
class CursorLayer : public QCPLayerable {
 public:
  explicit CursorLayer(QCustomPlot* plot) : QCPLayerable(plot, "overlay") {}
  int first = 0, second = 0, depth = 0;
  bool shown = false;

 protected:
  void applyDefaultAntialiasingHint(QCPPainter* painter) const override {
    painter->setAntialiasing(false);
  }
  void draw(QCPPainter* painter) override {
    if (!shown) return;
    const QRect r = mParentPlot->axisRect()->rect();
    painter->setPen(QPen(QColor(255, 255, 0), 1));
    painter->drawLine(QLineF(first, r.top() - depth, first, r.bottom() - depth));
    painter->setPen(QPen(QColor(0, 255, 0), 1));
    painter->drawLine(QLineF(second, r.top() - depth, second, r.bottom() - depth));
  }
};

/// The pseudo-3-D look: a back wall offset up and to the right by the depth,
/// joined to the plot rectangle's corners.
class DepthWall : public QCPLayerable {
 public:
  explicit DepthWall(QCustomPlot* plot) : QCPLayerable(plot, "background") {}
  int depth = 0;
  QColor colour = Qt::gray;

 protected:
  void applyDefaultAntialiasingHint(QCPPainter* painter) const override {
    painter->setAntialiasing(false);
  }
  void draw(QCPPainter* painter) override {
    if (depth <= 0) return;
    const QRect r = mParentPlot->axisRect()->rect();
    const QRect back = r.translated(depth, -depth);
    painter->setPen(QPen(colour, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(back);
    painter->drawLine(r.topLeft(), back.topLeft());
    painter->drawLine(r.topRight(), back.topRight());
    painter->drawLine(r.bottomRight(), back.bottomRight());
    painter->drawLine(r.bottomLeft(), back.bottomLeft());
  }
};

/// One line series drawn straight from its points, which belong to the
/// chart's source (the graph store) or to the series itself (a copy).
class SeriesPlottable : public QCPAbstractPlottable {
 public:
  SeriesPlottable(QCPAxis* keyAxis, QCPAxis* valueAxis, const ChartView::SeriesSource* source,
                  int slot)
      : QCPAbstractPlottable(keyAxis, valueAxis), m_source(source), m_slot(slot) {}

  const Series* points() const {
    if (m_own) return &*m_own;
    return *m_source ? (*m_source)(m_slot) : nullptr;
  }
  void setSlot(int slot) {
    m_slot = slot;
    pointsChanged();
  }
  void setOwnPoints(Series s) {
    m_own = std::move(s);
    pointsChanged();
  }
  void useSourcePoints() {
    m_own.reset();
    pointsChanged();
  }
  /// Forgets what was derived from the points.
  void pointsChanged() {
    m_summary.clear();
    m_positive[0].reset();
    m_positive[1].reset();
  }

  /// The range of x (axis 0) or y (axis 1) as the series caches it; on a
  /// logarithmic axis only the positive values count.
  std::optional<QCPRange> range(int axis, bool logarithmic) {
    const Series* s = points();
    if (!s || s->empty()) return std::nullopt;
    const double lo = axis == 0 ? s->minX() : s->minY();
    const double hi = axis == 0 ? s->maxX() : s->maxY();
    if (!logarithmic || lo > 0) return QCPRange(lo, hi);
    // Values without a logarithm: the positive ones need a scan, kept until
    // the points change.
    std::optional<QCPRange>& positive = m_positive[axis];
    if (!positive) {
      double plo = std::numeric_limits<double>::infinity(), phi = 0;
      for (const Point& p : s->points()) {
        const double v = axis == 0 ? p.x : p.y;
        if (v > 0) {
          plo = std::min(plo, v);
          phi = std::max(phi, v);
        }
      }
      positive = phi > 0 ? QCPRange(plo, phi) : QCPRange(0, 0);
    }
    if (!(positive->upper > 0)) return std::nullopt;
    return positive;
  }

  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
  QCPRange getKeyRange(bool& found, QCP::SignDomain domain) const override {
    return cachedRange(0, domain, found);
  }
  QCPRange getValueRange(bool& found, QCP::SignDomain domain, const QCPRange&) const override {
    return cachedRange(1, domain, found);
  }

 protected:
  void draw(QCPPainter* painter) override {
    const Series* s = points();
    if (!s || s->empty()) return;
    const std::vector<Point>& pts = s->points();
    if (!m_summary.matches(pts)) m_summary.build(pts);
    const QRect r = mKeyAxis->axisRect()->rect();
    const AxisMap xMap(mKeyAxis->range().lower, mKeyAxis->range().upper, r.left(), r.width(),
                       mKeyAxis->scaleType() == QCPAxis::stLogarithmic, r.left() - 200);
    const AxisMap yMap(mValueAxis->range().lower, mValueAxis->range().upper, r.bottom(),
                       -r.height(), mValueAxis->scaleType() == QCPAxis::stLogarithmic,
                       r.bottom() + 200);
    // A magnified painter (a printer) has finer pixels.
    const double scale = std::fabs(painter->transform().m11());
    reduceSegments(pts, m_summary, xMap, yMap, scale > 1 ? scale : 1.0, clipRect(), m_segments);
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    // Segments, not polylines: the rasteriser drops the tip of a polyline
    // that turns back on itself, a segment it always draws whole.
    painter->drawLines(m_segments.data(), static_cast<int>(m_segments.size()));
  }
  void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override {
    painter->setPen(mPen);
    const double y = rect.center().y();
    painter->drawLine(QLineF(rect.left(), y, rect.right(), y));
  }

 private:
  QCPRange cachedRange(int axis, QCP::SignDomain domain, bool& found) const {
    const Series* s = points();
    found = s && !s->empty();
    if (!found) return {};
    const double lo = axis == 0 ? s->minX() : s->minY();
    const double hi = axis == 0 ? s->maxX() : s->maxY();
    found = domain != QCP::sdPositive || hi > 0;
    return QCPRange(domain == QCP::sdPositive && lo <= 0 ? hi : lo, hi);
  }

  const ChartView::SeriesSource* m_source;
  int m_slot;
  std::optional<Series> m_own;
  BlockSummary m_summary;
  std::vector<QLineF> m_segments;
  std::optional<QCPRange> m_positive[2];
};

ChartView::ChartView(QWidget* parent) : QWidget(parent), m_plot(new QCustomPlot(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_plot);
  // The keyboard stays with the graph list: a click on the chart must not
  // take the arrow keys from the cursor lines.
  setFocusPolicy(Qt::NoFocus);
  m_plot->setFocusPolicy(Qt::NoFocus);
  m_plot->setAutoAddPlottableToLegend(false);
  m_plot->legend->setVisible(false);
  m_plot->setNotAntialiasedElements(QCP::aeAll);
  m_plot->setPlottingHint(QCP::phFastPolylines, true);
  m_plot->xAxis2->setVisible(false);
  m_plot->yAxis2->setVisible(false);
  m_plot->xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new PlainTicker));
  m_plot->yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new PlainTicker));
  QFont bottomFont("Arial");
  bottomFont.setPixelSize(10);
  QFont leftFont("Arial Narrow");
  leftFont.setPixelSize(8);
  m_plot->xAxis->setTickLabelFont(bottomFont);
  m_plot->yAxis->setTickLabelFont(leftFont);
  QFont titleFont("Arial");
  titleFont.setPixelSize(11);
  m_plot->xAxis->setLabelFont(titleFont);
  m_plot->yAxis->setLabelFont(titleFont);
  applyRange(Axis::Bottom, 0, 1);
  applyRange(Axis::Left, 0, 1);
  m_plot->layer("overlay")->setMode(QCPLayer::lmBuffered);
  m_cursors = new CursorLayer(m_plot);
  m_wall = new DepthWall(m_plot);
  m_plot->installEventFilter(this);
  m_plot->setMouseTracking(true);
  m_plot->setCursor(Qt::CrossCursor);
  m_band = new QRubberBand(QRubberBand::Rectangle, m_plot);
  connect(m_plot, &QCustomPlot::afterReplot, this, &ChartView::drawn);
  setColours(0, 12632256, 8421504, 16776960);
}

ChartView::~ChartView() = default;

QCPAxis* ChartView::axis(Axis a) const {
  return a == Axis::Bottom ? m_plot->xAxis : m_plot->yAxis;
}

// --- series -----------------------------------------------------------------

SeriesPlottable* ChartView::plottable(int i) {
  while (seriesCount() <= i)
    m_series.push_back(new SeriesPlottable(m_plot->xAxis, m_plot->yAxis, &m_source, seriesCount()));
  return m_series[static_cast<std::size_t>(i)];
}

void ChartView::setSeries(int i, Series s, Colour colour) {
  plottable(i)->setOwnPoints(std::move(s));
  setSeriesColour(i, colour);
}

void ChartView::setSeriesSource(SeriesSource source) {
  m_source = std::move(source);
  for (SeriesPlottable* p : m_series) p->pointsChanged();
}

void ChartView::showSeries(int i, Colour colour) {
  plottable(i)->useSourcePoints();
  setSeriesColour(i, colour);
}

void ChartView::setSeriesColour(int i, Colour colour) {
  if (i < 0 || i >= seriesCount() || !m_series[static_cast<std::size_t>(i)]) return;
  m_series[static_cast<std::size_t>(i)]->setPen(QPen(m_allBlack ? Qt::black : toQColor(colour), 1));
}

QColor ChartView::seriesPenColour(int i) const {
  if (i < 0 || i >= seriesCount() || !m_series[static_cast<std::size_t>(i)]) return {};
  return m_series[static_cast<std::size_t>(i)]->pen().color();
}

void ChartView::setTopSeries(int i) {
  QCPLayer* main = m_plot->layer("main");
  QCPLayer* top = m_plot->layer("highlight");
  if (!top) {
    m_plot->addLayer("highlight", main, QCustomPlot::limAbove);
    top = m_plot->layer("highlight");
  }
  for (int k = 0; k < seriesCount(); ++k)
    if (auto* p = m_series[static_cast<std::size_t>(k)]) p->setLayer(k == i ? top : main);
}

bool ChartView::legendVisible() const {
  return m_plot->legend->visible();
}

void ChartView::setLegendPosition(std::optional<QPointF> p) {
  QCPLayoutInset* inset = m_plot->axisRect()->insetLayout();
  if (!p) {
    m_legendPosition.reset();
    inset->setInsetPlacement(0, QCPLayoutInset::ipBorderAligned);
    inset->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    return;
  }
  m_legendPosition = QPointF(std::clamp(p->x(), 0.0, 0.95), std::clamp(p->y(), 0.0, 0.95));
  inset->setInsetPlacement(0, QCPLayoutInset::ipFree);
  inset->setInsetRect(0, QRectF(*m_legendPosition, QSizeF(0, 0)));
}

void ChartView::setLegend(const QStringList& names) {
  QCPLegend* legend = m_plot->legend;
  legend->clearItems();
  // Text elements ("... and N more") are no legend items.
  for (int r = legend->rowCount() - 1; r >= 0; --r)
    if (legend->hasElement(r, 0)) legend->removeAt(legend->rowColToIndex(r, 0));
  legend->simplify();
  if (names.isEmpty()) {
    legend->setVisible(false);
    return;
  }
  constexpr int kShown = 30;
  const int shown =
      std::min<int>(kShown, std::min<int>(static_cast<int>(names.size()), seriesCount()));
  for (int i = 0; i < shown; ++i) {
    QCPAbstractPlottable* p = m_series[static_cast<std::size_t>(i)];
    if (!p) continue;
    p->setName(names[i]);
    legend->addItem(new QCPPlottableLegendItem(legend, p));
  }
  if (names.size() > shown) {
    auto* more = new QCPTextElement(m_plot, QString("... and %1 more").arg(names.size() - shown));
    more->setFont(legend->font());
    more->setTextColor(legend->textColor());
    legend->addElement(legend->rowCount(), 0, more);
  }
  setLegendPosition(m_legendPosition);
  legend->setVisible(true);
}

void ChartView::removeSeries(int i) {
  if (i < 0 || i >= seriesCount()) return;
  m_plot->removePlottable(m_series[static_cast<std::size_t>(i)]);
  m_series.erase(m_series.begin() + i);
  for (int k = i; k < seriesCount(); ++k) m_series[static_cast<std::size_t>(k)]->setSlot(k);
}

void ChartView::truncateSeries(int count) {
  while (seriesCount() > count) removeSeries(seriesCount() - 1);
}

int ChartView::seriesPointCount(int i) const {
  if (i < 0 || i >= seriesCount()) return 0;
  const Series* s = m_series[static_cast<std::size_t>(i)]->points();
  return s ? static_cast<int>(s->count()) : 0;
}

// --- axes -------------------------------------------------------------------

double ChartView::axisMin(Axis a) const {
  return m_lo[index(a)];
}
double ChartView::axisMax(Axis a) const {
  return m_hi[index(a)];
}

void ChartView::applyRange(Axis a, double lo, double hi) {
  // The range the program set is what it reads back; the engine gets a
  // drawable version of it (positive on a logarithmic axis, not empty).
  m_lo[index(a)] = lo;
  m_hi[index(a)] = hi;
  QCPAxis* ax = axis(a);
  double dlo = lo, dhi = hi;
  if (ax->scaleType() == QCPAxis::stLogarithmic) {
    if (!(dhi > 0)) dhi = 1;
    if (!(dlo > 0)) dlo = dhi / 1000;
  }
  if (!(dhi > dlo)) {
    const double pad = dlo == 0 ? 1 : std::fabs(dlo) * 1e-3;
    dlo -= pad;
    dhi += pad;
  }
  ax->setRange(QCPRange(dlo, dhi));
}

void ChartView::setAxisMin(Axis a, double v) {
  if (v > axisMax(a)) throw Error("Axis Minimum Value must be <= Maximum");
  applyRange(a, v, axisMax(a));
}

void ChartView::setAxisMax(Axis a, double v) {
  if (v < axisMin(a)) throw Error("Axis Maximum Value must be >= Minimum");
  applyRange(a, axisMin(a), v);
}

bool ChartView::axisLogarithmic(Axis a) const {
  return axis(a)->scaleType() == QCPAxis::stLogarithmic;
}

void ChartView::setAxisLogarithmic(Axis a, bool on) {
  QCPAxis* ax = axis(a);
  if (on && (axisMin(a) < 0 || axisMax(a) < 0))
    throw Error("Logarithmic Axis Min and Max values should be >= 0");
  const double lo = axisMin(a), hi = axisMax(a);
  if (on) {
    ax->setScaleType(QCPAxis::stLogarithmic);
    ax->setTicker(QSharedPointer<QCPAxisTicker>(new PlainLogTicker));
  } else {
    ax->setScaleType(QCPAxis::stLinear);
    ax->setTicker(QSharedPointer<QCPAxisTicker>(new PlainTicker));
  }
  applyRange(a, lo, hi);
}

void ChartView::setAxisTitle(Axis a, const QString& title) {
  axis(a)->setLabel(title);
}
QString ChartView::axisTitle(Axis a) const {
  return axis(a)->label();
}

void ChartView::setTitle(const QStringList& lines, bool visible) {
  m_titleLines = lines;
  m_titleVisible = visible;
  if (visible && !m_title) {
    m_plot->plotLayout()->insertRow(0);
    m_title = new QCPTextElement(m_plot, QString());
    QFont f("Times New Roman");
    f.setPixelSize(11);
    m_title->setFont(f);
    m_plot->plotLayout()->addElement(0, 0, m_title);
  }
  if (!visible && m_title) {
    m_plot->plotLayout()->remove(m_title);
    m_plot->plotLayout()->simplify();
    m_title = nullptr;
  }
  if (m_title) {
    m_title->setText(lines.join('\n'));
    m_title->setTextColor(toQColor(m_labelColour));
  }
}

void ChartView::setColours(Colour background, Colour axisLine, Colour grid, Colour labels) {
  m_labelColour = labels;
  m_plot->setBackground(QBrush(toQColor(background)));
  m_wall->colour = toQColor(grid);
  for (QCPAxis* ax : {m_plot->xAxis, m_plot->yAxis}) {
    ax->grid()->setPen(QPen(toQColor(grid), 1, Qt::DotLine));
    ax->setBasePen(QPen(toQColor(axisLine), 1));
    ax->setTickPen(QPen(toQColor(axisLine), 1));
    ax->setSubTickPen(QPen(toQColor(axisLine), 1));
    ax->setTickLabelColor(toQColor(labels));
    ax->setLabelColor(toQColor(labels));
  }
  if (m_title) m_title->setTextColor(toQColor(labels));
  // The legend in the chart's own colours.
  m_plot->legend->setBrush(QBrush(toQColor(background)));
  m_plot->legend->setBorderPen(QPen(toQColor(axisLine), 1));
  m_plot->legend->setTextColor(toQColor(labels));
}

// --- geometry ---------------------------------------------------------------

QRect ChartView::plotRect() const {
  return m_plot->axisRect()->rect();
}

int ChartView::depth() const {
  return m_3d ? height() / 10 : 0;
}

double ChartView::xAtColumn(int px) const {
  const QRect r = plotRect();
  if (r.width() <= 0) return 0;
  const double f = static_cast<double>(px - r.left()) / r.width();
  const double lo = axisMin(Axis::Bottom), hi = axisMax(Axis::Bottom);
  if (axisLogarithmic(Axis::Bottom) && lo > 0 && hi > 0)
    return std::exp(std::log(lo) + f * (std::log(hi) - std::log(lo)));
  return lo + f * (hi - lo);
}

double ChartView::yAtRow(int py) const {
  const QRect r = plotRect();
  if (r.height() <= 0) return 0;
  const double f = static_cast<double>(py - r.top()) / r.height();
  const double lo = axisMin(Axis::Left), hi = axisMax(Axis::Left);
  if (axisLogarithmic(Axis::Left) && lo > 0 && hi > 0)
    return std::exp(std::log(hi) - f * (std::log(hi) - std::log(lo)));
  return hi - f * (hi - lo);
}

// --- view state -------------------------------------------------------------

void ChartView::set3D(bool on) {
  m_3d = on;
  const int d = depth();
  m_wall->depth = d;
  m_plot->axisRect()->setAutoMargins(QCP::msAll);
  QMargins extra(0, d, d, 0);
  m_plot->axisRect()->setMinimumMargins(extra);
}

void ChartView::undoZoom() {
  restoreZoom();
  redraw();
}

void ChartView::restoreZoom() {
  if (!m_zoomSaved) return;
  for (Axis a : {Axis::Bottom, Axis::Left}) {
    const AxisState& s = m_beforeZoom[index(a)];
    applyRange(a, s.min, s.max);
    m_automatic[index(a)] = s.automatic;
  }
  m_zoomSaved = false;
}

void ChartView::zoomTo(double x0, double x1, double y0, double y1) {
  if (!m_zoomSaved) {
    for (Axis a : {Axis::Bottom, Axis::Left})
      m_beforeZoom[index(a)] = {axisMin(a), axisMax(a), m_automatic[index(a)]};
    m_zoomSaved = true;
  }
  m_automatic[0] = m_automatic[1] = false;
  if (m_animated) {
    double bx0 = axisMin(Axis::Bottom), bx1 = axisMax(Axis::Bottom);
    double ly0 = axisMin(Axis::Left), ly1 = axisMax(Axis::Left);
    for (int step = 0; step < 7; ++step) {
      bx0 += (x0 - bx0) / 3;
      bx1 += (x1 - bx1) / 3;
      ly0 += (y0 - ly0) / 3;
      ly1 += (y1 - ly1) / 3;
      applyRange(Axis::Bottom, bx0, bx1);
      applyRange(Axis::Left, ly0, ly1);
      m_plot->replot(QCustomPlot::rpImmediateRefresh);
    }
  }
  applyRange(Axis::Bottom, x0, x1);
  applyRange(Axis::Left, y0, y1);
  redraw();
}

void ChartView::fitAutomaticAxes() {
  for (Axis a : {Axis::Bottom, Axis::Left}) {
    if (!m_automatic[index(a)]) continue;
    std::optional<QCPRange> total;
    for (SeriesPlottable* p : m_series) {
      const std::optional<QCPRange> r = p->range(index(a), axisLogarithmic(a));
      if (!r) continue;
      if (!total)
        total = r;
      else
        total->expand(*r);
    }
    if (total) applyRange(a, total->lower, total->upper);
  }
}

void ChartView::redraw() {
  fitAutomaticAxes();
  m_cursors->depth = depth();
  m_plot->replot(QCustomPlot::rpImmediateRefresh);
}

void ChartView::recomputeGeometry() {
  m_plot->plotLayout()->update(QCPLayoutElement::upPreparation);
  m_plot->plotLayout()->update(QCPLayoutElement::upMargins);
  m_plot->plotLayout()->update(QCPLayoutElement::upLayout);
}

void ChartView::setBusyCursor() {
  m_plot->setCursor(Qt::WaitCursor);
}
void ChartView::setCrosshairCursor() {
  m_plot->setCursor(Qt::CrossCursor);
}

void ChartView::setCursorLines(int firstColumn, int secondColumn, bool shown) {
  // Every full replot draws the overlay as it stands: after one, the lines
  // asked for again are on screen already and a second paint would only
  // repeat the first.
  if (m_cursors->first == firstColumn && m_cursors->second == secondColumn &&
      m_cursors->shown == shown && m_cursors->depth == depth())
    return;
  m_cursors->first = firstColumn;
  m_cursors->second = secondColumn;
  m_cursors->shown = shown;
  m_cursors->depth = depth();
  m_plot->layer("overlay")->replot();
}

// --- mouse ------------------------------------------------------------------

bool ChartView::eventFilter(QObject* watched, QEvent* event) {
  if (watched != m_plot) return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseMove: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      emit mouseMoved(p.x(), p.y());
      if (m_legendDrag) {
        const QRect ar = m_plot->axisRect()->rect();
        if (ar.width() > 0 && ar.height() > 0)
          setLegendPosition(QPointF((p.x() - m_legendGrab.x() - ar.left()) / ar.width(),
                                    (p.y() - m_legendGrab.y() - ar.top()) / ar.height()));
        m_plot->replot(QCustomPlot::rpQueuedReplot);
        return true;
      }
      if (m_dragButton == Qt::LeftButton) {
        m_band->setGeometry(QRect(m_dragStart, p).normalized());
      } else if (m_dragButton == Qt::RightButton) {
        const QRect r = plotRect();
        if (r.width() > 0 && (m_panning == Panning::Both || m_panning == Panning::Horizontal)) {
          const double dx = (m_panStart[1] - m_panStart[0]) * (p.x() - m_dragStart.x()) / r.width();
          applyRange(Axis::Bottom, m_panStart[0] - dx, m_panStart[1] - dx);
          m_automatic[0] = false;
        }
        if (r.height() > 0 && m_panning == Panning::Both) {
          const double dy =
              (m_panStart[3] - m_panStart[2]) * (p.y() - m_dragStart.y()) / r.height();
          applyRange(Axis::Left, m_panStart[2] + dy, m_panStart[3] + dy);
          m_automatic[1] = false;
        }
        m_plot->replot(QCustomPlot::rpQueuedReplot);
      }
      return true;
    }
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint p = e->position().toPoint();
      emit mousePressed(p.x(), p.y());
      if (!m_mouseEnabled) return true;
      if (e->button() == Qt::LeftButton && m_plot->legend->visible() &&
          m_plot->legend->outerRect().contains(p)) {
        m_legendDrag = true;
        m_legendGrab = QPointF(p) - m_plot->legend->outerRect().topLeft();
        return true;
      }
      m_dragStart = p;
      m_dragButton = e->button();
      if (m_dragButton == Qt::LeftButton) {
        m_band->setGeometry(QRect(p, QSize()));
        m_band->show();
      } else if (m_dragButton == Qt::RightButton) {
        m_panStart[0] = axisMin(Axis::Bottom);
        m_panStart[1] = axisMax(Axis::Bottom);
        m_panStart[2] = axisMin(Axis::Left);
        m_panStart[3] = axisMax(Axis::Left);
      }
      return true;
    }
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (m_legendDrag && e->button() == Qt::LeftButton) {
        m_legendDrag = false;
        return true;
      }
      if (m_dragButton == Qt::LeftButton && e->button() == Qt::LeftButton) {
        m_band->hide();
        m_dragButton = Qt::NoButton;
        endDrag(e->position().toPoint());
      } else if (e->button() == m_dragButton) {
        m_dragButton = Qt::NoButton;
      }
      return true;
    }
    default:
      return QWidget::eventFilter(watched, event);
  }
}

void ChartView::endDrag(QPoint end) {
  const int dx = end.x() - m_dragStart.x();
  const int dy = end.y() - m_dragStart.y();
  if (std::abs(dx) <= 16 || std::abs(dy) <= 16) return;
  if (dx > 0 && dy > 0) {
    const double x0 = xAtColumn(m_dragStart.x()), x1 = xAtColumn(end.x());
    const double y1 = yAtRow(m_dragStart.y()), y0 = yAtRow(end.y());
    zoomTo(x0, x1, y0, y1);
  } else {
    undoZoom();
  }
}

// --- view commands ------------------------------------------------------------

void ChartView::zoomBy(long double factor) {
  for (Axis a : {Axis::Left, Axis::Bottom}) {
    setAxisAutomatic(a, false);
    const long double max = axisMax(a), min = axisMin(a);
    setAxisMax(a, static_cast<double>(max + std::fabs(max - min) * factor));
    const long double newMax = axisMax(a);
    setAxisMin(a, static_cast<double>(min - std::fabs(newMax - min) * factor));
  }
}

void ChartView::scaleYMaximum(long double factor) {
  setAxisAutomatic(Axis::Left, false);
  const long double max = axisMax(Axis::Left), min = axisMin(Axis::Left);
  setAxisMax(Axis::Left, static_cast<double>(max + std::fabs(max - min) * factor));
}

void ChartView::zoomToColumns(int first, int second) {
  setAxisAutomatic(Axis::Bottom, false);
  const double lo = xAtColumn(std::min(first, second));
  const double hi = xAtColumn(std::max(first, second));
  setAxisMin(Axis::Bottom, lo);
  setAxisMax(Axis::Bottom, hi);
}

// --- output -----------------------------------------------------------------

void ChartView::usePrintLook() {
  m_plot->setBackground(Qt::NoBrush);
  m_allBlack = true;
  m_labelColour = 0;
  QFont labelFont("Arial Narrow");
  labelFont.setPixelSize(11);
  QFont titleFont("Arial");
  titleFont.setPixelSize(13);
  titleFont.setBold(true);
  for (QCPAxis* ax : {m_plot->xAxis, m_plot->yAxis}) {
    ax->setTickLabelFont(labelFont);
    ax->setLabelFont(titleFont);
    ax->setTickLabelColor(Qt::black);
    ax->setLabelColor(Qt::black);
    ax->setBasePen(QPen(Qt::black, 1));
    ax->setTickPen(QPen(Qt::black, 1));
    ax->setSubTickPen(QPen(Qt::black, 1));
    ax->grid()->setPen(QPen(QColor(200, 200, 200), 1, Qt::DotLine));
  }
  // The legend as on paper: white box, black frame and names, its font in
  // pixels as the axes' are: a size in points would be resolved at the
  // printer's dots and then scaled to them a second time.
  QFont legendFont("Arial");
  legendFont.setPixelSize(11);
  m_plot->legend->setFont(legendFont);
  m_plot->legend->setBrush(QBrush(Qt::white));
  m_plot->legend->setBorderPen(QPen(Qt::black, 1));
  m_plot->legend->setTextColor(Qt::black);
  m_wall->depth = 0;
  m_mouseEnabled = false;
}

void ChartView::renderTo(QPaintDevice* device, int width, int height, double scale) {
  fitAutomaticAxes();
  QCPPainter painter(device);
  if (scale > 0 && scale != 1) {
    painter.scale(scale, scale);
    m_plot->toPainter(&painter, static_cast<int>(width / scale), static_cast<int>(height / scale));
  } else {
    m_plot->toPainter(&painter, width, height);
  }
}

QByteArray ChartView::picture(PictureFormat format, int width, int height) {
  fitAutomaticAxes();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  switch (format) {
    case PictureFormat::Png: {
      // On a white page as printed, not on transparency: black curves would
      // vanish in a dark viewer or on a slide.
      QImage image(width, height, QImage::Format_RGB32);
      image.fill(Qt::white);
      {
        QCPPainter painter(&image);
        m_plot->toPainter(&painter, width, height);
      }
      if (!image.save(&buffer, "PNG")) return {};
      break;
    }
    case PictureFormat::Svg: {
      QSvgGenerator svg;
      svg.setOutputDevice(&buffer);
      svg.setSize(QSize(width, height));
      svg.setViewBox(QRect(0, 0, width, height));
      svg.setTitle("Varnix chart");
      QCPPainter painter;
      if (!painter.begin(&svg)) return {};
      m_plot->toPainter(&painter, width, height);
      painter.end();
      break;
    }
    case PictureFormat::Pdf: {
      // One page of exactly the picture's size in points, drawn as vectors.
      QPdfWriter pdf(&buffer);
      pdf.setCreator("Varnix");
      pdf.setTitle("Varnix chart");
      // Fonts as large beside the curves as on the screen.
      pdf.setResolution(m_plot->logicalDpiX());
      QPageLayout layout;
      layout.setMode(QPageLayout::FullPageMode);
      layout.setOrientation(QPageLayout::Portrait);
      layout.setMargins(QMarginsF(0, 0, 0, 0));
      layout.setPageSize(
          QPageSize(QSize(width, height), QPageSize::Point, QString(), QPageSize::ExactMatch));
      pdf.setPageLayout(layout);
      QCPPainter painter;
      if (!painter.begin(&pdf)) return {};
      painter.setMode(QCPPainter::pmVectorized);
      painter.setMode(QCPPainter::pmNoCaching);
      painter.setWindow(0, 0, width, height);
      m_plot->toPainter(&painter, width, height);
      painter.end();
      break;
    }
  }
  return bytes;
}

}  // namespace varnix
