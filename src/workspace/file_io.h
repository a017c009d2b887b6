#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace varnix {

/// How reading a file ended.
enum class ReadStatus {
  Ok,          ///< every byte was read
  Missing,     ///< no file of that name (also a dangling symbolic link)
  NotRegular,  ///< a FIFO, device or socket: never opened for reading
  Failed,      ///< it exists but could not be opened or read; `reason` says why
  NoMemory,    ///< larger than the memory the system has available
};

struct ReadResult {
  ReadStatus status = ReadStatus::Ok;
  /// The system's words for a failure ("Permission denied", "Is a directory").
  std::string reason;
  /// The file's size when it was opened.
  std::uint64_t size = 0;
  bool ok() const { return status == ReadStatus::Ok; }
};

/// Receives the bytes of a file in order, one block at a time, with the
/// file's size as it was when opened.
using BlockSink = std::function<void(std::string_view block, std::uint64_t fileSize)>;

/// Reads the regular file at path in blocks of at most blockSize bytes and
/// hands each to sink. Everything handed over before a failure stays with
/// the sink; the result says how the reading ended. A FIFO is never opened
/// (that would wait for a writer), so nothing here can hang.
ReadResult readFileInBlocks(const std::string& path, const BlockSink& sink,
                            std::size_t blockSize = std::size_t{1} << 20);

/// The whole content of a regular file, or nullopt when it is missing,
/// not a regular file, or cannot be read (see readFileInBlocks).
std::optional<std::string> readWholeFile(const std::string& path);
/// As above, also saying why a file could not be read.
ReadResult readWholeFile(const std::string& path, std::string& content);

/// Bytes of memory the system can still give this process without swapping
/// (an estimate; the largest value when it cannot be known).
std::uint64_t availableMemory();

/// Result of a write: ok, or the system's error number and a sentence for the user.
struct WriteResult {
  bool ok = true;
  int errorNumber = 0;
  std::string message;
};

/// Replaces the file at path with content without ever leaving it half
/// written. A symbolic link is followed and the file it names replaced (the
/// link stays). An existing file the user may not write is refused. The new
/// bytes go to an unnamed temporary file in the same folder (or one named
/// ".varnix-*.tmp" that the next write into the folder removes if its writer
/// died), which takes the old file's mode, owner and group and replaces it
/// only once complete and flushed. A file with several hard links, or one in
/// a folder that cannot take a temporary file, is overwritten in place after
/// a complete copy of its old content was made, which is written back should
/// the write fail. On failure the old file is untouched.
WriteResult writeFileAtomically(const std::string& path, std::string_view content);

/// The system's sentence for an error number, in English ("Permission denied").
std::string systemErrorText(int err);

/// True when a file (of any kind) exists at path.
bool fileExists(const std::string& path);

/// The text after the last '/' of a path (the whole path if it has none).
std::string fileNameOf(const std::string& path);

}  // namespace varnix
