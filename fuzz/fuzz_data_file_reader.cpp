// Feeds arbitrary bytes to the data file reader.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "workspace/data_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  varnix::DataFileContent c = varnix::parseDataFile(bytes);
  // Every prepared column exists and the result stays within the line.
  if (c.columns.empty() || c.result < -1 || static_cast<std::size_t>(c.result + 1) > size + 1)
    __builtin_trap();
  return 0;
}
