#include "cli/script.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "workspace/number_text.h"

namespace varnix::cli {

namespace {

/// In $"...", the escape at line[i] (a backslash) of a control character:
/// appends it to word, moves i to its last character and says true; false
/// for any other backslash, which stands for itself.
bool controlEscape(std::string_view line, std::size_t& i, std::string& word) {
  const char e = line[i + 1];
  if (e == 't' || e == 'n' || e == 'r') {
    word += e == 't' ? '\t' : e == 'n' ? '\n' : '\r';
    ++i;
    return true;
  }
  auto hex = [](char h) {
    return h >= '0' && h <= '9'   ? h - '0'
           : h >= 'a' && h <= 'f' ? h - 'a' + 10
           : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                  : -1;
  };
  if (e != 'x' || i + 3 >= line.size() || hex(line[i + 2]) < 0 || hex(line[i + 3]) < 0)
    return false;
  word += static_cast<char>(hex(line[i + 2]) * 16 + hex(line[i + 3]));
  i += 3;
  return true;
}

}  // namespace

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
    // In $"...", \t, \n, \r and \xHH stand for control characters too.
    bool inWord = false, inQuotes = false, escapes = false;
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
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (inQuotes) {
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
          word += line[++i];
        else if (c == '\\' && escapes && i + 1 < line.size() && controlEscape(line, i, word))
          continue;
        else if (c == '"')
          inQuotes = false;
        else
          word += c;
      } else if (c == '"' || (c == '$' && i + 1 < line.size() && line[i + 1] == '"')) {
        escapes = c == '$';
        if (escapes) ++i;
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

namespace {

bool isControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

}  // namespace

std::optional<std::string> quoteScriptWord(std::string_view text) {
  // A TAB (file names from some tools hold one) is written as \t in $"...";
  // a line break or another control character is not written at all.
  bool tab = false;
  for (char c : text) {
    if (c == '\t')
      tab = true;
    else if (isControl(c))
      return std::nullopt;
  }
  std::string out;
  out.reserve(text.size() + 3);
  if (tab) out += '$';
  out += '"';
  for (char c : text) {
    if (c == '\t') {
      out += "\\t";
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

ScriptLine::ScriptLine(std::string command) : m_command(std::move(command)), m_line(m_command) {}

ScriptLine& ScriptLine::arg(std::string_view text) {
  const std::optional<std::string> quoted = quoteScriptWord(text);
  if (!quoted) {
    m_recordable = false;
    return *this;
  }
  m_line += ' ';
  m_line += *quoted;
  return *this;
}

ScriptLine& ScriptLine::path(std::string_view path) {
  if (path.empty()) return arg(path);
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(std::string(path), ec);
  return arg(ec ? std::string(path) : absolute.string());
}

ScriptLine& ScriptLine::number(double value) {
  if (!std::isfinite(value)) {
    m_recordable = false;
    return *this;
  }
  return word(formatShortest(value));
}

ScriptLine& ScriptLine::count(std::size_t value) {
  return word(std::to_string(value));
}

ScriptLine& ScriptLine::word(std::string_view word) {
  // A bare word needs no quotes when the parser takes it back as it is.
  const bool bare = !word.empty() && word.find_first_of(" \t;\"") == std::string_view::npos &&
                    std::none_of(word.begin(), word.end(), isControl);
  if (!bare) return arg(word);
  m_line += ' ';
  m_line += word;
  return *this;
}

std::string ScriptLine::text() const {
  if (m_recordable) return m_line;
  return "# " + m_command +
         " was not recorded: a name or text in it holds a line break or another control "
         "character";
}

}  // namespace varnix::cli
