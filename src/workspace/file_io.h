#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "workspace/content_sink.h"

namespace varnix {

/// How reading a file ended.
enum class ReadStatus {
  Ok,          ///< every byte was read
  Missing,     ///< no file of that name (also a dangling symbolic link)
  NotRegular,  ///< a FIFO, device or socket: never opened for reading
  Failed,      ///< it exists but could not be opened or read; `reason` says why
  NoMemory,    ///< larger than the memory the system has available
  /// It went on far past the size it had when opened (16 MiB, or twice the
  /// size): a file of the system that reports no size and never ends
  /// (/proc/self/pagemap). The blocks handed over are to be dropped;
  /// `reason` says why.
  Overrun,
};

struct ReadResult {
  ReadStatus status = ReadStatus::Ok;
  /// The system's words for a failure ("Permission denied", "Is a directory").
  std::string reason;
  /// The file's size when it was opened.
  std::uint64_t size = 0;
  /// Something the user should know although the reading went well
  /// ("Restored <file> from an interrupted save").
  std::string notice;
  bool ok() const { return status == ReadStatus::Ok; }
};

/// Receives the bytes of a file in order, one block at a time, with the
/// file's size as it was when opened.
using BlockSink = std::function<void(std::string_view block, std::uint64_t fileSize)>;

/// Reads the regular file at path in blocks of at most blockSize bytes and
/// hands each to sink. Everything handed over before a failure stays with
/// the sink; the result says how the reading ended. A FIFO is never opened
/// (that would wait for a writer), and a file that goes on far past the
/// size it had when opened is stopped (Overrun), so nothing here can hang
/// or fill the memory. A save in place by another Varnix is waited for a
/// moment (then the reading fails with "another program is saving it right
/// now"), and an interrupted one is undone first (see recoverInterruptedSave);
/// where it can be neither undone nor read from its journal, the reading
/// fails and says why.
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
  /// Something the user should know whatever the result ("Restored <file>
  /// from an interrupted save").
  std::string notice;
};

/// Whether a write may replace what is at the path or must create a new file.
enum class WriteMode {
  Replace,    ///< replace the file (through symbolic links), or create it
  CreateNew,  ///< create the file; refused when anything (even a link) is there
};

/// Replaces the file at path with content without ever leaving it half
/// written. Symbolic links are followed, the link stays, except a link in a
/// sticky world-writable folder (/tmp, a shared export folder) that belongs
/// neither to the user nor to the folder's owner: that write is refused. An
/// existing file the user may not write is refused. The new bytes go to an
/// unnamed temporary file in the same folder (or one named ".varnix-*.tmp"
/// that the next write into the folder removes if its writer died), which
/// takes the old file's mode, owner, group, ACLs and extended attributes and
/// replaces it only once complete and flushed. A file with several hard
/// links, one whose attributes cannot be carried over, or one in a folder
/// that cannot take a temporary file, is overwritten in place: its old
/// content first goes to a journal (".varnix-journal-*" beside it, or the
/// user's state folder, see journalStateFolder, with the file marked so that
/// every reader finds it), flushed, which is removed
/// once the new content is verified, and from which the next Varnix process
/// that reads or writes the file restores it should this one be killed. On
/// failure the old file is untouched.
WriteResult writeFileAtomically(const std::string& path, std::string_view content,
                                WriteMode mode = WriteMode::Replace);
/// As above, with the content made as it is written (see ContentSink): the
/// bytes go to the file a block at a time. Should produce throw or a write
/// fail on the way, the old file is untouched and the result says why.
WriteResult writeFileAtomically(const std::string& path, const ContentProducer& produce,
                                WriteMode mode = WriteMode::Replace);

/// Looks for the journal of an interrupted in-place save of the file at
/// path and, when the process that wrote it is gone and the file is as that
/// save left it, puts the old content back. Returns what to tell the user
/// ("Restored <path> from an interrupted save", or that a journal no longer
/// fitting the file was set aside), or nothing when there was nothing to do.
std::string recoverInterruptedSave(const std::string& path);

/// The folder for the journals of files whose own folder takes no new file:
/// $XDG_STATE_HOME/varnix/journals, else ~/.local/state/varnix/journals.
std::string journalStateFolder();

/// When path is a symbolic link (or a chain of them) to a file that does not
/// exist: the path of that file; nothing otherwise.
std::optional<std::string> danglingLinkTarget(const std::string& path);

/// For tests: a function called at every step of a write (after each block
/// written, and in an in-place write also after each block copied, each
/// flush and the check), where a test may stop the process. Nothing by
/// default.
void setWriteStepHook(void (*hook)());

/// For tests: saves by rename use a named temporary file (".varnix-*.tmp"),
/// as on file systems that have no unnamed ones.
void useNamedTemporaryFiles(bool named);

/// Makes the folder and the folders above it that are missing, except the
/// user's home folder ($HOME): a home that is not there (not mounted, an
/// account without one) is not made anew for settings to vanish into.
/// False when the folder is not there afterwards.
bool makeFolders(const std::string& folder);

/// The system's sentence for an error number, in English ("Permission denied").
std::string systemErrorText(int err);

/// True when a file (of any kind) exists at path.
bool fileExists(const std::string& path);

/// True when the folder has an entry of that name: also a dangling link.
bool entryExists(const std::string& path);

/// The text after the last '/' of a path (the whole path if it has none).
std::string fileNameOf(const std::string& path);

}  // namespace varnix
