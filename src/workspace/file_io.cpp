#include "workspace/file_io.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <random>
#include <stdexcept>
#include <vector>

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include "workspace/safe_path.h"
#include "workspace/save_journal.h"
#endif

namespace varnix {

std::string systemErrorText(int err) {
#if defined(_WIN32)
  return std::strerror(err);
#else
  // The program's messages are English whatever the user's locale; the
  // system's words for an error are taken in the same language.
  static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c ? ::strerror_l(err, c) : std::strerror(err);
#endif
}

std::optional<std::string> readWholeFile(const std::string& path) {
  std::string content;
  if (!readWholeFile(path, content).ok()) return std::nullopt;
  return content;
}

ReadResult readWholeFile(const std::string& path, std::string& content) {
  content.clear();
  try {
    bool first = true;
    ReadResult r = readFileInBlocks(path, [&](std::string_view block, std::uint64_t size) {
      if (first) content.reserve(static_cast<std::size_t>(size));
      first = false;
      content.append(block);
    });
    if (r.status == ReadStatus::Overrun) {
      content.clear();
      content.shrink_to_fit();
    }
    return r;
  } catch (const std::bad_alloc&) {
    content.clear();
    content.shrink_to_fit();
    return {ReadStatus::NoMemory, "not enough memory", 0, {}};
  }
}

#if defined(_WIN32)

// Windows: the standard library's streams and file system; the rename of the
// finished temporary file replaces the target in one step there too.

std::uint64_t availableMemory() {
  return std::numeric_limits<std::uint64_t>::max();
}

ReadResult readFileInBlocks(const std::string& path, const BlockSink& sink, std::size_t blockSize) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return {ReadStatus::Missing, {}, 0, {}};
  if (std::filesystem::is_directory(status)) return {ReadStatus::Failed, "Is a directory", 0, {}};
  if (!std::filesystem::is_regular_file(status))
    return {ReadStatus::NotRegular, "not a regular file", 0, {}};
  ReadResult r;
  r.size = std::filesystem::file_size(path, ec);
  std::ifstream in(path, std::ios::binary);
  if (!in) return {ReadStatus::Failed, "Permission denied", r.size, {}};
  std::unique_ptr<char[]> buf(new char[blockSize]);
  while (in) {
    in.read(buf.get(), static_cast<std::streamsize>(blockSize));
    const auto n = static_cast<std::size_t>(in.gcount());
    if (n > 0) sink(std::string_view(buf.get(), n), r.size);
  }
  if (in.bad()) return {ReadStatus::Failed, "Input/output error", r.size, {}};
  return r;
}

namespace {

/// Writes the content to a stream as it is made.
class StreamSink final : public ContentSink {
 public:
  explicit StreamSink(std::ofstream& out) : ContentSink(std::size_t{1} << 20), m_out(out) {}

 private:
  void take(std::string_view bytes) override {
    m_out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!m_out) throw std::runtime_error("the disk refused the data");
  }
  std::ofstream& m_out;
};

}  // namespace

WriteResult writeFileAtomically(const std::string& path, std::string_view content, WriteMode mode) {
  return writeFileAtomically(path, contentOf(content), mode);
}

WriteResult writeFileAtomically(const std::string& path, const ContentProducer& produce,
                                WriteMode mode) {
  std::error_code ec;
  auto failure = [&](const std::string& why) {
    WriteResult r;
    r.ok = false;
    r.errorNumber = ENOENT;
    r.message = "Could not write " + path + ": " + why;
    return r;
  };
  if (fileNameOf(path).empty() || std::filesystem::is_directory(path, ec)) {
    WriteResult r = failure("it is a folder");
    r.errorNumber = EISDIR;
    return r;
  }
  if (mode == WriteMode::CreateNew && entryExists(path)) {
    WriteResult r = failure("another file of that name appeared since the name was chosen");
    r.errorNumber = EEXIST;
    return r;
  }
  const std::string tmp = path + ".varnix-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return failure("cannot create the file");
    std::string why;
    try {
      StreamSink sink(out);
      produce(sink);
      sink.drain();
      out.flush();
      if (!out) why = "the disk refused the data";
    } catch (const std::exception& e) {
      why = e.what();
    }
    if (!why.empty()) {
      out.close();
      std::filesystem::remove(tmp, ec);
      return failure(why);
    }
  }
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    return failure("cannot replace the file");
  }
  return {};
}

