#pragma once

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
/// and a double-quoted word may hold blanks and ";" (and may be empty). A
/// quote left open at the end of a line gives a command carrying the error.
std::vector<ScriptCommand> parseScript(std::string_view text);

}  // namespace varnix::cli
