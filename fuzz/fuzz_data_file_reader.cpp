// Feeds arbitrary bytes to the data file reader, whole and in blocks.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "workspace/data_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte sets the block size of the second reading.
  const std::size_t block = data[0] % 16 + 1;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  varnix::DataFileContent c = varnix::parseDataFile(bytes);
  // Every prepared column exists and the result stays within the line.
  if (c.columns.empty() || c.lastLineYColumns < -1 ||
      static_cast<std::size_t>(c.lastLineYColumns + 1) > size + 1)
    __builtin_trap();
  varnix::DataFileParser parser(bytes.size());
  for (std::size_t at = 0; at < bytes.size(); at += block) parser.feed(bytes.substr(at, block));
  const varnix::DataFileContent b = parser.finish();
  if (b.lastLineYColumns != c.lastLineYColumns || b.badLine != c.badLine ||
      b.comments != c.comments || b.columns.size() != c.columns.size())
    __builtin_trap();
  for (std::size_t k = 0; k < c.columns.size(); ++k) {
    if (b.columns[k].size() != c.columns[k].size()) __builtin_trap();
    if (!c.columns[k].empty() && std::memcmp(b.columns[k].data(), c.columns[k].data(),
                                             c.columns[k].size() * sizeof(varnix::Point)) != 0)
      __builtin_trap();
  }
  return 0;
}
