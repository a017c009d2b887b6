#include "cli/script.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "workspace/number_text.h"

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
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (inQuotes) {
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
          word += line[++i];
        else if (c == '"')
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

namespace {

bool isControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

}  // namespace

std::optional<std::string> quoteScriptWord(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (char c : text) {
    if (isControl(c)) return std::nullopt;
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
