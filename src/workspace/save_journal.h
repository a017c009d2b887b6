#pragma once

// The rollback journal of an in-place save: before a file is overwritten
// where it stands, its old content goes to a journal file with a header
// (target, old and new length and hash, writer), flushed to disk. The journal
// is removed once the new content is verified in place; a journal whose
// writer is gone means the save was interrupted, and the next Varnix process
// that reads or writes the file puts the old content back.
// POSIX only; used by file_io.cpp.

#if !defined(_WIN32)

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "workspace/safe_path.h"

namespace varnix {

/// A 64-bit hash of a byte stream that does not depend on how the stream is
/// cut into blocks (eight bytes at a time, little-endian, folded).
class StreamHash {
 public:
  /// Takes the next bytes of the stream.
  void add(std::string_view bytes);
  /// The hash of every byte taken so far.
  std::uint64_t value() const;

 private:
  void mix(const unsigned char* p);
  std::uint64_t m_hash = 1469598103934665603ULL;
  std::uint64_t m_length = 0;
  unsigned char m_buffer[8] = {};
  std::size_t m_pending = 0;
};

/// What the look for an interrupted save of a file found.
struct JournalCheck {
  /// For the user: "Restored <file> from an interrupted save", or why the old
  /// content had to be read from the journal; empty when nothing was done.
  std::string notice;
  /// Another process is rewriting the file in place right now.
  bool busy = false;
  /// When the file could not be put back (no permission): the journal, whose
  /// `length` bytes from `offset` are the file's complete old content.
  Fd oldContent;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

/// Looks for the journal of an interrupted in-place save of the regular file
/// `t` (whose status is `st`) and, when its writer is gone, puts the old
/// content back, verifies it and removes the journal. `shown` is the file's
/// name in messages.
JournalCheck recoverInterruptedSave(const PathTarget& t, const struct stat& st,
                                    const std::string& shown);

/// The prefix of a journal's name in its file's folder.
constexpr const char* kJournalPrefix = ".varnix-journal-";

/// Removes the journal `name` in the folder when its writer is gone and no
/// file of the folder is the one it was made for any more (replaced or
/// removed since): nothing would ever find it.
void removeJournalIfOrphaned(int folder, const std::string& name);

/// The journal of one in-place save.
class SaveJournal {
 public:
  /// Copies the old content of targetFd (the file `t`, status `st`) into a
  /// new journal in the file's folder or, when that folder takes no new
  /// file, in the user's state folder, and flushes it to disk. Returns 0 or
  /// an errno value with `why` for the user. Until recordNewContent, the
  /// new content's length is unknown: a file found no shorter than its old
  /// content is taken for one being written over.
  int create(const PathTarget& t, const struct stat& st, int targetFd, std::string& why);
  /// Every byte of the new content is in the file (not yet cut to its
  /// length): notes its length and hash in the journal and flushes it, so
  /// that the file may be shortened and, complete, is kept. Returns 0 or an
  /// errno value.
  int recordNewContent(std::uint64_t length, std::uint64_t hash);
  /// The new content is in place and verified: removes the journal.
  void remove();
  /// Writes the old content back into targetFd, flushes and verifies it;
  /// true when it is all there again (the journal is then removed).
  bool restore(int targetFd);
  std::uint64_t oldLength() const { return m_length; }
  /// Where the journal is, for messages.
  const std::string& path() const { return m_path; }

 private:
  Fd m_fd;
  Fd m_folder;
  std::string m_name;
  std::string m_path;
  std::uint64_t m_offset = 0;
  std::uint64_t m_length = 0;
  std::uint64_t m_hash = 0;
  std::string m_header;
};

/// Writes all of data at offset; false with err set when the system refuses.
bool writeAllAt(int fd, std::string_view data, off_t offset, int& err);

/// Whether the file behind fd holds exactly `length` bytes whose hash
/// (StreamHash) is `hash`.
bool fileHolds(int fd, std::uint64_t length, std::uint64_t hash);

/// Calls the hook set by setWriteStepHook, if any.
void writeStep();

}  // namespace varnix

#endif
