// The whole load path: bytes in a file read as `load` reads it (blocks,
// sizes, reservations, capacity) into a store that already holds graphs.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "workspace/data_file_reader.h"

namespace {

std::string tempFile() {
  static char name[] = "/tmp/varnix-fuzz-load-XXXXXX";
  const int fd = ::mkstemp(name);
  if (fd < 0) std::abort();
  ::close(fd);
  std::atexit([] { ::unlink(name); });
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = tempFile();
  if (size == 0) return 0;
  // The first byte fills the store part way, so the capacity rule is met.
  const std::size_t already = data[0] % 8 == 0 ? 295 + data[0] % 7 : data[0] % 4;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);

  varnix::GraphStore store;
  for (std::size_t i = 0; i < already && i < varnix::GraphStore::kMaxGraphs; ++i)
    store.append("g", "g");
  const std::size_t before = store.count();
  std::size_t messages = 0, failures = 0;
  const std::size_t added = varnix::loadDataFile(
      store, path, [&](const std::string&) { ++messages; }, &failures);
  if (store.count() != before + added || store.count() > varnix::GraphStore::kMaxGraphs)
    __builtin_trap();
  if (added == 0 && failures == 0) __builtin_trap();  // a refusal is always told
  const varnix::DataFileContent c =
      varnix::parseDataFile({reinterpret_cast<const char*>(data) + 1, size - 1});
  if (added > 0 && store.series(before).count() != c.columns[0].size()) __builtin_trap();
  for (std::size_t i = before; i < store.count(); ++i) {
    const auto& pts = store.series(i).points();
    for (std::size_t j = 1; j < pts.size(); ++j)
      if (pts[j].x < pts[j - 1].x) __builtin_trap();  // ascending x after the load
  }
  return 0;
}
