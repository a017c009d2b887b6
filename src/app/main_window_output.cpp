#include "app/main_window.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QSvgGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <cmath>

#include "app/qt_text.h"
#include "expr/math_commands.h"
#include "processing/delete_point.h"
#include "processing/point_transforms.h"
#include "processing/slicer.h"
#include "processing/smoothing.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/error.h"
#include "workspace/file_association.h"
#include "workspace/file_io.h"
#include "workspace/graph_list_commands.h"
#include "workspace/number_text.h"
#include "workspace/print_copy.h"
#include "workspace/version.h"

namespace varnix {

namespace {

const char* kIconSvg =
    "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 64 64'>"
    "<rect width='64' height='64' rx='8' fill='black'/>"
    "<polyline points='4,52 14,50 22,40 28,14 34,44 42,48 50,30 60,50' fill='none' "
    "stroke='aqua' stroke-width='3'/>"
    "<line x1='28' y1='6' x2='28' y2='60' stroke='yellow' stroke-width='1.5'/>"
    "<line x1='42' y1='6' x2='42' y2='60' stroke='lime' stroke-width='1.5'/></svg>\n";

}  // namespace

// --- output -----------------------------------------------------------------

void MainWindow::rebuildPrintChart() {
  m_print->truncateSeries(0);
  m_print->setTitle(m_chart->titleLines(), m_chart->titleVisible());
  const bool log = m_chart->axisLogarithmic(ChartView::Axis::Left);
  if (m_print->axisLogarithmic(ChartView::Axis::Left) != log) {
    // Switching on needs a range without negative ends; the chart refits anyway.
    m_print->setAxisMin(ChartView::Axis::Left, 0);
    if (m_print->axisMax(ChartView::Axis::Left) < 0) m_print->setAxisMax(ChartView::Axis::Left, 1);
    m_print->setAxisLogarithmic(ChartView::Axis::Left, log);
  }
  const double bx0 = m_chart->axisMin(ChartView::Axis::Bottom);
  const double bx1 = m_chart->axisMax(ChartView::Axis::Bottom);
  const double ly0 = m_chart->axisMin(ChartView::Axis::Left);
  const double ly1 = m_chart->axisMax(ChartView::Axis::Left);
  // Black curves, or with distinct colours the palette's print variants and
  // the legend where the user put it.
  m_print->setLineColourOverride(!m_distinctColours);
  for (std::size_t i = 0; i < m_store.count(); ++i)
    m_print->setSeries(static_cast<int>(i), printCopy(m_store.series(i), bx0, bx1, ly0, ly1, log),
                       m_distinctColours ? seriesColour(i, true) : 0);
  QStringList names;
  int top = -1;
  if (m_distinctColours) {
    for (int r = 0; r < m_list->count(); ++r) names << m_list->item(r)->text();
    for (std::size_t i = 0; i < m_store.count(); ++i)
      if (isHighlighted(i)) top = static_cast<int>(i);
  }
  m_print->setTopSeries(top);
  m_print->setLegendPosition(m_chart->legendPosition());
  m_print->setLegend(names);
  m_print->setAxisAutomatic(ChartView::Axis::Bottom, true);
  m_print->setAxisAutomatic(ChartView::Axis::Left, true);
}

void MainWindow::print() {
  rebuildPrintChart();
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, this);
  if (dialog.exec() != QDialog::Accepted) return;
  printChart(printer);
}

void MainWindow::printChart(QPrinter& printer) {
  // Landscape for this page; the printer's orientation is put back after.
  const auto orientation = printer.pageLayout().orientation();
  printer.setPageOrientation(QPageLayout::Landscape);
  const QRect page = printer.pageLayout().paintRectPixels(printer.resolution());
  // Laid out as on a 96 dpi screen and scaled to the printer's dots, so
  // fonts and lines keep their screen size on paper.
  m_print->renderTo(&printer, page.width(), page.height(), printer.resolution() / 96.0);
  printer.setPageOrientation(orientation);
}

void MainWindow::copyToClipboard() {
  rebuildPrintChart();
  m_print->resize(640, 480);
  QByteArray svg;
  {
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator gen;
    gen.setOutputDevice(&buffer);
    gen.setSize(QSize(640, 480));
    gen.setViewBox(QRect(0, 0, 640, 480));
    m_print->renderTo(&gen, 640, 480);
  }
  QImage image(640, 480, QImage::Format_ARGB32);
  image.fill(Qt::white);
  m_print->renderTo(&image, 640, 480);
  auto* mime = new QMimeData;
  mime->setData("image/svg+xml", svg);
  mime->setImageData(image);
  QApplication::clipboard()->setMimeData(mime);
  m_print->resize(800, 600);
}

void MainWindow::exportPicture() {
  const QString path = m_prompts.savePictureName(QDir::homePath() + "/varnix.png");
  if (path.isEmpty()) return;
  const QSize size = m_prompts.pictureSize(QSize(800, 600));
  if (size.isEmpty()) return;
  rebuildPrintChart();
  bool ok = false;
  const QString lower = path.toLower();
  if (lower.endsWith(".svg"))
    ok = m_print->saveSvg(path, size.width(), size.height());
  else if (lower.endsWith(".pdf"))
    ok = m_print->savePdf(path, size.width(), size.height());
  else
    ok = m_print->savePng(path, size.width(), size.height());
  if (!ok) m_prompts.message("Could not write " + path);
}

void MainWindow::showDocumentation() {
  const QString dir = QCoreApplication::applicationDirPath();
  QDir::setCurrent(dir);
  // Beside the program in a build folder, in share/doc/varnix when installed.
  QString manual = dir + "/doc/varnix.html";
  const QString installed = QDir::cleanPath(dir + "/../share/doc/varnix/varnix.html");
  if (!QFileInfo::exists(manual) && QFileInfo::exists(installed)) manual = installed;
  if (!m_prompts.openExternally(manual))
    m_prompts.message("No program to show the manual was found. The manual is the file " + manual +
                      "; open it in a web browser.");
}

void MainWindow::showAbout() {
  m_about->show();
  m_about->raise();
}

void MainWindow::associateFiles() {
  run([&] {
    const std::string report = associateAndRefresh(
        userDataDirectory(), ss(QCoreApplication::applicationFilePath()), kIconSvg, runProgram);
    m_prompts.message(qs(report));
  });
}

}  // namespace varnix
