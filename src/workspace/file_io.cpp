#include "workspace/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <random>

#if !defined(_WIN32)
#include <dirent.h>
#include <fcntl.h>
#include <locale.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
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
    return readFileInBlocks(path, [&](std::string_view block, std::uint64_t size) {
      if (first) content.reserve(static_cast<std::size_t>(size));
      first = false;
      content.append(block);
    });
  } catch (const std::bad_alloc&) {
    content.clear();
    content.shrink_to_fit();
    return {ReadStatus::NoMemory, "not enough memory", 0};
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
  if (ec || !std::filesystem::exists(status)) return {ReadStatus::Missing, {}, 0};
  if (std::filesystem::is_directory(status)) return {ReadStatus::Failed, "Is a directory", 0};
  if (!std::filesystem::is_regular_file(status))
    return {ReadStatus::NotRegular, "not a regular file", 0};
  ReadResult r;
  r.size = std::filesystem::file_size(path, ec);
  std::ifstream in(path, std::ios::binary);
  if (!in) return {ReadStatus::Failed, "Permission denied", r.size};
  std::unique_ptr<char[]> buf(new char[blockSize]);
  while (in) {
    in.read(buf.get(), static_cast<std::streamsize>(blockSize));
    const auto n = static_cast<std::size_t>(in.gcount());
    if (n > 0) sink(std::string_view(buf.get(), n), r.size);
  }
  if (in.bad()) return {ReadStatus::Failed, "Input/output error", r.size};
  return r;
}

WriteResult writeFileAtomically(const std::string& path, std::string_view content) {
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
  const std::string tmp = path + ".varnix-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return failure("cannot create the file");
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(tmp, ec);
      return failure("the disk refused the data");
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

#else

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

ReadResult readFileInBlocks(const std::string& path, const BlockSink& sink, std::size_t blockSize) {
  ReadResult r;
  auto failed = [&](int err) {
    r.status = ReadStatus::Failed;
    r.reason = systemErrorText(err);
    return r;
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
  if (r.size > availableMemory()) {
    r.status = ReadStatus::NoMemory;
    r.reason = "not enough memory";
    return r;
  }
  // O_NONBLOCK: should the name have become a FIFO since the stat, the open
  // must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return failed(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  if (::fstat(fd, &st) != 0) return failed(errno);
  if (!S_ISREG(st.st_mode)) {
    r.status = ReadStatus::NotRegular;
    r.reason = "not a regular file";
    return r;
  }
  r.size = static_cast<std::uint64_t>(st.st_size);
  const std::size_t bufSize = static_cast<std::size_t>(
      std::min<std::uint64_t>(blockSize, std::max<std::uint64_t>(r.size + 1, 4096)));
  std::unique_ptr<char[]> buf(new char[bufSize]);
  for (;;) {
    std::size_t filled = 0;
    // Fill the whole block where the file allows: the reader's work per
    // block does not depend on how the system splits reads.
    while (filled < bufSize) {
      const ssize_t n = ::read(fd, buf.get() + filled, bufSize - filled);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        if (filled > 0) sink(std::string_view(buf.get(), filled), r.size);
        return failed(err);
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    if (filled > 0) sink(std::string_view(buf.get(), filled), r.size);
    if (filled < bufSize) break;
  }
  return r;
}

namespace {

WriteResult failure(const std::string& path, int err, const std::string& why = {}) {
  WriteResult r;
  r.ok = false;
  r.errorNumber = err;
  r.message = "Could not write " + path + ": " + (why.empty() ? systemErrorText(err) : why);
  return r;
}

std::string directoryOf(const std::string& path) {
  auto pos = path.rfind('/');
  if (pos == std::string::npos) return ".";
  if (pos == 0) return "/";
  return path.substr(0, pos);
}

std::string inFolder(const std::string& dir, const std::string& name) {
  return dir == "/" ? "/" + name : dir + "/" + name;
}

constexpr const char* kTempPrefix = ".varnix-";
constexpr const char* kTempSuffix = ".tmp";

std::string randomTempName() {
  static std::mt19937_64 rng{std::random_device{}()};
  char name[40];
  std::snprintf(name, sizeof name, "%s%08llx%s", kTempPrefix,
                static_cast<unsigned long long>(rng() & 0xffffffffULL), kTempSuffix);
  return name;
}

/// Follows symbolic links until the name of a file that is not a link (or
/// does not exist); relative targets count from the link's folder.
bool resolveLinks(std::string& path, int& err) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      err = errno;
      return false;
    }
    target.resize(static_cast<std::size_t>(n));
    if (target.empty() || target[0] != '/') target = inFolder(directoryOf(path), target);
    path = target;
  }
  err = ELOOP;
  return false;
}

/// Removes the temporary files in dir that a killed writer left behind: a
/// living writer holds a lock on its file, a dead one no longer does.
void removeStaleTemporaries(const std::string& dir) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const int dfd = ::dirfd(d);
  const std::size_t prefix = std::strlen(kTempPrefix), suffix = std::strlen(kTempSuffix);
  while (const dirent* e = ::readdir(d)) {
    const std::string_view name = e->d_name;
    if (name.size() != prefix + 8 + suffix || name.substr(0, prefix) != kTempPrefix ||
        name.substr(name.size() - suffix) != kTempSuffix)
      continue;
    const int fd = ::openat(dfd, e->d_name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0)
      ::unlinkat(dfd, e->d_name, 0);
    ::close(fd);
  }
  ::closedir(d);
}

