#include <clocale>
#include <cstring>
#include <exception>
#include <iostream>
#include <iterator>
#include <new>

#include "cli/cli_runner.h"
#include "cli/script.h"
#include "workspace/file_io.h"
#include "workspace/version.h"
#ifdef VARNIX_CLI_PICTURES
#include "view/print_chart.h"
#endif

namespace {

int runScript(int argc, char** argv) {
  using varnix::cli::Runner;
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::cout << "varnix-cli " << varnix::kVersion << '\n';
    return 0;
  }
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << Runner::helpText();
    return argc < 2 ? 2 : 0;
  }
  std::string text;
  // After "--" the next word is a script file, whatever it looks like.
  const bool endOfOptions = std::strcmp(argv[1], "--") == 0;
  const char* first = endOfOptions ? argv[2] : argv[1];
  if (!first) {
    std::cerr << "varnix-cli: -- needs the script file.\n";
    return 2;
  }
  if (!endOfOptions && std::strcmp(first, "-c") == 0) {
    if (argc < 3) {
      std::cerr << "varnix-cli: -c needs the commands.\n";
      return 2;
    }
    text = argv[2];
  } else if (!endOfOptions && std::strcmp(first, "-") == 0) {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    const varnix::ReadResult r = varnix::readWholeFile(first, text);
    if (!r.ok()) {
      const std::string why =
          r.status == varnix::ReadStatus::Missing ? "No such file or directory" : r.reason;
      std::cerr << "varnix-cli: cannot read " << first << ": " << why << ".\n";
      return 2;
    }
  }
  Runner runner(std::cout, std::cerr);
#ifdef VARNIX_CLI_PICTURES
  varnix::OffscreenPictures pictures;
  runner.setPictureWriter(
      [&pictures](const varnix::GraphStore& store, const std::string& path, int width, int height) {
        return pictures.draw(store, path, width, height);
      });
#endif
  return runner.run(varnix::cli::parseScript(text));
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers are read and written the same way in every locale; taking the
  // user's locale here keeps that honest.
  std::setlocale(LC_ALL, "");
  // The last resort: whatever escaped the runner is reported, never an abort.
  try {
    return runScript(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "varnix-cli: not enough memory.\n";
  } catch (const std::exception& e) {
    std::cerr << "varnix-cli: " << e.what() << ".\n";
  } catch (...) {
    std::cerr << "varnix-cli: unexpected error.\n";
  }
  return 1;
}
