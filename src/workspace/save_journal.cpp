#include "workspace/save_journal.h"

#if !defined(_WIN32)

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "workspace/file_io.h"

namespace varnix {

namespace {

void (*g_writeStepHook)() = nullptr;

constexpr std::size_t kBlock = std::size_t{1} << 20;
constexpr char kMagic[8] = {'V', 'X', 'J', 'O', 'U', 'R', 'N', 'L'};
constexpr std::uint32_t kVersion = 1;
constexpr std::size_t kFixedHeader = 96;
/// Where the new content's length is in the header (its hash follows).
constexpr std::size_t kNewLengthAt = 56;
/// The new content's length while it is being written: a journal found
/// with it lets through a file of any length from the old one up.
constexpr std::uint64_t kUnknownLength = std::numeric_limits<std::uint64_t>::max();
constexpr std::size_t kMaxHeader = std::size_t{64} * 1024;

std::uint64_t hashOf(std::string_view bytes) {
  StreamHash h;
  h.add(bytes);
  return h.value();
}

void put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
void put64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}
std::uint64_t get(const std::string& in, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i)
    v = (v << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
  return v;
}

std::string hex(std::uint64_t v) {
  char buf[17];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, 16);
  return std::string(buf, r.ptr);
}

/// Reads exactly n bytes at offset (fewer only at the end of the file).
ssize_t readAt(int fd, char* buf, std::size_t n, off_t offset) {
  std::size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, offset + static_cast<off_t>(got));
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

/// Copies up to `limit` bytes (until the end of `from` at most) and hashes
/// them; `copied` says how many. Calls the write-step hook after each block.
bool copyBlocks(int from, off_t fromOffset, int to, off_t toOffset, std::uint64_t limit,
                StreamHash& hash, std::uint64_t& copied, int& err) {
  std::unique_ptr<char[]> buf(new char[kBlock]);
  copied = 0;
  while (copied < limit) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, limit - copied));
    const ssize_t n = readAt(from, buf.get(), want, fromOffset + static_cast<off_t>(copied));
    if (n < 0) {
      err = errno;
      return false;
    }
    if (n == 0) break;
    const std::string_view block(buf.get(), static_cast<std::size_t>(n));
    if (!writeAllAt(to, block, toOffset + static_cast<off_t>(copied), err)) return false;
    hash.add(block);
    copied += static_cast<std::uint64_t>(n);
    writeStep();
    if (static_cast<std::size_t>(n) < want) break;
  }
  return true;
}

/// The hash of exactly `length` bytes at offset, or nullopt when the file is
/// shorter or cannot be read.
std::optional<std::uint64_t> hashRange(int fd, off_t offset, std::uint64_t length) {
  std::unique_ptr<char[]> buf(new char[kBlock]);
  StreamHash h;
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - done));
    const ssize_t n = readAt(fd, buf.get(), want, offset + static_cast<off_t>(done));
    if (n != static_cast<ssize_t>(want)) return std::nullopt;
    h.add(std::string_view(buf.get(), want));
    done += want;
  }
  return h.value();
}

