#include "import/table_stream.h"

#include <algorithm>

#include "workspace/data_file_reader.h"

namespace varnix {

namespace {

/// Thrown by a block sink to end a reading early.
struct StopReading {};

/// The largest first part read for the sample: a table whose first lines
/// take more is read whole.
constexpr std::size_t kMaxHead = std::size_t{16} << 20;

}  // namespace

std::optional<ImportResult> streamTable(const BlockReader& read, const std::string& fileName,
                                        bool completeLinesOnly, const ImportSettings& settings,
                                        std::string& notice) {
  notice.clear();
  const std::size_t notData =
      std::max(settings.skipLines.value_or(0), settings.headerRow.value_or(0));
  // The first reading counts the lines (the points get their room once)
  // and hands the first part, up to a line end, to the table reader.
  std::string head;
  std::string_view headText;
  std::string encoding;
  std::optional<TableStream> stream;
  LineCounter lines;
  std::uint64_t headLines = 0;
  try {
    const ReadResult first = read([&](std::string_view block, std::uint64_t) {
      lines.feed(block);
      if (stream) return;
      head.append(block);
      std::size_t sampleEnd = 0;
      if (lines.lines() > notData + kTableSampleLines) {
        if (!tableTextStart(head, headText, encoding)) throw StopReading{};
        sampleEnd = tableSampleEnd(headText, settings);
      }
      if (sampleEnd == 0) {
        if (head.size() > kMaxHead) throw StopReading{};
        return;
      }
      // The first part ends with the sample: the rows after it take the
      // quick way.
      head.resize(head.size() - headText.size() + sampleEnd);
      tableTextStart(head, headText, encoding);
      LineCounter headCount;
      headCount.feed(head);
      headLines = headCount.lines() - 1;
      stream.emplace(headText, fileName, settings);
      if (!stream->open()) throw StopReading{};
    });
    notice = first.notice;
    if (!first.ok() || !stream) return std::nullopt;
  } catch (const StopReading&) {
    return std::nullopt;
  }
  stream->expectRows(lines.lines() - headLines);

  // The second reading: the first part again (it must not have changed),
  // then the rest line by line; a line may straddle blocks.
  std::size_t matched = 0;
  std::string carry;
  try {
    const ReadResult second = read([&](std::string_view block, std::uint64_t) {
      if (matched < head.size()) {
        const std::size_t n = std::min(block.size(), head.size() - matched);
        if (block.substr(0, n) != std::string_view(head).substr(matched, n)) throw StopReading{};
        matched += n;
        block.remove_prefix(n);
      }
      if (!carry.empty()) {
        const std::size_t end = block.find_first_of("\r\n");
        if (end == std::string_view::npos) {
          carry.append(block);
          return;
        }
        carry.append(block.substr(0, end + 1));
        if (!stream->feed(carry)) throw StopReading{};
        carry.clear();
        block.remove_prefix(end + 1);
      }
      const std::string_view whole = completeLines(block);
      if (!whole.empty() && !stream->feed(whole)) throw StopReading{};
      carry.assign(block.substr(whole.size()));
    });
    if (!second.ok() || matched < head.size()) return std::nullopt;
  } catch (const StopReading&) {
    return std::nullopt;
  }
  if (!completeLinesOnly && !carry.empty() && !stream->feed(carry)) return std::nullopt;
  std::optional<ImportResult> r = stream->finish();
  if (r) describeReading(*r, encoding, settings);
  return r;
}

}  // namespace varnix
