#include <clocale>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "cli/cli_runner.h"
#include "cli/script.h"

int main(int argc, char** argv) {
  using varnix::cli::Runner;
  // Numbers are read and written the same way in every locale; taking the
  // user's locale here keeps that honest.
  std::setlocale(LC_ALL, "");
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << Runner::helpText();
    return argc < 2 ? 2 : 0;
  }
  std::string text;
  if (std::strcmp(argv[1], "-c") == 0) {
    if (argc < 3) {
      std::cerr << "varnix-cli: -c needs the commands.\n";
      return 2;
    }
    text = argv[2];
  } else if (std::strcmp(argv[1], "-") == 0) {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
      std::cerr << "varnix-cli: cannot read " << argv[1] << ".\n";
      return 2;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  Runner runner(std::cout, std::cerr);
  return runner.run(varnix::cli::parseScript(text));
}
