#pragma once

#include <QPointF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "workspace/graph_store.h"

class QApplication;

namespace varnix {

class ChartView;

/// What Print, Copy to clipboard and Export picture show besides the points:
/// the ranges shown on screen, the title and the legend.
struct PrintChartContent {
  double x0 = 0, x1 = 1, y0 = 0, y1 = 1;  ///< the shown ranges
  bool logY = false;
  QStringList titleLines;
  bool titleVisible = false;
  /// With distinct colours each slot's print colour (and the legend); without,
  /// every curve black.
  std::function<Colour(std::size_t slot)> colour;
  QStringList legendNames;
  int topSeries = -1;
  std::optional<QPointF> legendPosition;
};

/// Fills the print chart with the print copy of every graph of the store and
/// fits its axes to them.
void fillPrintChart(ChartView& print, const GraphStore& store, const PrintChartContent& content);

/// The bytes of a picture file of the chart of width x height pixels: SVG
/// or PDF by the extension of path (any case), PNG otherwise. Drawn in
/// memory, to be written as data files are (writeFileAtomically: a FIFO is
/// refused at once, a read-only file is not replaced, a crash leaves the
/// old file). Throws varnix::Error when it cannot be drawn.
std::string pictureOf(ChartView& chart, const std::string& path, int width, int height);

/// The smallest and largest finite x and y of every graph's points (0..1 for
/// a store without finite points): the view after Rescale.
PrintChartContent wholeDataView(const GraphStore& store);

/// varnix-cli's picture command: the graphs drawn as Export picture draws
/// them after Rescale, on a display of its own that shows nothing (made at
/// the first picture, closed with this object).
class OffscreenPictures {
 public:
  OffscreenPictures();
  ~OffscreenPictures();
  OffscreenPictures(const OffscreenPictures&) = delete;
  OffscreenPictures& operator=(const OffscreenPictures&) = delete;
  /// The picture's bytes (see pictureOf).
  std::string draw(const GraphStore& store, const std::string& path, int width, int height);

 private:
  std::unique_ptr<QApplication> m_app;
};

}  // namespace varnix