void syncFolder(int folder) {
  Fd d(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (d) ::fsync(d.get());
}

/// When this process started, in clock ticks since boot (field 22 of
/// /proc/PID/stat); nullopt when the process is gone or a zombie.
std::optional<std::uint64_t> processStart(std::uint64_t pid) {
  const std::string file = "/proc/" + std::to_string(pid) + "/stat";
  Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  char buf[1024];
  const ssize_t n = readAt(fd.get(), buf, sizeof buf, 0);
  if (n <= 0) return std::nullopt;
  const std::string_view text(buf, static_cast<std::size_t>(n));
  std::size_t at = text.rfind(')');
  if (at == std::string_view::npos) return std::nullopt;
  // After the name: state, then 18 more fields before the start time.
  for (int field = 0; field < 20; ++field) {
    at = text.find_first_not_of(' ', at + 1);
    if (at == std::string_view::npos) return std::nullopt;
    if (field == 0 && (text[at] == 'Z' || text[at] == 'X')) return std::nullopt;
    if (field == 19) {
      std::uint64_t ticks = 0;
      const auto r = std::from_chars(text.data() + at, text.data() + text.size(), ticks);
      if (r.ec != std::errc()) return std::nullopt;
      return ticks;
    }
    at = text.find(' ', at);
    if (at == std::string_view::npos) return std::nullopt;
  }
  return std::nullopt;
}

std::uint64_t ownStart() {
  static const std::uint64_t start =
      processStart(static_cast<std::uint64_t>(::getpid())).value_or(0);
  return start;
}

struct Header {
  std::uint32_t length = 0;
  std::uint64_t pid = 0;
  std::uint64_t start = 0;
  std::uint64_t inode = 0;
  std::uint64_t oldLength = 0;
  std::uint64_t oldHash = 0;
  std::uint64_t newLength = 0;
  std::uint64_t newHash = 0;
  std::uint64_t birthSeconds = 0;
  std::uint32_t birthNanoseconds = 0;
  bool hasBirth = false;
  std::string name;
  std::string folder;
};

std::string encode(const Header& h) {
  std::string out(kMagic, sizeof kMagic);
  put32(out, kVersion);
  put32(out, static_cast<std::uint32_t>(kFixedHeader + h.name.size() + h.folder.size() + 8));
  for (std::uint64_t v :
       {h.pid, h.start, h.inode, h.oldLength, h.oldHash, h.newLength, h.newHash, h.birthSeconds})
    put64(out, v);
  put32(out, h.birthNanoseconds);
  put32(out, h.hasBirth ? 1 : 0);
  put32(out, static_cast<std::uint32_t>(h.name.size()));
  put32(out, static_cast<std::uint32_t>(h.folder.size()));
  out += h.name;
  out += h.folder;
  put64(out, hashOf(out));
  return out;
}

/// What a file in a journal's place is.
enum class JournalKind {
  Ours,        ///< a journal of this version with a sound header
  Incomplete,  ///< one whose writer died before its header was whole
  Foreign,     ///< another program's file, or a later version's journal
};

JournalKind decode(int fd, std::uint64_t size, Header& h) {
  std::string fixed(kFixedHeader, '\0');
  const ssize_t got = readAt(fd, fixed.data(), fixed.size(), 0);
  if (got < static_cast<ssize_t>(sizeof kMagic))
    return size < sizeof kMagic ? JournalKind::Incomplete : JournalKind::Foreign;
  if (std::memcmp(fixed.data(), kMagic, sizeof kMagic) != 0) return JournalKind::Foreign;
  if (got < static_cast<ssize_t>(kFixedHeader)) return JournalKind::Incomplete;
  if (get(fixed, 8, 4) != kVersion) return JournalKind::Foreign;
  h.length = static_cast<std::uint32_t>(get(fixed, 12, 4));
  const std::uint64_t nameLength = get(fixed, 88, 4), folderLength = get(fixed, 92, 4);
  if (h.length > kMaxHeader || h.length != kFixedHeader + nameLength + folderLength + 8)
    return JournalKind::Incomplete;
  std::string all(h.length, '\0');
  if (readAt(fd, all.data(), all.size(), 0) != static_cast<ssize_t>(all.size()) ||
      get(all, h.length - 8, 8) != hashOf(std::string_view(all).substr(0, h.length - 8)))
    return JournalKind::Incomplete;
  h.pid = get(all, 16, 8);
  h.start = get(all, 24, 8);
  h.inode = get(all, 32, 8);
  h.oldLength = get(all, 40, 8);
  h.oldHash = get(all, 48, 8);
  h.newLength = get(all, kNewLengthAt, 8);
  h.newHash = get(all, kNewLengthAt + 8, 8);
  h.birthSeconds = get(all, 72, 8);
  h.birthNanoseconds = static_cast<std::uint32_t>(get(all, 80, 4));
  h.hasBirth = get(all, 84, 4) != 0;
  h.name = all.substr(kFixedHeader, nameLength);
  h.folder = all.substr(kFixedHeader + nameLength, folderLength);
  return JournalKind::Ours;
}

/// What tells a file apart beyond its inode number, which the system gives
/// to a new file once the old one is gone: its birth time, where the file
/// system keeps one.
struct Identity {
  std::uint64_t inode = 0;
  std::uint64_t birthSeconds = 0;
  std::uint32_t birthNanoseconds = 0;
  bool hasBirth = false;
};

std::optional<Identity> identityOf(int folder, const char* name, int flags = 0) {
  struct statx sx {};
  if (::statx(folder, name, flags | AT_SYMLINK_NOFOLLOW, STATX_INO | STATX_BTIME, &sx) != 0)
    return std::nullopt;
  Identity id;
  id.inode = sx.stx_ino;
  if (sx.stx_mask & STATX_BTIME) {
    id.hasBirth = true;
    id.birthSeconds = static_cast<std::uint64_t>(sx.stx_btime.tv_sec);
    id.birthNanoseconds = sx.stx_btime.tv_nsec;
  }
  return id;
}

/// Whether the file is the one the journal was made for.
bool madeFor(const Header& h, const Identity& id) {
  return h.inode == id.inode &&
         (!h.hasBirth || !id.hasBirth ||
          (h.birthSeconds == id.birthSeconds && h.birthNanoseconds == id.birthNanoseconds));
}

/// Whether an entry of the folder is the file the journal was made for
/// (under any name: it may have been renamed since).
bool folderHolds(int folder, const Header& h) {
  const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return true;  // cannot tell: keep the journal
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return true;
  }
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == ".." || name.rfind(kJournalPrefix, 0) == 0) continue;
    const std::optional<Identity> id = identityOf(fd, e->d_name);
    if (id && madeFor(h, *id)) {
      found = true;
      break;
    }
  }
  ::closedir(d);
  return found;
}

