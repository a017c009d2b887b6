#include "workspace/save_journal.h"

#if !defined(_WIN32)

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "workspace/file_io.h"

namespace varnix {

namespace {

void (*g_writeStepHook)() = nullptr;

constexpr std::size_t kBlock = std::size_t{1} << 20;
constexpr char kMagic[8] = {'V', 'X', 'J', 'O', 'U', 'R', 'N', 'L'};
/// Journals of version 1 (earlier Varnix) know the new content only once it
/// is whole; they are found and checked but never applied to a mixed file.
constexpr std::uint32_t kVersion1 = 1;
constexpr std::size_t kFixedHeader1 = 96;
constexpr std::uint32_t kVersion = 2;
constexpr std::size_t kFixedHeader = 104;
/// Records after the old content: a block record (kind, page count, where
/// the block's new bytes end, the hash of each page of them) before each
/// block is written, and an end record (the new length and its hash) once
/// all of it is known; each ends with a hash of itself.
constexpr std::uint32_t kBlockRecord = 1;
constexpr std::uint32_t kEndRecord = 2;
constexpr std::size_t kPage = 4096;
/// Blocks are at most a content buffer long: far below this.
constexpr std::uint64_t kMaxPages = 4096;
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
  std::uint32_t version = kVersion;
  std::uint32_t length = 0;
  std::uint64_t pid = 0;
  std::uint64_t start = 0;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint32_t uid = 0;
  std::uint32_t gid = 0;
  std::uint64_t links = 0;
  std::uint64_t birthSeconds = 0;
  std::uint32_t birthNanoseconds = 0;
  bool hasBirth = false;
  std::uint64_t oldLength = 0;
  std::uint64_t oldHash = 0;
  /// Version 1 only: the new content's length (all ones while unknown) and hash.
  std::uint64_t newLength = 0;
  std::uint64_t newHash = 0;
  std::string name;
  std::string folder;
};

std::string encode(const Header& h) {
  std::string out(kMagic, sizeof kMagic);
  put32(out, kVersion);
  put32(out, static_cast<std::uint32_t>(kFixedHeader + h.name.size() + h.folder.size() + 8));
  for (std::uint64_t v : {h.pid, h.start, h.device, h.inode}) put64(out, v);
  put32(out, h.uid);
  put32(out, h.gid);
  put64(out, h.links);
  put64(out, h.birthSeconds);
  put32(out, h.birthNanoseconds);
  put32(out, h.hasBirth ? 1 : 0);
  put64(out, h.oldLength);
  put64(out, h.oldHash);
  put32(out, static_cast<std::uint32_t>(h.name.size()));
  put32(out, static_cast<std::uint32_t>(h.folder.size()));
  out += h.name;
  out += h.folder;
  put64(out, hashOf(out));
  return out;
}

/// What a file in a journal's place is.
enum class JournalKind {
  Ours,        ///< a journal of a known version with a sound header
  Incomplete,  ///< one whose writer died before its header was whole
  Foreign,     ///< another program's file, or a later version's journal
};

JournalKind decode(int fd, std::uint64_t size, Header& h) {
  std::string fixed(kFixedHeader, '\0');
  const ssize_t got = readAt(fd, fixed.data(), fixed.size(), 0);
  if (got < static_cast<ssize_t>(sizeof kMagic))
    return size < sizeof kMagic ? JournalKind::Incomplete : JournalKind::Foreign;
  if (std::memcmp(fixed.data(), kMagic, sizeof kMagic) != 0) return JournalKind::Foreign;
  if (got < 16) return JournalKind::Incomplete;
  h.version = static_cast<std::uint32_t>(get(fixed, 8, 4));
  if (h.version != kVersion && h.version != kVersion1) return JournalKind::Foreign;
  const std::size_t fixedLength = h.version == kVersion ? kFixedHeader : kFixedHeader1;
  if (got < static_cast<ssize_t>(fixedLength)) return JournalKind::Incomplete;
  h.length = static_cast<std::uint32_t>(get(fixed, 12, 4));
  const std::uint64_t nameLength = get(fixed, fixedLength - 8, 4),
                      folderLength = get(fixed, fixedLength - 4, 4);
  if (h.length > kMaxHeader || h.length != fixedLength + nameLength + folderLength + 8)
    return JournalKind::Incomplete;
  std::string all(h.length, '\0');
  if (readAt(fd, all.data(), all.size(), 0) != static_cast<ssize_t>(all.size()) ||
      get(all, h.length - 8, 8) != hashOf(std::string_view(all).substr(0, h.length - 8)))
    return JournalKind::Incomplete;
  h.pid = get(all, 16, 8);
  h.start = get(all, 24, 8);
  if (h.version == kVersion) {
    h.device = get(all, 32, 8);
    h.inode = get(all, 40, 8);
    h.uid = static_cast<std::uint32_t>(get(all, 48, 4));
    h.gid = static_cast<std::uint32_t>(get(all, 52, 4));
    h.links = get(all, 56, 8);
    h.birthSeconds = get(all, 64, 8);
    h.birthNanoseconds = static_cast<std::uint32_t>(get(all, 72, 4));
    h.hasBirth = get(all, 76, 4) != 0;
    h.oldLength = get(all, 80, 8);
    h.oldHash = get(all, 88, 8);
  } else {
    h.inode = get(all, 32, 8);
    h.oldLength = get(all, 40, 8);
    h.oldHash = get(all, 48, 8);
    h.newLength = get(all, 56, 8);
    h.newHash = get(all, 64, 8);
    h.birthSeconds = get(all, 72, 8);
    h.birthNanoseconds = static_cast<std::uint32_t>(get(all, 80, 4));
    h.hasBirth = get(all, 84, 4) != 0;
  }
  h.name = all.substr(fixedLength, nameLength);
  h.folder = all.substr(fixedLength + nameLength, folderLength);
  return JournalKind::Ours;
}

/// One record of a journal after the old content.
struct Record {
  std::uint32_t kind = 0;
  std::uint64_t end = 0;              ///< where the block ends; for the end record the new length
  std::vector<std::uint64_t> hashes;  ///< of each page; for the end record the new content's
};

std::string encodeRecord(const Record& r) {
  std::string out;
  put32(out, r.kind);
  put32(out, static_cast<std::uint32_t>(r.hashes.size()));
  put64(out, r.end);
  for (std::uint64_t h : r.hashes) put64(out, h);
  put64(out, hashOf(out));
  return out;
}

/// The records of a journal, up to the first that is not whole (its writer
/// was stopped while writing it, before the bytes it announces).
std::vector<Record> recordsOf(int fd, std::uint64_t at) {
  std::vector<Record> records;
  for (;;) {
    std::string fixed(16, '\0');
    if (readAt(fd, fixed.data(), 16, static_cast<off_t>(at)) != 16) break;
    Record r{static_cast<std::uint32_t>(get(fixed, 0, 4)), get(fixed, 8, 8), {}};
    const std::uint64_t count = get(fixed, 4, 4);
    if ((r.kind != kBlockRecord && r.kind != kEndRecord) || count > kMaxPages) break;
    std::string all = fixed + std::string(static_cast<std::size_t>(count) * 8 + 8, '\0');
    if (readAt(fd, all.data() + 16, all.size() - 16, static_cast<off_t>(at + 16)) !=
            static_cast<ssize_t>(all.size() - 16) ||
        get(all, all.size() - 8, 8) != hashOf(std::string_view(all).substr(0, all.size() - 8)))
      break;
    for (std::uint64_t i = 0; i < count; ++i)
      r.hashes.push_back(get(all, 16 + static_cast<std::size_t>(i) * 8, 8));
    if (r.kind == kEndRecord && r.hashes.size() != 1) break;
    records.push_back(std::move(r));
    at += all.size();
  }
  return records;
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

/// Whether the file is the one the journal was made for (as far as its
/// inode number and birth tell).
bool madeFor(const Header& h, const Identity& id) {
  return h.inode == id.inode &&
         (!h.hasBirth || !id.hasBirth ||
          (h.birthSeconds == id.birthSeconds && h.birthNanoseconds == id.birthNanoseconds));
}

/// Whether the open file is the very one the journal was made for: device,
/// inode, birth, owner and links as the journal recorded them.
bool isTheFile(const Header& h, int fd, const struct stat& fs) {
  const std::optional<Identity> id = identityOf(fd, "", AT_EMPTY_PATH);
  if (!id || !madeFor(h, *id)) return false;
  return h.version == kVersion1 ||
         (h.device == static_cast<std::uint64_t>(fs.st_dev) && h.uid == fs.st_uid &&
          h.links == static_cast<std::uint64_t>(fs.st_nlink));
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

/// Whether user `uid` may write the file (or could have when it was saved):
/// root, its owner, this user (whose own journal it is), a member of its
/// group when the group may write it, anyone when everyone may. Only such a
/// user's journal is trusted: anyone else who may create files in the
/// folder could plant one.
bool mayHaveWritten(uid_t uid, const struct stat& fs) {
  if (uid == 0 || uid == fs.st_uid || uid == ::geteuid()) return true;
  if (fs.st_mode & S_IWOTH) return true;
  if (!(fs.st_mode & S_IWGRP)) return false;
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  if (::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return false;
  if (pw.pw_gid == fs.st_gid) return true;
  int count = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(count));
  if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<std::size_t>(count));
    if (::getgrouplist(pw.pw_name, pw.pw_gid, groups.data(), &count) < 0) return false;
  }
  groups.resize(static_cast<std::size_t>(count));
  return std::find(groups.begin(), groups.end(), fs.st_gid) != groups.end();
}

/// A place for a journal: a folder and a name in it.
struct Place {
  Fd folder;
  std::string name;
  std::string path;
  bool besideFile = false;  ///< in the file's own folder
  bool marked = false;      ///< found through the file's mark
  int folderError = 0;      ///< why the folder a mark names cannot be opened
};

Fd duplicate(int fd) {
  return Fd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
}

Place inFileFolder(int folder, const std::string& folderPath, std::uint64_t inode) {
  const std::string name = kJournalPrefix + hex(inode);
  return {duplicate(folder), name, joinPath(folderPath, name), true, false};
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
Place inPrivateFolder(const std::string& folder, const std::string& fileFolder, std::uint64_t inode,
                      bool create) {
  Place p;
  p.name = hex(hashOf(fileFolder)) + "-" + hex(inode);
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

/// The place the file's mark names, if it has one.
std::optional<Place> markedPlace(int fd) {
  std::string value(4096, '\0');
  const ssize_t n = ::fgetxattr(fd, kJournalMark, value.data(), value.size());
  if (n <= 0) return std::nullopt;
  value.resize(static_cast<std::size_t>(n));
  const std::size_t slash = value.rfind('/');
  if (value[0] != '/' || slash == std::string::npos || slash + 1 == value.size())
    return std::nullopt;
  Place p;
  p.name = value.substr(slash + 1);
  p.path = value;
  p.marked = true;
  p.folder.reset(
      ::open(slash == 0 ? "/" : value.substr(0, slash).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return p;
}

bool removeAt(const Place& p) {
  if (::unlinkat(p.folder.get(), p.name.c_str(), 0) != 0) return false;
  syncFolder(p.folder.get());
  return true;
}

/// Moves a journal that no longer fits its file out of the way under a
/// name nothing applies; its path then, or nothing when it cannot be moved.
std::optional<std::string> setAside(const Place& p, std::uint64_t inode) {
  static std::mt19937_64 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string name =
        ".varnix-set-aside-journal-" + hex(inode) + "-" + hex(rng() & 0xffffffffULL);
    if (::renameat2(p.folder.get(), p.name.c_str(), p.folder.get(), name.c_str(),
                    RENAME_NOREPLACE) == 0) {
      syncFolder(p.folder.get());
      const std::size_t slash = p.path.rfind('/');
      return slash == std::string::npos ? name : p.path.substr(0, slash + 1) + name;
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

/// Whether `length` bytes of the file at fileAt equal those of the journal
/// at journalAt.
bool sameBytes(int file, std::uint64_t fileAt, int journal, std::uint64_t journalAt,
               std::uint64_t length) {
  std::unique_ptr<char[]> a(new char[kBlock]), b(new char[kBlock]);
  for (std::uint64_t done = 0; done < length;) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - done));
    if (readAt(file, a.get(), want, static_cast<off_t>(fileAt + done)) !=
            static_cast<ssize_t>(want) ||
        readAt(journal, b.get(), want, static_cast<off_t>(journalAt + done)) !=
            static_cast<ssize_t>(want) ||
        std::memcmp(a.get(), b.get(), want) != 0)
      return false;
    done += want;
  }
  return true;
}

/// How a file stands to the journal of its interrupted save.
enum class Fit {
  Untouched,   ///< it holds its old content: the save never changed it
  Finished,    ///< it holds the complete new content
  Restorable,  ///< a state the save leaves midway: the old content goes back
  Changed,     ///< neither: something else wrote the file since
};

/// Compares the file, page by page, with what the journal says was done to
/// it: the blocks announced hold new pages (their hashes agree) and old ones
/// (the journal's bytes agree) in the order a save and a restore of it
/// leave them: old pages a restore put back, at most one page it cut short,
/// new pages, then (in the last block only, where the save was stopped) at
/// most one page cut short and old pages; after the blocks the old content;
/// a length those writes leave.
Fit fitOf(int file, std::uint64_t size, int journal, const Header& h) {
  const std::uint64_t old = h.oldLength, oldAt = h.length;
  const std::optional<std::uint64_t> whole = hashRange(file, 0, size);
  if (!whole) return Fit::Changed;
  if (size == old && *whole == h.oldHash) return Fit::Untouched;
  if (h.version == kVersion1)
    return size == h.newLength && *whole == h.newHash ? Fit::Finished : Fit::Changed;
  const std::vector<Record> records = recordsOf(journal, oldAt + old);
  std::uint64_t end = 0, lowest = old;
  std::size_t lastBlock = records.size();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].kind == kEndRecord) {
      if (size == records[i].end && *whole == records[i].hashes[0]) return Fit::Finished;
      lowest = std::min(old, records[i].end);
    } else {
      lastBlock = i;
    }
  }
  for (const Record& r : records)
    if (r.kind == kBlockRecord) end = std::max(end, r.end);
  if (size < lowest || size > std::max(old, end)) return Fit::Changed;
  enum { Restored, New, Left } state = Restored;
  bool restoreCut = false;
  std::uint64_t at = 0;
  std::string inFile, inOld;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Record& r = records[i];
    if (r.kind != kBlockRecord) continue;
    if (r.end <= at || r.hashes.size() != (r.end - at + kPage - 1) / kPage) return Fit::Changed;
    // The block as the file has it now and as it was.
    const std::size_t length = static_cast<std::size_t>(r.end - at);
    inFile.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, size > at ? size - at : 0)));
    inOld.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(length, old > at ? old - at : 0)));
    if (readAt(file, inFile.data(), inFile.size(), static_cast<off_t>(at)) !=
            static_cast<ssize_t>(inFile.size()) ||
        readAt(journal, inOld.data(), inOld.size(), static_cast<off_t>(oldAt + at)) !=
            static_cast<ssize_t>(inOld.size()))
      return Fit::Changed;
    for (std::size_t p = 0; p < r.hashes.size(); ++p) {
      const std::size_t from = p * kPage, to = std::min(length, from + kPage);
      const bool isNew = to <= inFile.size() &&
                         hashOf(std::string_view(inFile).substr(from, to - from)) == r.hashes[p];
      // Old where the bytes agree, and where the file and the old content
      // both end before.
      const std::size_t fileTo = std::min(to, inFile.size()), oldTo = std::min(to, inOld.size());
      const bool wasOld = fileTo == oldTo &&
                          (fileTo <= from || std::memcmp(inFile.data() + from, inOld.data() + from,
                                                         fileTo - from) == 0);
      if (state == Restored && !wasOld) {
        if (!isNew) {
          if (restoreCut) return Fit::Changed;
          restoreCut = true;
        }
        state = New;
      } else if (state == New && !isNew) {
        // Where the save was stopped: in its last block only.
        if (i != lastBlock) return Fit::Changed;
        state = Left;
        if (!wasOld) continue;  // the page it was cut short in
      } else if (state == Left && !wasOld) {
        return Fit::Changed;
      }
    }
    at = r.end;
  }
  // After the blocks, the old content as it was, and nothing more.
  if (size <= at) return Fit::Restorable;
  return size <= old && sameBytes(file, at, journal, oldAt + at, size - at) ? Fit::Restorable
                                                                            : Fit::Changed;
}

