// Feeds arbitrary bytes to the settings reader as the content of Varnix.ini;
// reading must never crash, and a value it reads must be what it writes back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "workspace/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = "/tmp/varnix-fuzz-" + std::to_string(getpid()) + ".ini";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  varnix::SettingsFile ini(path);
  const varnix::ColourSettings c = varnix::readColours(ini);
  (void)ini.readString("Directories", "Last", "");
  varnix::writeColours(ini, c);
  if (!(varnix::readColours(ini) == c)) __builtin_trap();
  return 0;
}
