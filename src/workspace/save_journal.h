#pragma once

// The rollback journal of an in-place save: before a file is overwritten
// where it stands, its old content goes to a journal file with a header
// (target's identity, old length and hash, writer), flushed to disk; before
// each block of new content is written, a record of where it ends and its
// hash. The journal is removed once the new content is verified in place; a
// journal whose writer is gone means the save was interrupted, and the next
// Varnix process that reads or writes the file, whoever runs it, puts the
// old content back when the file is exactly as the save left it.
// POSIX only; used by file_io.cpp.

#if !defined(_WIN32)

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

/// Takes the flock lock `operation` (LOCK_SH or LOCK_EX) on fd, waiting a
/// short while (about two seconds) for another holder to let go; false when
/// it still holds it. A file system without locks grants every lock.
bool lockWithin(int fd, int operation);

/// The extended attribute that marks a file being saved in place whose
/// journal is not beside it: its value is the journal's path.
constexpr const char* kJournalMark = "user.varnix.journal";

/// What the look for an interrupted save of a file found.
struct JournalCheck {
  /// For the user: "Restored <file> from an interrupted save", that a
  /// journal no longer fits the file and was set aside, or why the old
  /// content had to be read from the journal; empty when nothing was done.
  std::string notice;
  /// The file may be half written and can be neither restored nor read
  /// from its journal: why, for the user. The file must not be read.
  std::string refusal;
  /// Another process is rewriting the file in place right now.
  bool busy = false;
  /// When the file could not be put back (no permission): the journal, whose
  /// `length` bytes from `offset` are the file's complete old content.
  Fd oldContent;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

/// Looks for the journal of an interrupted in-place save of the regular
/// file open at fd (beside it in `folder`, where its mark points, or in
/// this user's own journal folders) and acts on it. The caller holds a lock
/// on fd (see lockWithin): shared, which is made exclusive here when the
/// file or a journal must change, or exclusive (`exclusive`). A journal is
/// applied only when its owner may write the file, it was made for this
/// very file (device, inode, birth, owner, link count) and the file is in a
/// state the interrupted save can leave; then the old content is written
/// back through fd's file and checked, and the journal removed. A journal
/// that does not fit is set aside and the file left alone. `shown` is the
/// file's name in messages.
JournalCheck checkInterruptedSave(int folder, const std::string& folderPath, int fd,
                                  const std::string& shown, bool exclusive = false);

/// As above for the regular file `t`, opened here (no link followed) and
/// locked for the look; `st` is not used beyond telling that it exists.
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
  /// file, in the user's state folder with the file marked (kJournalMark)
  /// so that every reader finds it, and flushes it to disk. Returns 0 or an
  /// errno value with `why` for the user.
  int create(const PathTarget& t, const struct stat& st, int targetFd, std::string& why);
  /// The bytes are about to be written at offset `at` of the file: notes
  /// where they end and their hash, flushed. Returns 0 or an errno value.
  int recordBlock(std::uint64_t at, std::string_view bytes);
  /// Every byte of the new content but the last block is in the file:
  /// notes the whole content's length and hash and flushes it, so that the
  /// file may be completed and shortened. Returns 0 or an errno value.
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
  int record(std::uint32_t kind, std::uint64_t end, std::vector<std::uint64_t> hashes);
  Fd m_fd;
  Fd m_folder;
  std::string m_name;
  std::string m_path;
  int m_target = -1;
  bool m_marked = false;
  std::uint64_t m_offset = 0;
  std::uint64_t m_length = 0;
  std::uint64_t m_hash = 0;
  std::uint64_t m_recordAt = 0;
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