/// Whether the process that wrote the header still runs (used where the
/// file system keeps no locks).
bool writerRuns(const Header& h) {
  if (h.pid == static_cast<std::uint64_t>(::getpid())) return true;
  const std::optional<std::uint64_t> start = processStart(h.pid);
  return start && *start == h.start;
}

/// A place for a journal: a folder and a name in it.
struct Place {
  Fd folder;
  std::string name;
  std::string path;
  bool besideFile = false;  ///< in the file's own folder
};

Fd duplicate(const Fd& fd) {
  return Fd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
}

Place inFileFolder(const PathTarget& t, const struct stat& st) {
  const std::string name = kJournalPrefix + hex(static_cast<std::uint64_t>(st.st_ino));
  return {duplicate(t.folder), name, joinPath(t.folderPath, name), true};
}

/// The user's own folders for journals of files whose folder takes no new
/// file, in the order tried: the state folder, then one in the system's
/// temporary folder (for users without a writable home).
std::vector<std::string> privateFolders() {
  std::vector<std::string> folders;
  if (std::string state = journalStateFolder(); !state.empty()) folders.push_back(state);
  const char* tmp = std::getenv("TMPDIR");
  folders.push_back(std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/varnix-" +
                    std::to_string(::geteuid()) + "-journals");
  return folders;
}

