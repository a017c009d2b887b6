// Random graphs written and read back: every finite value comes back as its
// 7-digit text says, comments come back as written.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/number_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  varnix::GraphStore store;
  varnix::Graph& g = store.append("f.dat", "f.dat");
  // First byte: comment length; then the comment; then pairs of doubles.
  std::size_t commentLength = data[0] % 32;
  std::size_t at = 1;
  if (commentLength > size - at) commentLength = size - at;
  std::string comment(reinterpret_cast<const char*>(data) + at, commentLength);
  at += commentLength;
  for (char& c : comment)
    if (c == '\r' || c == '\n' || c == '\x1A') c = ' ';
  // A comment the reader takes back as one: the writer puts a quote in front.
  if (!comment.empty()) g.comments.push_back(comment);
  std::vector<varnix::Point> points;
  while (size - at >= 16) {
    double x, y;
    std::memcpy(&x, data + at, 8);
    std::memcpy(&y, data + at + 8, 8);
    at += 16;
    if (!std::isfinite(x) || !std::isfinite(y)) continue;
    points.push_back({x, y});
  }
  g.series.assignSorted(std::vector<varnix::Point>(points));
  const std::string text = varnix::dataFileText(g);
  const varnix::DataFileContent back = varnix::parseDataFile(text);
  if (back.badLine) __builtin_trap();
  if (comment.empty() ? !back.comments.empty()
                      : back.comments.size() != 1 ||
                            back.comments[0] != (comment[0] == '"' ? comment : '"' + comment))
    __builtin_trap();
  const auto& written = g.series.points();
  if (back.columns[0].size() != written.size()) __builtin_trap();
  for (std::size_t i = 0; i < written.size(); ++i) {
    const varnix::Point p = back.columns[0][i];
    // Read back, the value writes as the same text.
    if (varnix::formatDataNumber(p.x) != varnix::formatDataNumber(written[i].x) ||
        varnix::formatDataNumber(p.y) != varnix::formatDataNumber(written[i].y))
      __builtin_trap();
  }
  return 0;
}