bool writeAll(int fd, std::string_view content, off_t offset, int& err) {
  const char* p = content.data();
  std::size_t left = content.size();
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

/// A complete temporary file in dir holding content, locked while open.
/// Returns the open descriptor and its name, or -1 and the error.
int writeNamedTemporary(const std::string& dir, std::string_view content, std::string& name,
                        int& err) {
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    name = inFolder(dir, randomTempName());
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) {
      err = errno;
      return -1;
    }
  }
  if (fd < 0) {
    err = EEXIST;
    return -1;
  }
  ::flock(fd, LOCK_EX);
  if (!writeAll(fd, content, 0, err) || ::fsync(fd) != 0) {
    if (err == 0) err = errno;
    ::unlink(name.c_str());
    ::close(fd);
    return -1;
  }
  return fd;
}

/// Overwrites target in place (its links, owner and mode stay). The old
/// content is copied first, into the folder or else the system's temporary
/// folder, and written back if the new content cannot be written whole.
WriteResult writeInPlace(const std::string& path, const std::string& target,
                         std::string_view content) {
  std::string old;
  const bool haveOld = readWholeFile(target, old).ok();
  const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return failure(path, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};

  std::string backup;
  int backupFd = -1, err = 0;
  if (haveOld) {
    backupFd = writeNamedTemporary(directoryOf(target), old, backup, err);
    if (backupFd < 0) {
      std::error_code ec;
      const std::string tmpDir = std::filesystem::temp_directory_path(ec).string();
      if (!ec) backupFd = writeNamedTemporary(tmpDir, old, backup, err);
    }
  }
  // Claim the space first: a full disk then fails before a byte changes.
  if (content.size() > old.size()) {
    const int e = ::posix_fallocate(fd, 0, static_cast<off_t>(content.size()));
    if (e == ENOSPC || e == EFBIG || e == EDQUOT) {
      if (backupFd >= 0) {
        ::unlink(backup.c_str());
        ::close(backupFd);
      }
      if (haveOld) (void)::ftruncate(fd, static_cast<off_t>(old.size()));
      return failure(path, e);
    }
  }
  err = 0;
  const bool written = writeAll(fd, content, 0, err) &&
                       ::ftruncate(fd, static_cast<off_t>(content.size())) == 0 && ::fsync(fd) == 0;
  if (!written && err == 0) err = errno;
  if (written) {
    if (backupFd >= 0) {
      ::unlink(backup.c_str());
      ::close(backupFd);
    }
    return {};
  }
  int restoreErr = 0;
  const bool restored = haveOld && writeAll(fd, old, 0, restoreErr) &&
                        ::ftruncate(fd, static_cast<off_t>(old.size())) == 0 && ::fsync(fd) == 0;
  if (backupFd >= 0) {
    if (restored) {
      ::unlink(backup.c_str());
    } else {
      // Keep the copy under a name that no later write removes.
      const std::string kept = inFolder(directoryOf(backup), ".varnix-old-" + fileNameOf(backup));
      if (::rename(backup.c_str(), kept.c_str()) == 0) backup = kept;
    }
    ::close(backupFd);
  }
  WriteResult r = failure(path, err);
  if (!restored && backupFd >= 0) r.message += "; the old content is kept in " + backup;
  return r;
}

}  // namespace

