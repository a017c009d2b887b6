#include "workspace/data_file_reader.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include "workspace/file_io.h"
#include "workspace/number_text.h"

namespace varnix {
namespace {

bool isRangeChar(unsigned char c) {
  return c >= '.' && c <= '9';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

constexpr std::array<bool, 256> makeNumberCharTable() {
  std::array<bool, 256> t{};
  for (int c = '.'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = true;
  t['+'] = t['-'] = t['E'] = t['e'] = true;
  return t;
}
constexpr std::array<bool, 256> kNumberChar = makeNumberCharTable();

bool isNumberChar(char c) {
  return kNumberChar[static_cast<unsigned char>(c)];
}

}  // namespace

bool isDataLine(std::string_view line) {
  if (line.size() <= 2 || line[0] == '"') return false;
  return isRangeChar(static_cast<unsigned char>(line[0])) ||
         isRangeChar(static_cast<unsigned char>(line[1]));
}

bool isCommentLine(std::string_view line) {
  if (line.empty()) return false;
  if (line[0] == '"') return true;
  const bool second = line.size() > 1 && isRangeChar(static_cast<unsigned char>(line[1]));
  return !isRangeChar(static_cast<unsigned char>(line[0])) && !second;
}

void reservePoints(std::vector<Point>& v, std::size_t n) {
  v.reserve(n);
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  const std::size_t bytes = v.capacity() * sizeof(Point);
  if (bytes < 4 * kHuge) return;
  const auto start = reinterpret_cast<std::uintptr_t>(v.data());
  const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
  // The address arithmetic is the point here: whole huge pages inside the block.
  if (last > first)
    madvise(reinterpret_cast<void*>(first), last - first,  // NOLINT(performance-no-int-to-ptr)
            MADV_HUGEPAGE);
#endif
}

namespace {

/// How many positions i of bytes satisfy match (sixteen at a time where
/// SSE2 is there): `wide(p)` gives the byte mask of p[0..16) and reads at
/// most `lookAhead` bytes beyond them, `one(p)` tests p[0] alone.
template <typename Wide, typename One>
std::size_t countMatches(std::string_view bytes, std::size_t lookAhead, [[maybe_unused]] Wide wide,
                         One one) {
  std::size_t n = 0, i = 0;
  const char* p = bytes.data();
  const std::size_t size = bytes.size() > lookAhead ? bytes.size() - lookAhead : 0;
#ifdef __SSE2__
  // Byte counters (a match subtracts -1) summed into 64-bit lanes before
  // they can overflow.
  const __m128i zero = _mm_setzero_si128();
  __m128i total = zero, counts = zero;
  int rounds = 0;
  for (; i + 16 <= size; i += 16) {
    counts = _mm_sub_epi8(counts, wide(p + i));
    if (++rounds == 255) {
      total = _mm_add_epi64(total, _mm_sad_epu8(counts, zero));
      counts = zero;
      rounds = 0;
    }
  }
  total = _mm_add_epi64(total, _mm_sad_epu8(counts, zero));
  n = static_cast<std::size_t>(_mm_cvtsi128_si64(total)) +
      static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
#endif
  for (; i < size; ++i) n += one(p + i) ? 1 : 0;
  return n;
}

#ifdef __SSE2__
__m128i load16(const char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

/// How often byte c occurs in bytes.
std::size_t countByte(std::string_view bytes, char c) {
#ifdef __SSE2__
  const __m128i pattern = _mm_set1_epi8(c);
  auto wide = [&](const char* p) { return _mm_cmpeq_epi8(load16(p), pattern); };
#else
  auto wide = nullptr;
#endif
  return countMatches(bytes, 0, wide, [c](const char* p) { return *p == c; });
}

/// How often a CR is directly followed by an LF in bytes.
std::size_t countCrLf(std::string_view bytes) {
#ifdef __SSE2__
  const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
  auto wide = [&](const char* p) {
    return _mm_and_si128(_mm_cmpeq_epi8(load16(p), cr), _mm_cmpeq_epi8(load16(p + 1), lf));
  };
#else
  auto wide = nullptr;
#endif
  return countMatches(bytes, 1, wide, [](const char* p) { return p[0] == '\r' && p[1] == '\n'; });
}

}  // namespace

void forEachLine(std::string_view bytes, const std::function<void(std::string_view)>& f) {
  LineSplitter lines;
  auto each = [&](std::string_view line, std::string*) { f(line); };
  lines.feed(bytes, each);
  lines.finish(each);
}

DataFileParser::DataFileParser(std::uint64_t sizeHint) : m_sizeHint(sizeHint) {
  m_out.columns.resize(1);
}

void LineCounter::feed(std::string_view block) {
  if (block.empty()) return;
  // LF and lone CR each end a line, CR LF ends one, also split between blocks.
  const std::size_t cr = countByte(block, '\r');
  std::size_t pairs = cr > 0 ? countCrLf(block) : 0;
  if (m_lastCr && block.front() == '\n') ++pairs;
  m_ends += countByte(block, '\n') + cr - pairs;
  m_lastCr = block.back() == '\r';
}

void DataFileParser::expectLines(std::uint64_t lines) {
  m_expectedLines = static_cast<std::size_t>(
      std::min<std::uint64_t>(lines, std::numeric_limits<std::size_t>::max()));
  m_totalBytes = std::max(m_totalBytes, m_sizeHint);
  m_reserveKnown = true;
}

void DataFileParser::feed(std::string_view block) {
  if (!m_reserveKnown && !block.empty()) {
    // The lines of the first block, scaled to the whole file, size the
    // columns; a data line takes at least four bytes with its line end.
    std::size_t lines = countByte(block, '\n');
    if (lines == 0) lines = countByte(block, '\r');
    const std::uint64_t total = std::max<std::uint64_t>(m_sizeHint, block.size());
    std::uint64_t estimate = lines + 1;
    if (total > block.size())
      estimate =
          static_cast<std::uint64_t>(static_cast<double>(lines + 1) * static_cast<double>(total) /
                                     static_cast<double>(block.size()));
    m_expectedLines = static_cast<std::size_t>(std::min<std::uint64_t>(estimate, total / 4 + 2));
    m_totalBytes = total;
    m_reserveKnown = true;
  }
  m_lines.feed(block, [this](std::string_view l, std::string* owned) { takeLine(l, owned); });
}

void DataFileParser::takeLine(std::string_view text, std::string* owned) {
  // A long comment line (a whole file without line ends) is moved, not copied.
  if (owned && isCommentLine(text)) {
    m_out.comments.push_back(std::move(*owned));
    *owned = std::string();
    return;
  }
  line(text);
}

DataFileContent DataFileParser::finish() {
  m_lines.finish([this](std::string_view l, std::string* owned) { takeLine(l, owned); });
  // The columns were reserved generously; give back what a real file left.
  for (auto& c : m_out.columns)
    if (c.capacity() > c.size() + c.size() / 2) c.shrink_to_fit();
  DataFileContent out = std::move(m_out);
  m_out = DataFileContent();
  m_out.columns.resize(1);
  return out;
}

void DataFileParser::prepareColumns(std::size_t values, std::size_t lineLength) {
  m_out.columns.resize(std::min(values - 1, GraphStore::kMaxGraphs));
  // Room for as many lines of this width as the file can hold: sized from
  // the bytes that are there, never from lines times columns.
  const std::size_t room = static_cast<std::size_t>(
      std::min<std::uint64_t>(m_expectedLines, m_totalBytes / (lineLength + 1) + 1));
  for (auto& c : m_out.columns) reservePoints(c, room);
  m_columnsPrepared = true;
}

// Columns beyond the store's capacity are never prepared: such a file is
// refused when it is loaded, and a line of a million values must not cost a
// million columns first.
void DataFileParser::line(std::string_view line) {
  DataFileContent& out = m_out;
  if (isCommentLine(line)) {
    out.comments.emplace_back(line);
    return;
  }
  if (m_stop || !isDataLine(line)) return;
  if (!m_reserved) {
    reservePoints(out.columns[0], m_expectedLines);
    m_reserved = true;
  }

  // Fast path for clean lines: at most one leading space, then numbers
  // separated by blanks, trailing spaces. Each number is then exactly one
  // run of number characters, and the first blank ends field A. Anything
  // else takes the general path below.
  if (!m_singleValueMode) {
    constexpr std::size_t kMaxFast = 16;
    double v[kMaxFast];
    std::size_t m = 0;
    bool onlySpacesAfterFirstBlank = true;
    const char* p = line.data();
    const char* const end = p + line.size();
    const char* q = p + (*p == ' ' ? 1 : 0);
    bool clean = true;
    while (true) {
      const char* r = scanDataNumber(q, end, v[m]);
      if (!r || r == q) {
        clean = false;
        break;
      }
      ++m;
      q = r;
      if (q == end) break;
      if (!isBlank(*q)) {
        clean = false;
        break;
      }
      const char* sep = q++;
      while (q < end && isBlank(*q)) {
        if (*q == '\t') onlySpacesAfterFirstBlank = false;
        ++q;
      }
      if (m > 1 && *sep == '\t') onlySpacesAfterFirstBlank = false;
      if (q == end) break;
      if (m == kMaxFast) {
        clean = false;
        break;
      }
    }
    if (clean && m == 2 && onlySpacesAfterFirstBlank && q == end) {
      out.lastLineYColumns = 1;
      out.columns[0].push_back({v[0], v[1]});
      ++m_count;
      return;
    }
    if (clean && m >= 3) {
      out.lastLineYColumns = static_cast<int>(m) - 1;
      if (!m_columnsPrepared) prepareColumns(m, line.size());
      const std::size_t k = std::min(m - 1, out.columns.size());
      for (std::size_t i = 0; i < k; ++i) out.columns[i].push_back({v[0], v[i + 1]});
      return;
    }
  }

  // One pass: count the runs of number characters and find the first
  // blank at the second position or later (the end of field A).
  const std::size_t len = line.size();
  std::size_t n = 0, blank = len;
  bool inRun = false;
  for (std::size_t i = 0; i < len; ++i) {
    const char c = line[i];
    const bool num = isNumberChar(c);
    n += num && !inRun;
    inRun = num;
    if (blank == len && i >= 1 && isBlank(c)) blank = i;
  }
  out.lastLineYColumns = n > static_cast<std::size_t>(std::numeric_limits<int>::max())
                             ? std::numeric_limits<int>::max()
                             : static_cast<int>(n) - 1;
  if (blank >= len - 1) m_singleValueMode = true;

  if (n > 2) {
    if (!m_columnsPrepared) prepareColumns(n, len);
    const char* p = line.data();
    const char* const lineEnd = p + line.size();
    // The next maximal run of number characters, [first, last).
    auto nextRun = [&](const char*& first, const char*& last) {
      while (p < lineEnd && !isNumberChar(*p)) ++p;
      if (p == lineEnd) return false;
      first = p;
      while (p < lineEnd && isNumberChar(*p)) ++p;
      last = p;
      return true;
    };
    const char *first = nullptr, *last = nullptr;
    nextRun(first, last);
    double x = 0;
    const bool xConverts = scanDataNumber(first, last, x) == last;
    // Values beyond the columns the first multi-column line prepared are
    // ignored.
    for (std::size_t k = 1; k <= out.columns.size() && nextRun(first, last); ++k) {
      double y = 0;
      if (!xConverts || scanDataNumber(first, last, y) != last) {
        m_stop = true;
        break;
      }
      out.columns[k - 1].push_back({x, y});
    }
    if (m_stop) out.badLine = std::string(line.substr(0, kMaxQuotedLine + 1));
    return;
  }

  const std::string_view fieldA = line.substr(0, blank);
  std::optional<Point> p;
  if (m_singleValueMode) {
    if (auto y = parseDataValue(fieldA)) p = Point{static_cast<double>(m_count), *y};
  } else {
    auto x = parseDataValue(fieldA);
    auto y = x ? parseDataValue(line.substr(blank + 1)) : std::nullopt;
    if (x && y) p = Point{*x, *y};
  }
  if (!p) {
    m_stop = true;
    out.badLine = std::string(line.substr(0, kMaxQuotedLine + 1));
    return;
  }
  out.columns[0].push_back(*p);
  ++m_count;
}

DataFileContent parseDataFile(std::string_view bytes) {
  DataFileParser parser(bytes.size());
  LineCounter lines;
  lines.feed(bytes);
  parser.expectLines(lines.lines());
  parser.feed(bytes);
  return parser.finish();
}

std::string wrongDataMessage(const std::string& path, std::string_view line) {
  std::string m = "Wrong data in ";
  m += path;
  m += ";String \"";
  if (line.size() > kMaxQuotedLine) {
    m += line.substr(0, kMaxQuotedLine);
    m += "...";
  } else {
    m += line;
  }
  m += "\" is invalid";
  return m;
}

std::optional<DataFileContent> readDataFileContent(const std::string& path, ReadResult& read,
                                                   const MessageFn& tell) {
  try {
    // The lines are counted first, in a pass far faster than the parse, so
    // that the points get their room once: a guess that ran short would
    // hold the points twice while they move.
    // A file that grew in between still reads whole, its points then move.
    LineCounter lines;
    const ReadResult counted =
        readFileInBlocks(path, [&](std::string_view block, std::uint64_t) { lines.feed(block); });
    std::optional<DataFileParser> parser;
    read = counted;
    if (counted.status != ReadStatus::NotRegular && counted.status != ReadStatus::Overrun)
      read = readFileInBlocks(path, [&](std::string_view block, std::uint64_t size) {
        if (!parser) {
          parser.emplace(size);
          if (counted.ok()) parser->expectLines(lines.lines());
        }
        parser->feed(block);
      });
    if (read.notice.empty()) read.notice = counted.notice;
    if (read.status == ReadStatus::NotRegular) {
      tell("Cannot load " + path + ": not a regular file");
      return std::nullopt;
    }
    if (read.status == ReadStatus::NoMemory || read.status == ReadStatus::Overrun) {
      tell("Cannot load " + path + ": " + read.reason);
      return std::nullopt;
    }
    return parser ? parser->finish() : DataFileParser().finish();
  } catch (const std::bad_alloc&) {
    tell("Cannot load " + path + ": not enough memory");
    return std::nullopt;
  }
}

std::size_t loadDataFile(GraphStore& store, const std::string& path, const MessageFn& message,
                         std::size_t* failures) {
  auto tell = [&](const std::string& text) {
    if (failures) ++*failures;
    if (message) message(text);
  };
  ReadResult read;
  std::optional<DataFileContent> readContent = readDataFileContent(path, read, tell);
  if (!read.notice.empty() && message) message(read.notice);
  if (!readContent) return 0;
  DataFileContent& content = *readContent;

  // The file's own graph and one column graph per further y column of the
  // last data line.
  const std::size_t graphs =
      content.lastLineYColumns >= 2 ? static_cast<std::size_t>(content.lastLineYColumns) : 1;
  if (store.count() + graphs > GraphStore::kMaxGraphs) {
    tell("Cannot load " + path + ": it needs " + std::to_string(graphs) +
         (graphs == 1 ? " graph slot" : " graph slots") + " and only " +
         std::to_string(GraphStore::kMaxGraphs - store.count()) + " of " +
         std::to_string(GraphStore::kMaxGraphs) + " are free");
    return 0;
  }
  if (content.badLine && message) message(wrongDataMessage(path, *content.badLine));

  const std::size_t first = store.count();
  try {
    content.columns.resize(std::max(content.columns.size(), graphs));
    for (std::size_t k = 0; k < graphs; ++k) {
      Graph& g = k == 0 ? store.append(fileNameOf(path), path)
                        : store.append(std::to_string(k), std::to_string(k));
      g.series.assignSorted(std::move(content.columns[k]));
      if (k == 0) g.comments = std::move(content.comments);
      g.sourcePath = path;
      g.sourceColumn = k;
      g.savedHash = contentHash(g);
    }
  } catch (const std::bad_alloc&) {
    while (store.count() > first) store.removeGraphSlot(store.count() - 1);
    tell("Cannot load " + path + ": not enough memory");
    return 0;
  }
  store.setUndoEnabled(false);
  if (read.status == ReadStatus::Failed) tell("Could not read " + path + ": " + read.reason);
  return graphs;
}

std::vector<std::size_t> reloadGraphs(GraphStore& store, const std::vector<std::size_t>& rows,
                                      bool takeUndoCopies, const MessageFn& message,
                                      std::size_t* failures, bool completeLinesOnly,
                                      const ContentReader& importReader, FollowLimits* follow) {
  std::size_t row = 0;
  auto tell = [&](const std::string& text) {
    if (failures) ++*failures;
    if (follow)
      follow->held.push_back({row, text});
    else if (message)
      message(text);
  };
  std::vector<std::size_t> changed;
  for (std::size_t r : rows) {
    if (r >= store.count()) continue;
    row = r;
    Graph& g = store.graph(r);
    if (g.sourcePath.empty()) {
      tell("Cannot reload " + g.name + ": it was not read from a file");
      continue;
    }
    if (!fileExists(g.sourcePath)) {
      tell("Cannot reload " + g.name + ": " + g.sourcePath + " is gone");
      continue;
    }
    if (follow) {
      std::error_code ec;
      const std::uintmax_t size = std::filesystem::file_size(g.sourcePath, ec);
      if (!ec && size > follow->maxBytes) {
        tell(g.sourcePath + " is too large to follow (" + std::to_string(size >> 20) + " MiB)");
        continue;
      }
    }
    ReadResult read;
    std::optional<DataFileContent> content;
    if (g.sourceImported) {
      // The import reads the file itself: an interrupted save is undone first.
      if (const std::string notice = recoverInterruptedSave(g.sourcePath);
          !notice.empty() && message)
        message(notice);
      std::string error;
      if (importReader)
        content = importReader(g.sourcePath, g.importSettings, completeLinesOnly, error);
      if (!content) {
        tell("Cannot reload " + g.name + ": " +
             (importReader ? error : std::string("it was imported")));
        continue;
      }
    } else if (completeLinesOnly) {
      std::string text;
      read = readWholeFile(g.sourcePath, text);
      if (!read.notice.empty() && message) message(read.notice);
      if (read.status == ReadStatus::NotRegular || read.status == ReadStatus::NoMemory ||
          read.status == ReadStatus::Overrun) {
        tell("Cannot load " + g.sourcePath + ": " + read.reason);
        continue;
      }
      const std::size_t end = text.find_last_of("\r\n");
      text.resize(end == std::string::npos ? 0 : end + 1);
      content = parseDataFile(text);
    } else {
      content = readDataFileContent(g.sourcePath, read, tell);
      if (!read.notice.empty() && message) message(read.notice);
    }
    if (!content) continue;
    if (read.status == ReadStatus::Missing) {
      tell("Cannot reload " + g.name + ": " + g.sourcePath + " is gone");
      continue;
    }
    if (read.status == ReadStatus::Failed) {
      tell("Could not read " + g.sourcePath + ": " + read.reason);
      continue;
    }
    if (g.sourceColumn >= content->columns.size()) {
      tell("Cannot reload " + g.name + ": " + g.sourcePath +
           (g.sourceImported
                ? " has no graph " + std::to_string(g.sourceColumn + 1)
                : " has no column " + std::to_string(g.sourceColumn + 1) + " of y values") +
           " now");
      continue;
    }
    if (follow && content->columns[g.sourceColumn].size() < g.series.count()) {
      tell(g.sourcePath + " now holds fewer points (" +
           std::to_string(content->columns[g.sourceColumn].size()) + " instead of " +
           std::to_string(g.series.count()) + ")");
      continue;
    }
    if (content->badLine && message) message(wrongDataMessage(g.sourcePath, *content->badLine));
    if (takeUndoCopies) store.takeUndoCopy(r);
    g.series.assignSorted(std::move(content->columns[g.sourceColumn]));
    if (g.sourceColumn == 0) g.comments = std::move(content->comments);
    g.savedHash = contentHash(g);
    changed.push_back(r);
  }
  if (takeUndoCopies && !changed.empty()) store.setUndoEnabled(true);
  return changed;
}

std::optional<std::string> addFiles(GraphStore& store, const std::vector<std::string>& paths,
                                    const MessageFn& message, const ProgressFn& progress,
                                    std::size_t* failures) {
  if (paths.empty()) return std::nullopt;
  std::size_t listLength = paths.size();
  std::size_t added = 0;
  for (std::size_t p = 0; p < paths.size(); ++p) {
    const std::size_t graphs = loadDataFile(store, paths[p], message, failures);
    // A refused file leaves the chosen list; column graphs join it.
    if (graphs == 0)
      --listLength;
    else
      listLength += graphs - 1;
    added += graphs;
    reportProgress(progress, p, listLength);
  }
  if (progress) progress(0);
  return " " + std::to_string(added) + " files loaded. Press <R> to rescale";
}

}  // namespace varnix