/// Writes the journal's old content back into the file and checks it.
bool putBack(int journal, const Header& h, int target) {
  StreamHash restored;
  std::uint64_t copied = 0;
  int err = 0;
  return copyBlocks(journal, static_cast<off_t>(h.length), target, 0, h.oldLength, restored, copied,
                    err) &&
         copied == h.oldLength && ::ftruncate(target, static_cast<off_t>(h.oldLength)) == 0 &&
         ::fsync(target) == 0 && hashRange(target, 0, h.oldLength) == h.oldHash;
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
    // A missing home is not made here: the journal goes to the temporary
    // folder instead.
    struct stat home {};
    if (::stat(h, &home) != 0 || !S_ISDIR(home.st_mode)) return {};
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

bool lockWithin(int fd, int operation) {
  for (int attempt = 0;; ++attempt) {
    if (::flock(fd, operation | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return true;  // no locks here
    if (attempt >= 200) return false;
    ::usleep(10000);
  }
}

JournalCheck checkInterruptedSave(int folder, const std::string& folderPath, int fd,
                                  const std::string& shown, bool exclusive) {
  JournalCheck check;
  for (int round = 0; round < 2; ++round) {
    struct stat fs {};
    if (::fstat(fd, &fs) != 0) return check;
    const std::uint64_t inode = static_cast<std::uint64_t>(fs.st_ino);
    std::vector<Place> places;
    places.push_back(inFileFolder(folder, folderPath, inode));
    if (std::optional<Place> marked = markedPlace(fd)) places.push_back(std::move(*marked));
    for (const std::string& own : privateFolders())
      places.push_back(inPrivateFolder(own, folderPath, inode, false));
    bool needExclusive = false;
    for (Place& place : places) {
      auto unreadable = [&](int err) {
        check.refusal = "it may be half written by an interrupted save, whose journal " +
                        place.path + " cannot be read (" + systemErrorText(err) + ")";
        return std::move(check);
      };
      if (!place.folder && place.marked && place.folderError != ENOENT &&
          place.folderError != ENOTDIR)
        return unreadable(place.folderError);
      if (!place.folder) continue;
      // Only a regular file is opened: a mark may name anything.
      struct stat js {};
      if (::fstatat(place.folder.get(), place.name.c_str(), &js, AT_SYMLINK_NOFOLLOW) != 0) {
        const int err = errno;
        if (place.marked && err != ENOENT) return unreadable(err);
        // A mark whose journal is gone: the save ended.
        if (place.marked) ::fremovexattr(fd, kJournalMark);
        continue;
      }
      if (!S_ISREG(js.st_mode)) continue;
      Fd j(::openat(place.folder.get(), place.name.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
      // A journal this user may not read, of someone who may write the file:
      // the file may be half written and nothing here can tell.
      if (!j && errno != ENOENT && mayHaveWritten(js.st_uid, fs)) return unreadable(errno);
      if (!j) continue;
      if (::fstat(j.get(), &js) != 0 || !S_ISREG(js.st_mode) || !mayHaveWritten(js.st_uid, fs))
        continue;
      Header h;
      const JournalKind kind = decode(j.get(), static_cast<std::uint64_t>(js.st_size), h);
      if (kind == JournalKind::Foreign) continue;
      // A writer (of an earlier Varnix, which does not lock the file) or a
      // restorer still at work.
      if (::flock(j.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 &&
          (errno == EWOULDBLOCK || (kind == JournalKind::Ours && writerRuns(h)))) {
        check.busy = true;
        return check;
      }
      if (::fstat(j.get(), &js) != 0 || js.st_nlink == 0) continue;  // removed meanwhile
      const bool complete = kind == JournalKind::Ours &&
                            static_cast<std::uint64_t>(js.st_size) >= h.length + h.oldLength &&
                            hashRange(j.get(), h.length, h.oldLength) == h.oldHash;
      // Made for another file: one the file's mark names belongs to the file
      // the mark was copied from.
      const bool forThisFile = complete && isTheFile(h, fd, fs);
      if (complete && !forThisFile && !place.besideFile) {
        if (place.marked) ::fremovexattr(fd, kJournalMark);
        continue;
      }
      const Fit fit = forThisFile ? fitOf(fd, static_cast<std::uint64_t>(fs.st_size), j.get(), h)
                                  : Fit::Changed;
      bool canWrite = true;
      Fd target;
      if (complete && fit == Fit::Restorable) {
        // The file already open and checked, opened again for writing (not
        // by its name, which may lead elsewhere by now).
        target.reset(::open(("/proc/self/fd/" + std::to_string(fd)).c_str(),
                            O_RDWR | O_NONBLOCK | O_CLOEXEC));
        struct stat ts {};
        canWrite = target && ::fstat(target.get(), &ts) == 0 && ts.st_dev == fs.st_dev &&
                   ts.st_ino == fs.st_ino;
        if (!canWrite) {
          const int err = target ? EIO : errno;
          check.notice = shown +
                         " was left half written by an interrupted save and cannot be restored (" +
                         systemErrorText(err) + "); its old content was read from " + place.path;
          check.oldContent = std::move(j);
          check.offset = h.length;
          check.length = h.oldLength;
          return check;
        }
      }
      if (!exclusive) {
        needExclusive = true;
        break;
      }
      // The file was never touched (the journal is incomplete, or the file
      // still holds its old content) or holds the new one: the journal goes.
      if (!complete || fit == Fit::Untouched || fit == Fit::Finished) {
        if (removeAt(place) && place.marked) ::fremovexattr(fd, kJournalMark);
        continue;
      }
      if (fit == Fit::Changed) {
        const std::optional<std::string> aside = setAside(place, h.inode);
        if (aside && place.marked) ::fremovexattr(fd, kJournalMark);
        const std::string where = aside ? "was set aside as " + *aside : "is " + place.path;
        check.notice = shown;
        check.notice += h.version == kVersion1
                            ? " may be half written by an interrupted save of an earlier Varnix, "
                              "whose journal cannot tell; the file was left as it is and the "
                              "journal "
                            : " was changed since an interrupted save, so its old content was "
                              "not put back; the journal of that save ";
        check.notice += where;
        continue;
      }
      if (putBack(j.get(), h, target.get())) {
        if (removeAt(place) && place.marked) ::fremovexattr(fd, kJournalMark);
        check.notice = "Restored " + shown + " from an interrupted save";
        return check;
      }
      check.refusal =
          "it was left half written by an interrupted save and cannot be restored; "
          "its old content is in " +
          place.path;
      return check;
    }
    if (!needExclusive) return check;
    if (!lockWithin(fd, LOCK_EX)) {
      check.busy = true;
      return check;
    }
    exclusive = true;
  }
  return check;
}

JournalCheck recoverInterruptedSave(const PathTarget& t, const struct stat&,
                                    const std::string& shown) {
  const Fd fd(
      ::openat(t.folder.get(), t.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat fs {};
  if (!fd || ::fstat(fd.get(), &fs) != 0 || !S_ISREG(fs.st_mode)) return {};
  if (!lockWithin(fd.get(), LOCK_SH)) {
    JournalCheck busy;
    busy.busy = true;
    return busy;
  }
  return checkInterruptedSave(t.folder.get(), t.folderPath, fd.get(), shown);
}

int SaveJournal::create(const PathTarget& t, const struct stat& st, int targetFd,
                        std::string& why) {
  // Readable as the file is; written only by its writer.
  const mode_t mode = st.st_mode & 0644;
  const std::uint64_t inode = static_cast<std::uint64_t>(st.st_ino);

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
      // Root saving another's file gives the journal to the file's owner,
      // who may then read it. Group members of the file may read the journal
      // only if it has the file's group.
      if (::geteuid() == 0 && js.st_uid != st.st_uid) ::fchown(fd.get(), st.st_uid, st.st_gid);
      if ((m & S_IRWXG) && ::fstat(fd.get(), &js) == 0 && js.st_gid != st.st_gid &&
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

  m_target = targetFd;
  Place here = inFileFolder(t.folder.get(), t.folderPath, inode);
  const int hereErr = open(here, mode);
  if (hereErr != 0) {
    // The folder takes no new file (or a stranger's file has the name): a
    // folder of the user's own, the journal readable by the user alone, and
    // a mark on the file itself that tells every reader where it is.
    why = "no place to keep its old content while it is rewritten (" + t.folderPath + ": " +
          systemErrorText(hereErr);
    bool placed = false;
    for (const std::string& folder : privateFolders()) {
      Place there = inPrivateFolder(folder, t.folderPath, inode, true);
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
    if (::fsetxattr(targetFd, kJournalMark, m_path.data(), m_path.size(), 0) != 0) {
      const int err = errno;
      why =
          "its folder takes no new file and the file takes no mark that would tell others "
          "reading it of an unfinished save (" +
          systemErrorText(err) + ")";
      remove();
      return err;
    }
    m_marked = true;
    why.clear();
  }
  writeStep();

  Header h;
  h.pid = static_cast<std::uint64_t>(::getpid());
  h.start = ownStart();
  h.device = static_cast<std::uint64_t>(st.st_dev);
  h.inode = inode;
  h.uid = st.st_uid;
  h.gid = st.st_gid;
  h.links = static_cast<std::uint64_t>(st.st_nlink);
  if (const std::optional<Identity> id = identityOf(targetFd, "", AT_EMPTY_PATH)) {
    h.hasBirth = id->hasBirth;
    h.birthSeconds = id->birthSeconds;
    h.birthNanoseconds = id->birthNanoseconds;
  }
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
    ok = writeAllAt(m_fd.get(), encode(h), 0, err);
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
  m_recordAt = m_offset + m_length;
  syncFolder(m_folder.get());
  writeStep();
  return 0;
}

int SaveJournal::record(std::uint32_t kind, std::uint64_t end, std::vector<std::uint64_t> hashes) {
  const std::string record = encodeRecord({kind, end, std::move(hashes)});
  int err = 0;
  if (!writeAllAt(m_fd.get(), record, static_cast<off_t>(m_recordAt), err)) return err;
  // On disk before the bytes it announces.
  if (::fdatasync(m_fd.get()) != 0) return errno;
  m_recordAt += record.size();
  return 0;
}

int SaveJournal::recordBlock(std::uint64_t at, std::string_view bytes) {
  std::vector<std::uint64_t> pages;
  for (std::size_t from = 0; from < bytes.size(); from += kPage)
    pages.push_back(hashOf(bytes.substr(from, kPage)));
  return record(kBlockRecord, at + bytes.size(), std::move(pages));
}

int SaveJournal::recordNewContent(std::uint64_t length, std::uint64_t hash) {
  const int err = record(kEndRecord, length, {hash});
  if (err == 0) writeStep();
  return err;
}

void SaveJournal::remove() {
  if (!m_fd) return;
  if (::unlinkat(m_folder.get(), m_name.c_str(), 0) == 0) {
    syncFolder(m_folder.get());
    if (m_marked) ::fremovexattr(m_target, kJournalMark);
  }
  m_fd.reset();
}

bool SaveJournal::restore(int targetFd) {
  Header h;
  h.length = static_cast<std::uint32_t>(m_offset);
  h.oldLength = m_length;
  h.oldHash = m_hash;
  const bool ok = putBack(m_fd.get(), h, targetFd);
  if (ok) remove();
  return ok;
}

}  // namespace varnix

#endif