WriteResult writeFileAtomically(const std::string& path, std::string_view content) {
  std::string target = path;
  int err = 0;
  if (!resolveLinks(target, err)) return failure(path, err);
  if (fileNameOf(target).empty()) return failure(path, EISDIR);

  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return failure(path, EISDIR);
  if (exists && !S_ISREG(st.st_mode)) return failure(path, EINVAL, "not a regular file");
  if (exists) {
    // Root may write anything; a file without any write permission is
    // still not meant to be replaced.
    const bool writable = ::geteuid() == 0
                              ? (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 &&
                                    ::access(target.c_str(), W_OK) == 0
                              : ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
    if (!writable) {
      if (errno == EROFS) return failure(path, EROFS);
      return failure(path, EACCES, "Existing file " + path + " is not writable");
    }
  }

  const std::string dir = directoryOf(target);
  removeStaleTemporaries(dir);
  if (exists && st.st_nlink > 1) return writeInPlace(path, target, content);

  int fd = -1;
  std::string tmp;
  bool unnamed = false;
#ifdef O_TMPFILE
  // An unnamed file vanishes by itself if the program is killed; it gets its
  // name only just before the rename.
  if (::access("/proc/self/fd", X_OK) == 0) {
    fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      unnamed = true;
    } else if (errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOSPC ||
               errno == EDQUOT) {
      err = errno;
    }
  }
#endif
  if (fd < 0 && err == 0) {
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
      tmp = inFolder(dir, randomTempName());
      fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd < 0 && errno != EEXIST) {
        err = errno;
        break;
      }
    }
    if (fd < 0 && err == 0) err = EEXIST;
  }
  if (fd < 0) {
    // A folder that takes no new file: write the file itself where allowed.
    if (exists && (err == EACCES || err == EPERM)) return writeInPlace(path, target, content);
    return failure(path, err);
  }
  ::flock(fd, LOCK_EX);
  auto abandon = [&](int e) {
    if (!unnamed || !tmp.empty()) ::unlink(tmp.c_str());
    ::close(fd);
    return failure(path, e);
  };
  if (exists) {
    // Owner and group (before the mode: a change of owner clears the set-id
    // bits). A file of another owner that this user may write but not give
    // away is written in place instead, so that it stays theirs.
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
      if (!unnamed) ::unlink(tmp.c_str());
      ::close(fd);
      return writeInPlace(path, target, content);
    }
    ::fchmod(fd, st.st_mode & 07777);
  }
  if (!writeAll(fd, content, 0, err)) return abandon(err);
  if (::fsync(fd) != 0) return abandon(errno);
  if (unnamed) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 16; ++attempt) {
      tmp = inFolder(dir, randomTempName());
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tmp.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      err = errno;
      tmp.clear();
      if (err != EEXIST) break;
    }
    if (tmp.empty()) {
      ::close(fd);
      return failure(path, err);
    }
  }
  if (::rename(tmp.c_str(), target.c_str()) != 0) return abandon(errno);
  ::close(fd);
  // Make the rename itself durable.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return {};
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

#endif

std::string fileNameOf(const std::string& path) {
  auto pos = path.rfind('/');
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

}  // namespace varnix