bool makeFolders(const std::string& path) {
  for (std::size_t at = 1; at <= path.size(); ++at) {
    if (at < path.size() && path[at] != '/') continue;
    const std::string prefix = path.substr(0, at);
    if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

/// A journal's place in one of the private folders; its folder stays closed
/// when that folder is missing or not the user's own (in /tmp anyone could
/// have made it).
Place inPrivateFolder(const std::string& folder, const PathTarget& t, const struct stat& st,
                      bool create) {
  Place p;
  p.name = hex(hashOf(t.folderPath)) + "-" + hex(static_cast<std::uint64_t>(st.st_ino));
  p.path = joinPath(folder, p.name);
  if (create && !makeFolders(folder)) return p;
  Fd fd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat fs {};
  if (!fd || ::fstat(fd.get(), &fs) != 0) return p;
  if (fs.st_uid != ::geteuid()) {
    errno = EPERM;
    return p;
  }
  p.folder = std::move(fd);
  return p;
}

void removeAt(const Place& p) {
  if (::unlinkat(p.folder.get(), p.name.c_str(), 0) == 0) syncFolder(p.folder.get());
}

}  // namespace

void StreamHash::add(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  m_length += n;
  if (m_pending > 0) {
    const std::size_t take = std::min(n, sizeof m_buffer - m_pending);
    std::memcpy(m_buffer + m_pending, p, take);
    m_pending += take;
    p += take;
    n -= take;
    if (m_pending < sizeof m_buffer) return;
    mix(m_buffer);
    m_pending = 0;
  }
  for (; n >= sizeof m_buffer; p += sizeof m_buffer, n -= sizeof m_buffer) mix(p);
  std::memcpy(m_buffer, p, n);
  m_pending = n;
}

std::uint64_t StreamHash::value() const {
  std::uint64_t h = m_hash;
  for (std::size_t i = 0; i < m_pending; ++i) h = (h ^ m_buffer[i]) * 1099511628211ULL;
  h = (h ^ m_length) * 0x9E3779B97F4A7C15ULL;
  return h ^ (h >> 32);
}

void StreamHash::mix(const unsigned char* p) {
  std::uint64_t w = 0;
  for (int i = 7; i >= 0; --i) w = (w << 8) | p[i];
  m_hash = (m_hash ^ w) * 0x9E3779B97F4A7C15ULL;
  m_hash ^= m_hash >> 29;
}

void setWriteStepHook(void (*hook)()) {
  g_writeStepHook = hook;
}

void writeStep() {
  if (g_writeStepHook) g_writeStepHook();
}

bool writeAllAt(int fd, std::string_view data, off_t offset, int& err) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::pwrite(fd, p, left, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = ENOSPC;
      return false;
    }
    p += n;
    offset += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

bool fileHolds(int fd, std::uint64_t length, std::uint64_t hash) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == length &&
         hashRange(fd, 0, length) == hash;
}

