#include "app/main_window.h"

#include <QApplication>
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
#include "view/print_chart.h"
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
  PrintChartContent c;
  c.titleLines = m_chart->titleLines();
  c.titleVisible = m_chart->titleVisible();
  c.logY = m_chart->axisLogarithmic(ChartView::Axis::Left);
  c.x0 = m_chart->axisMin(ChartView::Axis::Bottom);
  c.x1 = m_chart->axisMax(ChartView::Axis::Bottom);
  c.y0 = m_chart->axisMin(ChartView::Axis::Left);
  c.y1 = m_chart->axisMax(ChartView::Axis::Left);
  // Black curves, or with distinct colours the palette's print variants and
  // the legend where the user put it.
  if (m_distinctColours) {
    c.colour = [this](std::size_t i) { return seriesColour(i, true); };
    for (int r = 0; r < m_list->count(); ++r) c.legendNames << m_list->item(r)->text();
    for (std::size_t i = 0; i < m_store.count(); ++i)
      if (isHighlighted(i)) c.topSeries = static_cast<int>(i);
  }
  c.legendPosition = m_chart->legendPosition();
  fillPrintChart(*m_print, m_store, c);
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
  const QByteArray svg = m_print->picture(ChartView::PictureFormat::Svg, 640, 480);
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
  const QString path = m_prompts.savePictureName(
      (dataFolder().isEmpty() ? QDir::homePath() : dataFolder()) + "/varnix.png");
  if (path.isEmpty()) return;
  const QSize size = m_prompts.pictureSize(QSize(800, 600));
  if (size.isEmpty()) return;
  rebuildPrintChart();
  run([&] {
    writeAndReport(ss(path), pictureOf(*m_print, ss(path), size.width(), size.height()),
                   messageFn());
  });
}

void MainWindow::showDocumentation() {
  // The working folder stays as it is: Save of a graph with a relative
  // path must still write where the user started Varnix.
  const QString dir = QCoreApplication::applicationDirPath();
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
