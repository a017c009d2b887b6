#pragma once

#include <QPointF>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "workspace/graph_store.h"

class QCustomPlot;
class QCPAbstractPlottable;
class QCPAxis;
class QPaintDevice;
class QCPTextElement;
class QRubberBand;

namespace varnix {

class CursorLayer;
class DepthWall;
class SeriesPlottable;

/// The chart: one line series per graph slot, a bottom and a left axis, a
/// title, mouse zoom and pan, and an overlay for the cursor lines. The only
/// code that knows the chart engine.
class ChartView : public QWidget {
  Q_OBJECT
 public:
  enum class Axis { Bottom, Left };
  enum class Panning { Both, Horizontal, None };
  /// The points of series i, read at every drawing; null: nothing to draw.
  using SeriesSource = std::function<const Series*(int)>;

  explicit ChartView(QWidget* parent = nullptr);
  ~ChartView() override;

  // --- series -------------------------------------------------------------
  int seriesCount() const { return static_cast<int>(m_series.size()); }
  /// Shows a copy of s as series i (appending empty series up to i); a
  /// series whose x is not ascending is drawn in list order.
  void setSeries(int i, Series s, Colour colour);
  /// Where series shown by showSeries find their points (the main chart:
  /// the graph store's slots). The chart keeps no copy of them.
  void setSeriesSource(SeriesSource source);
  /// Shows the source's points of slot i as series i, after they changed.
  void showSeries(int i, Colour colour);
  void setSeriesColour(int i, Colour colour);
  /// Removes series i; the later series move down.
  void removeSeries(int i);
  /// Removes series from `count` on.
  void truncateSeries(int count);
  /// Number of points drawn by series i (for tests and the print chart).
  int seriesPointCount(int i) const;
  void setLineColourOverride(bool black) { m_allBlack = black; }
  /// The colour series i is drawn in.
  QColor seriesPenColour(int i) const;
  /// Draws series i above all others (the highlighted graph); -1: none.
  void setTopSeries(int i);
  /// The legend: the names of the series in order (at most the first 30,
  /// then "... and N more"); hidden for an empty list. The user drags it
  /// with the left mouse button.
  void setLegend(const QStringList& names);
  bool legendVisible() const;
  /// The legend's top-left corner as fractions of the plot rectangle, once
  /// the user moved it; nullopt while it sits in the top right corner.
  std::optional<QPointF> legendPosition() const { return m_legendPosition; }
  void setLegendPosition(std::optional<QPointF> p);

  // --- axes ---------------------------------------------------------------
  double axisMin(Axis a) const;
  double axisMax(Axis a) const;
  /// Refuses a minimum above the maximum: "Axis Minimum Value must be <= Maximum".
  void setAxisMin(Axis a, double v);
  /// Refuses a maximum below the minimum: "Axis Maximum Value must be >= Minimum".
  void setAxisMax(Axis a, double v);
  bool axisAutomatic(Axis a) const { return m_automatic[index(a)]; }
  void setAxisAutomatic(Axis a, bool on) { m_automatic[index(a)] = on; }
  bool axisLogarithmic(Axis a) const;
  /// Refuses switching on with a negative minimum or maximum:
  /// "Logarithmic Axis Min and Max values should be >= 0".
  void setAxisLogarithmic(Axis a, bool on);
  void setAxisTitle(Axis a, const QString& title);
  QString axisTitle(Axis a) const;

  void setTitle(const QStringList& lines, bool visible);
  QStringList titleLines() const { return m_titleLines; }
  bool titleVisible() const { return m_titleVisible; }

  /// Background, axis lines, grid lines, and labels with titles (0x00BBGGRR).
  void setColours(Colour background, Colour axisLine, Colour grid, Colour labels);

  // --- geometry -----------------------------------------------------------
  /// The plot rectangle relative to the chart's top-left corner.
  QRect plotRect() const;
  /// The vertical 3-D depth offset in pixels (0 in 2-D view).
  int depth() const;
  /// Linear map of the plot rectangle onto the axis (in the logarithm on a
  /// logarithmic axis); 0 for a plot rectangle without width or height.
  double xAtColumn(int px) const;
  double yAtRow(int py) const;