bool fileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool entryExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string recoverInterruptedSave(const std::string&) {
  return {};
}

std::string journalStateFolder() {
  return {};
}

std::optional<std::string> danglingLinkTarget(const std::string&) {
  return std::nullopt;
}

void setWriteStepHook(void (*)()) {}

void useNamedTemporaryFiles(bool) {}

#else

namespace {
bool g_namedTemporaries = false;
}  // namespace

void useNamedTemporaryFiles(bool named) {
  g_namedTemporaries = named;
}

std::uint64_t availableMemory() {
  std::uint64_t avail = std::numeric_limits<std::uint64_t>::max();
  if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
    char line[256];
    std::uint64_t memAvailable = 0, swapFree = 0;
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
      unsigned long long kb = 0;
      if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
        memAvailable = kb * 1024;
        found = true;
      } else if (std::sscanf(line, "SwapFree: %llu kB", &kb) == 1) {
        swapFree = kb * 1024;
      }
    }
    std::fclose(f);
    if (found) avail = memAvailable + swapFree;
  }
  struct rlimit lim {};
  if (::getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
    avail = std::min<std::uint64_t>(avail, lim.rlim_cur);
  return avail;
}

namespace {

constexpr std::size_t kWriteBlock = std::size_t{1} << 20;
/// How far a read may go past the size a file had when opened (or past
/// twice that size, whichever is more).
constexpr std::uint64_t kReadBeyondSize = std::uint64_t{16} << 20;
constexpr const char* kBusy = "another program is saving it right now";

/// The folder and final name of a file about to be read, and its status,
/// when it is a regular file.
bool regularTarget(const std::string& path, PathTarget& t, struct stat& st) {
  std::string why;
  return walkToTarget(path, FinalLink::Follow, t, why) == 0 &&
         ::fstatat(t.folder.get(), t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(st.st_mode);
}

/// The folder the open file is in (as the system names it), for a file
/// reached where the walk of its path refused a link.
void folderOf(int fd, PathTarget& t) {
  std::string path(4096, '\0');
  const ssize_t n =
      ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return;
  path.resize(static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  if (path[0] != '/' || slash == std::string::npos) return;
  t.folderPath = slash == 0 ? "/" : path.substr(0, slash);
  t.folder.reset(::open(t.folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

/// Hands up to `limit` bytes of fd from offset to sink, in blocks of
/// bufSize; returns 0 or the errno of a failed read (what came before stays
/// with the sink).
int streamBlocks(int fd, off_t offset, std::uint64_t limit, std::size_t bufSize, std::uint64_t size,
                 const BlockSink& sink) {
  std::unique_ptr<char[]> buf(new char[bufSize]);
  std::uint64_t done = 0;
  for (;;) {
    std::size_t filled = 0;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(bufSize, limit - done));
    // Fill the whole block where the file allows: the reader's work per
    // block does not depend on how the system splits reads.
    while (filled < want) {
      const ssize_t n = ::pread(fd, buf.get() + filled, want - filled,
                                offset + static_cast<off_t>(done + filled));
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        if (filled > 0) sink(std::string_view(buf.get(), filled), size);
        return err;
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    if (filled > 0) sink(std::string_view(buf.get(), filled), size);
    done += filled;
    if (filled < bufSize || done >= limit) return 0;
  }
}

}  // namespace

ReadResult readFileInBlocks(const std::string& path, const BlockSink& sink, std::size_t blockSize) {
  ReadResult r;
  auto failed = [&](int err) {
    r.status = ReadStatus::Failed;
    r.reason = systemErrorText(err);
    return r;
  };
  auto tooLarge = [&] {
    r.status = ReadStatus::NoMemory;
    r.reason = "not enough memory";
    return r;
  };
  auto bufferFor = [&](std::uint64_t size) {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(blockSize, std::max<std::uint64_t>(size + 1, 4096)));
  };
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    const int err = errno;
    // A missing name, a dangling link, or a path through a plain file.
    if (err == ENOENT || err == ENOTDIR) {
      r.status = ReadStatus::Missing;
      return r;
    }
    return failed(err);
  }
  if (S_ISDIR(st.st_mode)) return failed(EISDIR);
  if (!S_ISREG(st.st_mode)) {
    r.status = ReadStatus::NotRegular;
    r.reason = "not a regular file";
    return r;
  }
  r.size = static_cast<std::uint64_t>(st.st_size);
  if (r.size > availableMemory()) return tooLarge();
  // O_NONBLOCK: should the name have become a FIFO since the stat, the open
  // must not wait for a writer.
  const Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return failed(errno);
  if (::fstat(fd.get(), &st) != 0) return failed(errno);
  if (!S_ISREG(st.st_mode)) {
    r.status = ReadStatus::NotRegular;
    r.reason = "not a regular file";
    return r;
  }
  auto refused = [&](const std::string& why) {
    r.status = ReadStatus::Failed;
    r.reason = why;
    return r;
  };
  // Not while another Varnix rewrites the file in place: it holds the lock
  // until the file is whole again.
  if (!lockWithin(fd.get(), LOCK_SH)) return refused(kBusy);
  {
    // An interrupted in-place save of this file is undone before it is read;
    // where it cannot be, the old content comes from the journal.
    PathTarget t;
    std::string why;
    if (walkToTarget(path, FinalLink::Follow, t, why) != 0) folderOf(fd.get(), t);
    JournalCheck journal = checkInterruptedSave(t.folder.get(), t.folderPath, fd.get(), path);
    if (journal.busy) return refused(kBusy);
    if (!journal.refusal.empty()) return refused(journal.refusal);
    r.notice = std::move(journal.notice);
    if (journal.oldContent) {
      r.size = journal.length;
      if (r.size > availableMemory()) return tooLarge();
      const int err = streamBlocks(journal.oldContent.get(), static_cast<off_t>(journal.offset),
                                   journal.length, bufferFor(r.size), r.size, sink);
      return err != 0 ? failed(err) : r;
    }
  }
  if (::fstat(fd.get(), &st) != 0) return failed(errno);
  r.size = static_cast<std::uint64_t>(st.st_size);
  if (r.size > availableMemory()) return tooLarge();
  // A file may grow while it is read (a log being written), but not
  // without end: some files of the system report no size and never end
  // (/proc/self/pagemap). A read that goes far past the size is stopped.
  const std::uint64_t limit = r.size + std::max<std::uint64_t>(r.size, kReadBeyondSize);
  std::uint64_t handed = 0;
  bool overrun = false;
  // A whole block past the limit: some such files take no reads of odd sizes.
  const std::size_t buffer = bufferFor(r.size);
  const int err = streamBlocks(fd.get(), 0, limit + buffer, buffer, r.size,
                               [&](std::string_view block, std::uint64_t size) {
                                 overrun = overrun || handed + block.size() > limit;
                                 if (overrun) return;
                                 handed += block.size();
                                 sink(block, size);
                               });
  if (overrun) {
    r.status = ReadStatus::Overrun;
    r.reason = "it went on far beyond the " + std::to_string(r.size) +
               (r.size == 1 ? " byte" : " bytes") + " it had when opened";
    return r;
  }
  return err != 0 ? failed(err) : r;
}

std::string recoverInterruptedSave(const std::string& path) {
  PathTarget t;
  struct stat st {};
  if (!regularTarget(path, t, st)) return {};
  return recoverInterruptedSave(t, st, path).notice;
}

std::optional<std::string> danglingLinkTarget(const std::string& path) {
  PathTarget t;
  std::string why;
  if (walkToTarget(path, FinalLink::Follow, t, why) != 0 || !t.finalLinkFollowed)
    return std::nullopt;
  struct stat st {};
  if (::fstatat(t.folder.get(), t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
    return std::nullopt;
  return t.path();
}

namespace {

WriteResult failure(const std::string& path, int err, const std::string& why = {}) {
  WriteResult r;
  r.ok = false;
  r.errorNumber = err;
  r.message = "Could not write " + path + ": " + (why.empty() ? systemErrorText(err) : why);
  return r;
}

/// The kernel's rule for existing files in sticky world-writable folders
/// (protected_regular): a file there that belongs neither to this user nor
/// to the folder's owner may have been put there for this user to write
/// into, and is not written, whatever its permissions say.
bool plantedInSharedFolder(const struct stat& folder, const struct stat& file) {
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return shared && file.st_uid != ::geteuid() && file.st_uid != folder.st_uid;
}

/// "user NAME" for a user the system knows, "user number N" otherwise.
std::string userName(uid_t uid) {
  std::vector<char> buf(16384);
  struct passwd pw {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) == 0 && found && pw.pw_name &&
      *pw.pw_name)
    return std::string("user ") + pw.pw_name;
  return "user number " + std::to_string(uid);
}

constexpr const char* kTempPrefix = ".varnix-";
constexpr const char* kTempSuffix = ".tmp";

std::string randomTempName() {
  static std::mt19937_64 rng{std::random_device{}()};
  char digits[16];
  const auto end = std::to_chars(digits, digits + sizeof digits, rng() & 0xffffffffULL, 16).ptr;
  const std::string hex(digits, end);
  return kTempPrefix + std::string(8 - hex.size(), '0') + hex + kTempSuffix;
}

/// Removes the temporary files in the folder that a killed writer left
/// behind (a living writer holds a lock on its file, a dead one no longer
/// does), and journals whose file is no longer there.
void removeStaleTemporaries(int folder) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  const std::size_t prefix = std::strlen(kTempPrefix), suffix = std::strlen(kTempSuffix);
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name.rfind(kJournalPrefix, 0) == 0) {
      removeJournalIfOrphaned(fd, e->d_name);
      continue;
    }
    if (name.size() != prefix + 8 + suffix || name.substr(0, prefix) != kTempPrefix ||
        name.substr(name.size() - suffix) != kTempSuffix ||
        name.substr(prefix, 8).find_first_not_of("0123456789abcdef") != std::string_view::npos)
      continue;
    const Fd tmp(::openat(fd, e->d_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!tmp) continue;
    struct stat st {};
    if (::fstat(tmp.get(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::flock(tmp.get(), LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(fd, e->d_name, 0);
  }
  ::closedir(d);
}

/// Calls a listxattr- or getxattr-like function into a buffer of the size
/// it asks for; nullopt (errno set) when it fails.
std::optional<std::string> sized(const std::function<ssize_t(char*, std::size_t)>& call) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const ssize_t size = call(nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string buf(static_cast<std::size_t>(size), '\0');
    const ssize_t n = size == 0 ? 0 : call(buf.data(), buf.size());
    if (n >= 0) {
      buf.resize(static_cast<std::size_t>(n));
      return buf;
    }
    if (errno != ERANGE) return std::nullopt;
  }
  return std::nullopt;
}

std::vector<std::string> attributeNames(const std::string& list) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t end = list.find('\0', at);
    const std::size_t stop = end == std::string::npos ? list.size() : end;
    if (stop > at) names.push_back(list.substr(at, stop - at));
    at = stop + 1;
  }
  return names;
}

/// Gives the file `to` exactly the extended attributes (ACLs among them) of
/// the file at `from`; false when that cannot be done.
bool copyAttributes(const std::string& from, int to) {
  const auto fromList =
      sized([&](char* b, std::size_t n) { return ::listxattr(from.c_str(), b, n); });
  if (!fromList) return errno == ENOTSUP;  // no attributes on this file system
  const auto toList = sized([&](char* b, std::size_t n) { return ::flistxattr(to, b, n); });
  if (!toList) return false;
  const std::vector<std::string> wanted = attributeNames(*fromList);
  for (const std::string& name : wanted) {
    const auto value =
        sized([&](char* b, std::size_t n) { return ::getxattr(from.c_str(), name.c_str(), b, n); });
    if (!value) {
      if (errno == ENODATA) continue;  // removed meanwhile
      return false;
    }
    if (::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) != 0) {
      // Some (a security label) the system sets by itself, maybe the same.
      const auto have =
          sized([&](char* b, std::size_t n) { return ::fgetxattr(to, name.c_str(), b, n); });
      if (!have || *have != *value) return false;
    }
  }
  // Nothing the old file did not have, such as an ACL inherited from the folder.
  for (const std::string& name : attributeNames(*toList))
    if (std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
        ::fremovexattr(to, name.c_str()) != 0 && errno != ENODATA)
      return false;
  return true;
}

/// Why the file could not be written, carried out of the producer.
struct WriteFailure {
  int err;
};

/// Writes the content from the start of a file as it is produced, and keeps
/// its length and, for a file written in place, its hash.
class FileSink final : public ContentSink {
 public:
  /// Over a file written in place (with its journal), each block is first
  /// noted in the journal and flushed to disk before the next, and the last
  /// block made is held back until finish(): until the journal knows the new
  /// content, the file never holds all of it.
  FileSink(int fd, SaveJournal* journal)
      : ContentSink(kWriteBlock), m_fd(fd), m_inPlace(journal != nullptr), m_journal(journal) {}
  /// How many bytes were made.
  std::uint64_t length() const { return m_length; }
  std::uint64_t hash() const { return m_hash.value(); }
  /// Writes the block held back; 0 or the error number.
  int finish() {
    try {
      write(m_held);
    } catch (const WriteFailure& f) {
      return f.err;
    }
    m_held.clear();
    return 0;
  }

 private:
  void take(std::string_view bytes) override {
    m_length += bytes.size();
    if (!m_inPlace) {
      write(bytes);
      return;
    }
    m_hash.add(bytes);
    write(m_held);
    m_held.assign(bytes);
  }
  void write(std::string_view bytes) {
    if (bytes.empty()) return;
    int err = 0;
    if (m_journal && (err = m_journal->recordBlock(m_written, bytes)) != 0) throw WriteFailure{err};
    if (!writeAllAt(m_fd, bytes, static_cast<off_t>(m_written), err)) throw WriteFailure{err};
    if (m_journal) {
      // On disk before the journal announces the next block: after a power
      // cut, too, only the last block announced may be half written.
      if (::fdatasync(m_fd) != 0) throw WriteFailure{errno};
    } else {
      // The block starts on its way to the disk now, while the next one is
      // made: the flush at the end then has little left to wait for.
      ::sync_file_range(m_fd, static_cast<off_t>(m_written), static_cast<off_t>(bytes.size()),
                        SYNC_FILE_RANGE_WRITE);
    }
    m_written += bytes.size();
    writeStep();
  }
  int m_fd;
  bool m_inPlace;
  SaveJournal* m_journal;
  std::uint64_t m_length = 0;
  std::uint64_t m_written = 0;
  std::string m_held;
  StreamHash m_hash;
};

/// Makes the whole content into the file; 0, or the error number of what
/// stopped it with why set when the system has no words for it.
int produceInto(const ContentProducer& produce, FileSink& sink, std::string& why) {
  try {
    produce(sink);
    sink.drain();
    return 0;
  } catch (const WriteFailure& f) {
    return f.err;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (const std::exception& e) {
    why = e.what();
    return ECANCELED;
  } catch (...) {
    why = "its content could not be made";
    return ECANCELED;
  }
}

/// Overwrites the file t in place (its links, owner, mode and attributes
/// stay), its old content kept in a journal until the new one is verified.
WriteResult writeInPlace(const std::string& path, const PathTarget& t,
                         const ContentProducer& produce) {
  const Fd fd(
      ::openat(t.folder.get(), t.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    const int err = errno;
    if (err == EACCES && ::faccessat(t.folder.get(), t.name.c_str(), W_OK, AT_EACCESS) == 0)
      return failure(
          path, err,
          "its old content cannot be read, so it cannot be kept safe while the file is rewritten");
    return failure(path, err);
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) return failure(path, errno);
  if (!S_ISREG(st.st_mode)) return failure(path, EINVAL, "not a regular file");
  // One writer in place at a time, and no reader while the file is half
  // written: readers take the lock shared and wait a moment for it.
  if (!lockWithin(fd.get(), LOCK_EX)) return failure(path, EBUSY, kBusy);
  // A save interrupted since the file was last looked at.
  JournalCheck earlier = checkInterruptedSave(t.folder.get(), t.folderPath, fd.get(), path, true);
  if (earlier.busy) return failure(path, EBUSY, kBusy);
  if (!earlier.refusal.empty()) return failure(path, EBUSY, earlier.refusal);
  if (::fstat(fd.get(), &st) != 0) return failure(path, errno);
  auto told = [&](WriteResult r) {
    if (!earlier.notice.empty()) r.notice = earlier.notice;
    return r;
  };
  SaveJournal journal;
  std::string why;
  if (const int e = journal.create(t, st, fd.get(), why)) return told(failure(path, e, why));

  // The new content goes over the old one as it is made; the journal learns
  // its length and hash before the last block goes in and the file is cut
  // to its length.
  FileSink sink(fd.get(), &journal);
  std::string cause;
  int err = produceInto(produce, sink, cause);
  if (err == 0) err = journal.recordNewContent(sink.length(), sink.hash());
  if (err == 0) err = sink.finish();
  if (err == 0 && ::ftruncate(fd.get(), static_cast<off_t>(sink.length())) != 0) err = errno;
  if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
  writeStep();
  if (err == 0 && !fileHolds(fd.get(), sink.length(), sink.hash())) err = EIO;
  if (err == 0) {
    journal.remove();
    writeStep();
    return told({});
  }
  WriteResult r = failure(path, err, cause);
  if (!journal.restore(fd.get()))
    r.message += "; its old content is kept in " + journal.path() +
                 " and is put back when Varnix next opens the file";
  return told(r);
}

/// Gives the finished temporary file its final name: over the old file, or,
/// for a new file, only where nothing has that name.
int publish(const PathTarget& t, int fd, bool unnamed, std::string& tmp, WriteMode mode) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (mode == WriteMode::CreateNew) {
    if (unnamed)
      return ::linkat(AT_FDCWD, self.c_str(), t.folder.get(), t.name.c_str(), AT_SYMLINK_FOLLOW) ==
                     0
                 ? 0
                 : errno;
    if (::renameat2(t.folder.get(), tmp.c_str(), t.folder.get(), t.name.c_str(),
                    RENAME_NOREPLACE) == 0)
      return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without that rename: a hard link fails where a name exists.
    if (::linkat(t.folder.get(), tmp.c_str(), t.folder.get(), t.name.c_str(), 0) != 0) return errno;
    ::unlinkat(t.folder.get(), tmp.c_str(), 0);
    return 0;
  }
  if (unnamed) {
    int err = EEXIST;
    tmp.clear();
    for (int attempt = 0; attempt < 16 && err == EEXIST; ++attempt) {
      const std::string name = randomTempName();
      if (::linkat(AT_FDCWD, self.c_str(), t.folder.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tmp = name;
        err = 0;
      } else {
        err = errno;
      }
    }
    if (err != 0) return err;
  }
  if (::renameat(t.folder.get(), tmp.c_str(), t.folder.get(), t.name.c_str()) != 0) {
    const int err = errno;
    ::unlinkat(t.folder.get(), tmp.c_str(), 0);
    return err;
  }
  return 0;
}

}  // namespace

WriteResult writeFileAtomically(const std::string& path, std::string_view content, WriteMode mode) {
  return writeFileAtomically(path, contentOf(content), mode);
}

WriteResult writeFileAtomically(const std::string& path, const ContentProducer& produce,
                                WriteMode mode) {
  PathTarget t;
  std::string why;
  if (const int e = walkToTarget(
          path, mode == WriteMode::CreateNew ? FinalLink::Keep : FinalLink::Follow, t, why))
    return failure(path, e, why);

  struct stat st {};
  const bool exists = ::fstatat(t.folder.get(), t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return failure(path, errno);
  if (exists && mode == WriteMode::CreateNew)
    return failure(path, EEXIST, "another file of that name appeared since the name was chosen");
  if (exists && S_ISDIR(st.st_mode)) return failure(path, EISDIR);
  if (exists && !S_ISREG(st.st_mode)) return failure(path, EINVAL, "not a regular file");
  if (exists) {
    struct stat folder {};
    if (::fstat(t.folder.get(), &folder) != 0) return failure(path, errno);
    if (plantedInSharedFolder(folder, st))
      return failure(path, EACCES,
                     t.path() + " belongs to " + userName(st.st_uid) + " in a shared folder");
  }
  std::string notice;
  if (exists) {
    // Root may write anything; a file without any write permission is
    // still not meant to be replaced.
    const bool writable = ::geteuid() == 0
                              ? (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                                    ::faccessat(t.folder.get(), t.name.c_str(), W_OK, 0) == 0
                              : ::faccessat(t.folder.get(), t.name.c_str(), W_OK, AT_EACCESS) == 0;
    if (!writable) {
      if (errno == EROFS) return failure(path, EROFS);
      return failure(path, EACCES, "Existing file " + path + " is not writable");
    }
    // An interrupted in-place save of the file is undone before anything else.
    const JournalCheck journal = recoverInterruptedSave(t, st, path);
    notice = journal.notice;
    if (journal.busy) return failure(path, EBUSY, kBusy);
    if (!journal.refusal.empty()) return failure(path, EBUSY, journal.refusal);
  }
  auto told = [&](WriteResult r) {
    r.notice = notice;
    return r;
  };

  removeStaleTemporaries(t.folder.get());
  if (exists && st.st_nlink > 1) return told(writeInPlace(path, t, produce));

  // The temporary file of a replacement is the user's alone until it has
  // the old file's mode; a new file gets the usual mode (umask, the
  // folder's default ACL).
  const mode_t createMode = exists ? 0600 : 0666;
  int err = 0;
  Fd fd;
  std::string tmp;
  bool unnamed = false;
#ifdef O_TMPFILE
  // An unnamed file vanishes by itself if the program is killed; it gets its
  // name only just before the rename.
  if (!g_namedTemporaries && ::access("/proc/self/fd", X_OK) == 0) {
    fd.reset(::openat(t.folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, createMode));
    if (fd) {
      unnamed = true;
      ::flock(fd.get(), LOCK_EX);
    } else if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOSPC ||
               errno == EDQUOT) {
      err = errno;
    }
  }
#endif
  for (int attempt = 0; !fd && err == 0 && attempt < 16; ++attempt) {
    tmp = randomTempName();
    fd.reset(::openat(t.folder.get(), tmp.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode));
    if (!fd) {
      if (errno != EEXIST) err = errno;
      continue;
    }
    // Locked before anyone may take it for a dead writer's; one that was
    // removed as such before the lock is given up.
    ::flock(fd.get(), LOCK_EX);
    struct stat ts {};
    if (::fstat(fd.get(), &ts) != 0 || ts.st_nlink == 0) fd.reset();
  }
  if (!fd && err == 0) err = EEXIST;
  if (!fd) {
    // A folder that takes no new file: write the file itself where allowed.
    if (exists && (err == EACCES || err == EPERM)) return told(writeInPlace(path, t, produce));
    return told(failure(path, err));
  }
  auto abandon = [&] {
    if (!unnamed) ::unlinkat(t.folder.get(), tmp.c_str(), 0);
    fd.reset();
  };
  if (exists) {
    // Owner and group (before the mode: a change of owner clears the set-id
    // bits), mode, ACLs and other attributes. A file whose owner this user
    // may not keep (another's file this user may write), or whose
    // attributes cannot all be carried over, is written in place instead.
    const Fd old(::openat(t.folder.get(), t.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!old || ::fchown(fd.get(), st.st_uid, st.st_gid) != 0 ||
        ::fchmod(fd.get(), st.st_mode & 07777) != 0 ||
        !copyAttributes("/proc/self/fd/" + std::to_string(old.get()), fd.get())) {
      abandon();
      return told(writeInPlace(path, t, produce));
    }
  }
  FileSink sink(fd.get(), nullptr);
  why.clear();
  if ((err = produceInto(produce, sink, why)) != 0) {
    abandon();
    return told(failure(path, err, why));
  }
  if (::fsync(fd.get()) != 0) {
    err = errno;
    abandon();
    return told(failure(path, err));
  }
  if (const int e = publish(t, fd.get(), unnamed, tmp, mode)) {
    if (!unnamed) ::unlinkat(t.folder.get(), tmp.c_str(), 0);
    fd.reset();
    return told(
        e == EEXIST && mode == WriteMode::CreateNew
            ? failure(path, e, "another file of that name appeared since the name was chosen")
            : failure(path, e));
  }
  fd.reset();
  // Make the rename itself durable.
  const Fd folder(::openat(t.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder) ::fsync(folder.get());
  return told({});
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool entryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

#endif

bool makeFolders(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (const char* home = std::getenv("HOME"); home && *home && !fs::is_directory(home, ec)) {
    const fs::path h = fs::absolute(home, ec).lexically_normal();
    const fs::path f = fs::absolute(folder, ec).lexically_normal();
    // Inside the missing home (or the home itself): left alone.
    const auto hi = std::mismatch(h.begin(), h.end(), f.begin(), f.end()).first;
    if (hi == h.end() || (std::next(hi) == h.end() && hi->empty())) return false;
  }
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

std::string fileNameOf(const std::string& path) {
  auto pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace varnix
