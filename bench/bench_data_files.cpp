// Reader and writer throughput beside bare std::from_chars / std::to_chars
// loops over the same bytes and values (pairs named .../varnix and
// .../reference; scripts/bench.sh prints the ratios).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "import/import_result.h"
#include "import/importer.h"
#include "workspace/data_file_reader.h"
#include "workspace/data_file_writer.h"
#include "workspace/number_text.h"

namespace {

constexpr int kLines = 2000000;

std::string makeFile(int columns) {
  std::string text;
  text.reserve(static_cast<std::size_t>(kLines) * 12 * columns);
  char buf[64];
  for (int i = 0; i < kLines; ++i) {
    const double x = 1.2 + 2.0 * i / kLines;
    for (int c = 0; c < columns; ++c) {
      const double v = c == 0 ? x : 1000.0 * c + (i % 977) * 0.123457;
      auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
      text.append(buf, r.ptr);
      text += c + 1 < columns ? ' ' : '\n';
    }
  }
  return text;
}

const std::string& file(int columns) {
  static std::string two = makeFile(2), four = makeFile(4);
  return columns == 2 ? two : four;
}

void Read_varnix(benchmark::State& state) {
  const std::string& text = file(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    varnix::DataFileContent c = varnix::parseDataFile(text);
    benchmark::DoNotOptimize(c.columns.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The bare loop: split at blanks and newlines, std::from_chars each field.
void Read_reference(benchmark::State& state) {
  const std::string& text = file(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    double sum = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
      double v;
      auto r = std::from_chars(p, end, v);
      sum += v;
      p = r.ptr + 1;
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

/// The two-column file as a German-locale export: semicolons between the
/// fields, decimal commas.
const std::string& semicolonFile() {
  static std::string text = [] {
    std::string t = file(2);
    for (char& c : t) c = c == '.' ? ',' : c == ' ' ? ';' : c;
    return t;
  }();
  return text;
}

// Import of the two-column file (argument 0) and of its semicolon and
// decimal-comma copy (argument 1), beside the exact reader on the
// two-column file.
void Import_varnix(benchmark::State& state) {
  const std::string& text = state.range(0) == 0 ? file(2) : semicolonFile();
  for (auto _ : state) {
    varnix::ImportResult r = varnix::importBytes(text, "bench.csv");
    benchmark::DoNotOptimize(r.graphs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Import_reference(benchmark::State& state) {
  const std::string& text = file(2);
  for (auto _ : state) {
    varnix::DataFileContent c = varnix::parseDataFile(text);
    benchmark::DoNotOptimize(c.columns.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

/// A folder of its own, removed when the program ends.
const std::string& benchFolder() {
  struct Folder {
    std::string path;
    Folder() {
      char name[] = "/tmp/varnix-bench-XXXXXX";
      if (const char* made = mkdtemp(name)) path = made;
    }
    ~Folder() {
      std::error_code ec;
      if (!path.empty()) std::filesystem::remove_all(path, ec);
    }
  };
  static const Folder folder;
  return folder.path;
}

/// The two-column file on disk, as it is or after a 30-line header.
const std::string& diskFile(bool header) {
  const std::string& dir = benchFolder();
  static std::string plain, headed;
  std::string& path = header ? headed : plain;
  if (path.empty()) {
    path = dir + (header ? "/headed.dat" : "/plain.dat");
    std::string text;
    if (header)
      for (int i = 0; i < 30; ++i) text += "\"instrument line " + std::to_string(i) + "\"\r\n";
    text += file(2);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
  return path;
}

std::size_t loadPoints(const std::string& path) {
  varnix::ReadResult read;
  const auto c = varnix::readDataFileContent(path, read, [](const std::string&) {});
  return c ? c->columns[0].size() : 0;
}

// Loading the file from disk after a 30-line header, beside the same file
// without it.
void LoadHeader_varnix(benchmark::State& state) {
  const std::string& path = diskFile(true);
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
}

void LoadHeader_reference(benchmark::State& state) {
  const std::string& path = diskFile(false);
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
}

// Loading the file from disk beside reading it in 1 MiB blocks and
// converting every field with std::from_chars.
void LoadFile_varnix(benchmark::State& state) {
  const std::string& path = diskFile(false);
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
}

void LoadFile_reference(benchmark::State& state) {
  const std::string& path = diskFile(false);
  std::vector<char> block(std::size_t{1} << 20);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) break;
    std::vector<varnix::Point> pts;
    std::string carry;
    double v[2];
    int k = 0;
    std::size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), f)) > 0) {
      carry.append(block.data(), got);
      const char* p = carry.data();
      const char* end = p + carry.size();
      const char* last = p + carry.find_last_of('\n') + 1;
      while (p < last) {
        auto r = std::from_chars(p, end, v[k]);
        p = r.ptr + 1;
        if (++k == 2) {
          pts.push_back({v[0], v[1]});
          k = 0;
        }
      }
      carry.erase(0, static_cast<std::size_t>(last - carry.data()));
    }
    std::fclose(f);
    benchmark::DoNotOptimize(pts.data());
  }
}

// Import of the two-column file from disk (read as it arrives), beside the
// exact reader loading the same file.
void ImportFile_varnix(benchmark::State& state) {
  const std::string& path = diskFile(false);
  for (auto _ : state) {
    const varnix::ImportResult r = varnix::importFile(path, false);
    benchmark::DoNotOptimize(r.graphs.data());
  }
}

void ImportFile_reference(benchmark::State& state) {
  const std::string& path = diskFile(false);
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
}

/// A two-column file of n lines on disk (made once per n).
std::string scaleFile(std::int64_t n) {
  const std::string path = benchFolder() + "/scale-" + std::to_string(n) + ".dat";
  if (!std::filesystem::exists(path)) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return path;
    std::string text;
    char buf[64];
    for (std::int64_t i = 0; i < n; ++i) {
      auto r = std::to_chars(buf, buf + sizeof buf, 1.2 + 2.0 * static_cast<double>(i) / 1e7,
                             std::chars_format::general, 9);
      text.append(buf, r.ptr);
      text += '\t';
      r = std::to_chars(buf, buf + sizeof buf, 1000.0 + static_cast<double>(i % 977) * 0.123457,
                        std::chars_format::general, 7);
      text.append(buf, r.ptr);
      text += '\n';
      if (text.size() > (1 << 20)) {
        std::fwrite(text.data(), 1, text.size(), f);
        text.clear();
      }
    }
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  return path;
}

// Scale: import of 10^3 to 10^7 points (points per second should not fall
// with the size), beside the exact reader on the same files.
void ImportScale_varnix(benchmark::State& state) {
  const std::string path = scaleFile(state.range(0));
  for (auto _ : state) {
    const varnix::ImportResult r = varnix::importFile(path, false);
    benchmark::DoNotOptimize(r.graphs.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void ImportScale_reference(benchmark::State& state) {
  const std::string path = scaleFile(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

varnix::Graph makeGraph() {
  varnix::Graph g;
  std::vector<varnix::Point> pts;
  pts.reserve(kLines);
  for (int i = 0; i < kLines; ++i)
    pts.push_back({1.2 + 2.0 * i / kLines, 1000.0 + (i % 977) * 0.123457});
  g.series.assignSorted(std::move(pts));
  return g;
}

void Write_varnix(benchmark::State& state) {
  static varnix::Graph g = makeGraph();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = varnix::dataFileText(g);
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// The bare loop: std::to_chars with 7 significant digits per value.
void Write_reference(benchmark::State& state) {
  static varnix::Graph g = makeGraph();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text;
    text.reserve(g.series.count() * 24);
    char buf[64];
    for (const varnix::Point& p : g.series.points()) {
      auto r = std::to_chars(buf, buf + sizeof buf, p.x, std::chars_format::general, 7);
      text.append(buf, r.ptr);
      text += ' ';
      r = std::to_chars(buf, buf + sizeof buf, p.y, std::chars_format::general, 7);
      text.append(buf, r.ptr);
      text += "\r\n";
    }
    bytes += text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

// Save of a graph of 2M points (the file written whole, then put in place),
// beside loading the file it wrote.
void Save_varnix(benchmark::State& state) {
  static const varnix::Graph g = makeGraph();
  const std::string path = benchFolder() + "/saved.dat";
  for (auto _ : state) benchmark::DoNotOptimize(varnix::writeDataFile(path, g).ok);
}

void Save_reference(benchmark::State& state) {
  static const varnix::Graph g = makeGraph();
  const std::string path = benchFolder() + "/saved.dat";
  if (!varnix::writeDataFile(path, g).ok) return;
  for (auto _ : state) benchmark::DoNotOptimize(loadPoints(path));
}

}  // namespace

BENCHMARK(Read_varnix)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(Read_reference)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(Write_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(Import_varnix)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Import_reference)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Write_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportFile_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportFile_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(ImportScale_varnix)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(ImportScale_reference)
    ->RangeMultiplier(10)
    ->Range(1000, 10000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(LoadHeader_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadHeader_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFile_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadFile_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(Save_varnix)->Unit(benchmark::kMillisecond);
BENCHMARK(Save_reference)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