  // --- view state ---------------------------------------------------------
  void set3D(bool on);
  bool is3D() const { return m_3d; }
  void setAnimatedZoom(bool on) { m_animated = on; }
  bool animatedZoom() const { return m_animated; }
  void setPanning(Panning p) { m_panning = p; }
  Panning panning() const { return m_panning; }
  void setMouseEnabled(bool on) { m_mouseEnabled = on; }
  /// Puts the axes back as they were before the first mouse zoom since the
  /// last undo zoom (if any), then redraws.
  void undoZoom();
  /// Undo zoom without the redraw, for commands that redraw once at their end.
  void restoreZoom();
  /// Zooms both axes to a data rectangle as the mouse does (animated when on).
  void zoomTo(double x0, double x1, double y0, double y1);

  /// Fits automatic axes to the data of the series, then paints.
  void redraw();
  /// Brings the plot rectangle up to date without painting.
  void recomputeGeometry();
  void setBusyCursor();
  void setCrosshairCursor();
  /// Zoom Out (factor 0.1) or Zoom In (-0.1): each axis, the left one first,
  /// stops being automatic; its maximum moves out by |max - min| * factor
  /// and then its minimum by |new max - min| * factor, in extended precision.
  void zoomBy(long double factor);
  /// Increase Y scale (-0.5) and Decrease Y scale (0.5): the left axis's
  /// maximum moves by |max - min| * factor; the axis stops being automatic.
  void scaleYMaximum(long double factor);
  /// Zoom between cursors: the bottom axis spans the x at the two pixel
  /// columns, the smaller first.
  void zoomToColumns(int first, int second);
  /// Redraws only the overlay with the two cursor lines, and nothing when
  /// they are drawn as asked already.
  void setCursorLines(int firstColumn, int secondColumn, bool shown);

  // --- output -------------------------------------------------------------
  /// Draws the chart into device over width x height device pixels; with a
  /// scale, laid out at the size divided by it and magnified (printers).
  void renderTo(QPaintDevice* device, int width, int height, double scale = 1);
  enum class PictureFormat { Png, Svg, Pdf };
  /// The bytes of a picture file of the chart of width x height pixels
  /// (PDF: points); empty when it could not be drawn.
  QByteArray picture(PictureFormat format, int width, int height);
  /// The look of the print chart: white page, black lines and labels.
  void usePrintLook();

 signals:
  /// After every full repaint of the chart (the after-draw hook).
  void drawn();
  void mouseMoved(int x, int y);
  void mousePressed(int x, int y);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct AxisState {
    double min, max;
    bool automatic;
  };
  static int index(Axis a) { return a == Axis::Bottom ? 0 : 1; }
  QCPAxis* axis(Axis a) const;
  void fitAutomaticAxes();
  SeriesPlottable* plottable(int i);
  void applyRange(Axis a, double lo, double hi);
  void endDrag(QPoint end);

  QCustomPlot* m_plot;
  CursorLayer* m_cursors = nullptr;
  DepthWall* m_wall = nullptr;
  SeriesSource m_source;
  std::vector<SeriesPlottable*> m_series;
  bool m_automatic[2] = {true, true};
  double m_lo[2] = {0, 0};
  double m_hi[2] = {1, 1};
  bool m_3d = false;
  bool m_animated = false;
  std::optional<QPointF> m_legendPosition;
  bool m_legendDrag = false;
  QPointF m_legendGrab;  ///< where the legend was taken, from its corner
  bool m_allBlack = false;
  bool m_mouseEnabled = true;
  Panning m_panning = Panning::Both;
  QStringList m_titleLines;
  bool m_titleVisible = false;
  QCPTextElement* m_title = nullptr;
  Colour m_labelColour = 16776960;

  // Mouse zoom and pan.
  QRubberBand* m_band = nullptr;
  QPoint m_dragStart;
  Qt::MouseButton m_dragButton = Qt::NoButton;
  double m_panStart[4] = {0, 0, 0, 0};
  bool m_zoomSaved = false;
  AxisState m_beforeZoom[2] = {};
};

}  // namespace varnix