std::string journalStateFolder() {
  std::string base;
  if (const char* x = std::getenv("XDG_STATE_HOME"); x && x[0] == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    base = std::string(h) + "/.local/state";
  } else {
    struct passwd pw {};
    struct passwd* found = nullptr;
    std::vector<char> buf(16384);
    if (::getpwuid_r(::geteuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found ||
        !pw.pw_dir || pw.pw_dir[0] != '/')
      return {};
    base = std::string(pw.pw_dir) + "/.local/state";
  }
  return base + "/varnix/journals";
}

void removeJournalIfOrphaned(int folder, const std::string& name) {
  const Fd j(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat js {};
  if (!j || ::fstat(j.get(), &js) != 0 || !S_ISREG(js.st_mode)) return;
  Header header;
  if (decode(j.get(), static_cast<std::uint64_t>(js.st_size), header) != JournalKind::Ours ||
      name != kJournalPrefix + hex(header.inode))
    return;
  if (::flock(j.get(), LOCK_EX | LOCK_NB) != 0 && (errno == EWOULDBLOCK || writerRuns(header)))
    return;
  if (::fstat(j.get(), &js) != 0 || js.st_nlink == 0 || folderHolds(folder, header)) return;
  ::unlinkat(folder, name.c_str(), 0);
}

JournalCheck recoverInterruptedSave(const PathTarget& t, const struct stat& st,
                                    const std::string& shown) {
  JournalCheck check;
  std::vector<Place> places;
  places.push_back(inFileFolder(t, st));
  for (const std::string& folder : privateFolders())
    places.push_back(inPrivateFolder(folder, t, st, false));
  for (Place& place : places) {
    if (!place.folder) continue;
    Fd j(::openat(place.folder.get(), place.name.c_str(),
                  O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!j) continue;
    struct stat js {};
    // Only a journal of this user's or of the file's owner is trusted: anyone
    // else who may create files in the folder could plant one.
    if (::fstat(j.get(), &js) != 0 || !S_ISREG(js.st_mode) ||
        (js.st_uid != ::geteuid() && js.st_uid != st.st_uid))
      continue;
    Header h;
    const JournalKind kind = decode(j.get(), static_cast<std::uint64_t>(js.st_size), h);
    if (kind == JournalKind::Foreign) continue;
    if (::flock(j.get(), LOCK_EX | LOCK_NB) != 0 &&
        (errno == EWOULDBLOCK || (kind == JournalKind::Ours && writerRuns(h)))) {
      check.busy = true;
      return check;
    }
    // Its writer may have finished and removed it meanwhile.
    if (::fstat(j.get(), &js) != 0 || js.st_nlink == 0) continue;
    const std::optional<Header> header =
        kind == JournalKind::Ours ? std::optional<Header>(std::move(h)) : std::nullopt;
    const bool complete =
        header && static_cast<std::uint64_t>(js.st_size) == header->length + header->oldLength &&
        hashRange(j.get(), header->length, header->oldLength) == header->oldHash;
    // The file is only touched once its journal is complete and on disk: an
    // incomplete journal means the file still holds its old content.
    if (!complete) {
      removeAt(place);
      continue;
    }
    // Made for this very file (not one that has its inode number since);
    // one in the user's own folder also for this folder.
    const std::optional<Identity> id = identityOf(t.folder.get(), t.name.c_str());
    const bool sameFile =
        id && madeFor(*header, *id) && (place.besideFile || header->folder == t.folderPath);
    bool canWrite = true;
    Fd target(
        ::openat(t.folder.get(), t.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    int writeErr = 0;
    if (!target) {
      writeErr = errno;
      canWrite = false;
      target.reset(
          ::openat(t.folder.get(), t.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    }
    struct stat ts {};
    if (!target || ::fstat(target.get(), &ts) != 0) continue;
    const std::uint64_t size = static_cast<std::uint64_t>(ts.st_size);
    const std::optional<std::uint64_t> now = hashRange(target.get(), 0, size);
    const bool finished = size == header->newLength && now == header->newHash;
    const bool untouched = size == header->oldLength && now == header->oldHash;
    // A save in place leaves a size between the old and the new one (of
    // the old one or more while the new one is not known yet); any other
    // size (or another file) means something else wrote the file since.
    const bool plausible = size >= std::min(header->oldLength, header->newLength) &&
                           size <= std::max(header->oldLength, header->newLength);
    if (!sameFile || finished || untouched || !plausible) {
      removeAt(place);
      continue;
    }
    if (canWrite) {
      StreamHash restoredHash;
      std::uint64_t copied = 0;
      int err = 0;
      const bool restored = copyBlocks(j.get(), static_cast<off_t>(header->length), target.get(), 0,
                                       header->oldLength, restoredHash, copied, err) &&
                            copied == header->oldLength &&
                            ::ftruncate(target.get(), static_cast<off_t>(header->oldLength)) == 0 &&
                            ::fsync(target.get()) == 0 &&
                            hashRange(target.get(), 0, header->oldLength) == header->oldHash;
      if (restored) {
        removeAt(place);
        check.notice = "Restored " + shown + " from an interrupted save";
        return check;
      }
      writeErr = err != 0 ? err : EIO;
    }
    check.notice = shown +
                   " was left half written by an interrupted save and cannot be restored (" +
                   systemErrorText(writeErr) + "); its old content was read from " + place.path;
    check.oldContent = std::move(j);
    check.offset = header->length;
    check.length = header->oldLength;
    return check;
  }
  return check;
}

int SaveJournal::create(const PathTarget& t, const struct stat& st, int targetFd,
                        std::string& why) {
  struct stat folderStatus {};
  const bool shared = ::fstat(t.folder.get(), &folderStatus) == 0 &&
                      (folderStatus.st_mode & S_ISVTX) && (folderStatus.st_mode & S_IWOTH);
  // Readable as the file is; written only by its writer.
  const mode_t mode = st.st_mode & (shared ? 0600 : 0644);

  // A new journal, locked; one that a checker removed before the lock was
  // taken is made again.
  auto open = [&](Place& place, mode_t m) {
    for (int attempt = 0; attempt < 8; ++attempt) {
      Fd fd(::openat(place.folder.get(), place.name.c_str(),
                     O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, m));
      if (!fd) return errno;
      ::flock(fd.get(), LOCK_EX);
      struct stat js {};
      if (::fstat(fd.get(), &js) != 0 || js.st_nlink == 0) continue;
      // Group members of the file may read the journal only if it has the
      // file's group.
      if ((m & S_IRWXG) && js.st_gid != st.st_gid &&
          ::fchown(fd.get(), static_cast<uid_t>(-1), st.st_gid) != 0)
        ::fchmod(fd.get(), m & ~S_IRWXG);
      m_fd = std::move(fd);
      m_folder = std::move(place.folder);
      m_name = place.name;
      m_path = place.path;
      return 0;
    }
    return EEXIST;
  };

  Place here = inFileFolder(t, st);
  const int hereErr = open(here, mode);
  if (hereErr != 0) {
    // The folder takes no new file (or a stranger's file has the name): a
    // folder of the user's own, the journal readable by the user alone.
    why = "no place to keep its old content while it is rewritten (" + t.folderPath + ": " +
          systemErrorText(hereErr);
    bool placed = false;
    for (const std::string& folder : privateFolders()) {
      Place there = inPrivateFolder(folder, t, st, true);
      const int err = there.folder ? open(there, mode & 0600) : errno;
      if (err == 0) {
        placed = true;
        break;
      }
      why += "; " + folder + ": " + systemErrorText(err);
    }
    if (!placed) {
      why += ")";
      return hereErr;
    }
    why.clear();
  }
  writeStep();

  Header h;
  h.pid = static_cast<std::uint64_t>(::getpid());
  h.start = ownStart();
  h.inode = static_cast<std::uint64_t>(st.st_ino);
  if (const std::optional<Identity> id = identityOf(targetFd, "", AT_EMPTY_PATH)) {
    h.hasBirth = id->hasBirth;
    h.birthSeconds = id->birthSeconds;
    h.birthNanoseconds = id->birthNanoseconds;
  }
  h.newLength = kUnknownLength;
  h.name = t.name;
  h.folder = t.folderPath;
  m_offset = kFixedHeader + h.name.size() + h.folder.size() + 8;
  // The writer is named first (for file systems without locks); the old
  // length stays impossible until the copy is complete.
  h.oldLength = std::numeric_limits<std::uint64_t>::max();
  StreamHash old;
  int err = 0;
  bool ok = writeAllAt(m_fd.get(), encode(h), 0, err) &&
            copyBlocks(targetFd, 0, m_fd.get(), static_cast<off_t>(m_offset),
                       std::numeric_limits<std::uint64_t>::max(), old, m_length, err);
  if (ok) {
    h.oldLength = m_length;
    h.oldHash = m_hash = old.value();
    m_header = encode(h);
    ok = writeAllAt(m_fd.get(), m_header, 0, err);
    writeStep();
  }
  if (ok && ::fsync(m_fd.get()) != 0) {
    err = errno;
    ok = false;
  }
  if (!ok) {
    why = "cannot keep its old content in " + m_path + " (" + systemErrorText(err) + ")";
    remove();
    return err;
  }
  syncFolder(m_folder.get());
  writeStep();
  return 0;
}

int SaveJournal::recordNewContent(std::uint64_t length, std::uint64_t hash) {
  std::string header = m_header;
  header.resize(kNewLengthAt);
  put64(header, length);
  put64(header, hash);
  header += m_header.substr(header.size(), m_header.size() - header.size() - 8);
  put64(header, hashOf(header));
  int err = 0;
  if (!writeAllAt(m_fd.get(), header, 0, err)) return err;
  if (::fsync(m_fd.get()) != 0) return errno;
  m_header = std::move(header);
  writeStep();
  return 0;
}

void SaveJournal::remove() {
  if (!m_fd) return;
  if (::unlinkat(m_folder.get(), m_name.c_str(), 0) == 0) syncFolder(m_folder.get());
  m_fd.reset();
}

bool SaveJournal::restore(int targetFd) {
  StreamHash h;
  std::uint64_t copied = 0;
  int err = 0;
  const bool ok =
      copyBlocks(m_fd.get(), static_cast<off_t>(m_offset), targetFd, 0, m_length, h, copied, err) &&
      copied == m_length && ::ftruncate(targetFd, static_cast<off_t>(m_length)) == 0 &&
      ::fsync(targetFd) == 0 && hashRange(targetFd, 0, m_length) == m_hash;
  if (ok) remove();
  return ok;
}

}  // namespace varnix

#endif
