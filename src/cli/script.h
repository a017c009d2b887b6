#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnix::cli {

/// One command of a script: its words, quotes removed.
struct ScriptCommand {
  std::vector<std::string> words;
  int line = 0;
  /// A mistake in the line itself ("unbalanced quote"); the run stops here.
  std::string error;
};

/// Splits a script into commands: one per line or several separated by ";",
/// "#" at the start of a line makes a comment, words are separated by blanks
/// and a double-quoted word may hold blanks and ";" (and may be empty).
/// Inside double quotes \" stands for a quote and \\ for a backslash; any
/// other backslash is itself (C:\data stays as written). A quote left open
/// at the end of a line gives a command carrying the error.
std::vector<ScriptCommand> parseScript(std::string_view text);

/// The text as one script word: in double quotes, with " and \ escaped, so
/// that parseScript gives back exactly the text. nullopt for a text holding a
/// line break or another control character, which no script line can carry.
std::optional<std::string> quoteScriptWord(std::string_view text);

/// One line of a script built from a command and its arguments, every text
/// argument through quoteScriptWord. An argument that no line can carry makes
/// the line not recordable; text() is then a comment saying why.
class ScriptLine {
 public:
  explicit ScriptLine(std::string command);
  /// A text argument (a name, a formula, a dialog field).
  ScriptLine& arg(std::string_view text);
  /// A file or folder argument, made absolute against the working folder so
  /// that the line means the same file wherever the script is run (an empty
  /// text stays empty).
  ScriptLine& path(std::string_view path);
  /// A number in its shortest exact form; a non-finite one cannot be recorded.
  ScriptLine& number(double value);
  /// A whole number (an order, a slot).
  ScriptLine& count(std::size_t value);
  /// A word the program chose itself (an operator, "none").
  ScriptLine& word(std::string_view word);

  bool recordable() const { return m_recordable; }
  const std::string& command() const { return m_command; }
  /// The script line, or the comment line that stands for it.
  std::string text() const;

 private:
  std::string m_command;
  std::string m_line;
  bool m_recordable = true;
};

}  // namespace varnix::cli
