#include "cli/script.h"

namespace varnix::cli {

std::vector<ScriptCommand> parseScript(std::string_view text) {
  std::vector<ScriptCommand> out;
  int lineNo = 0;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') {
      if (end == text.size()) break;
      continue;
    }
    ScriptCommand cmd;
    cmd.line = lineNo;
    std::string word;
    bool inWord = false, inQuotes = false;
    auto finishWord = [&] {
      if (inWord) cmd.words.push_back(word);
      word.clear();
      inWord = false;
    };
    auto finishCommand = [&] {
      finishWord();
      if (!cmd.words.empty()) out.push_back(cmd);
      cmd.words.clear();
    };
    for (char c : line) {
      if (inQuotes) {
        if (c == '"')
          inQuotes = false;
        else
          word += c;
      } else if (c == '"') {
        inQuotes = true;
        inWord = true;
      } else if (c == ' ' || c == '\t') {
        finishWord();
      } else if (c == ';') {
        finishCommand();
      } else {
        word += c;
        inWord = true;
      }
    }
    if (inQuotes) {
      cmd.words.clear();
      cmd.error = "unbalanced quote";
      out.push_back(cmd);
      break;
    }
    finishCommand();
    if (end == text.size()) break;
  }
  return out;
}

}  // namespace varnix::cli
