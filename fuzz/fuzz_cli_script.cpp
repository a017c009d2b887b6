// varnix-cli scripts: parsed, every word quoted back and parsed again, and run
// on a workspace in a folder of its own.
// Words with a '/' and the Slicer (a file per window) are left out, so a
// run writes only into that folder.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "cli/cli_runner.h"
#include "cli/script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool inFolder = [] {
    static char name[] = "/tmp/varnix-fuzz-cli-XXXXXX";
    if (!::mkdtemp(name) || ::chdir(name) != 0) std::abort();
    std::atexit([] { std::filesystem::remove_all(name); });
    return true;
  }();
  (void)inFolder;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto script = varnix::cli::parseScript(text);
  // Every word the parser gives, quoted as the session history quotes it,
  // reads back as exactly that word.
  for (const auto& c : script)
    for (const std::string& w : c.words)
      if (const auto quoted = varnix::cli::quoteScriptWord(w)) {
        const auto back = varnix::cli::parseScript("rename " + *quoted);
        if (back.size() != 1 || back[0].words.size() != 2 || back[0].words[1] != w)
          __builtin_trap();
      }
  for (const auto& c : script) {
    if (!c.words.empty() && c.words[0] == "slice") return 0;
    for (const std::string& w : c.words)
      if (w.find('/') != std::string::npos || w.size() > 64) return 0;
  }
  std::ostringstream out, err;
  varnix::cli::Runner runner(out, err);
  const int status = runner.run(script);
  if (status != 0 && status != 1) __builtin_trap();
  return 0;
}
