#pragma once

// Walking a path to the file a write goes to, one folder at a time, so that
// no symbolic link is followed that the rule of shared folders forbids and
// the final file is then reached without following any further link.
// POSIX only; used by file_io.cpp and save_journal.cpp.

#if !defined(_WIN32)

#include <string>

namespace varnix {

/// An open file descriptor, closed at the end of its life.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : m_fd(other.release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~Fd() { reset(); }
  int get() const { return m_fd; }
  explicit operator bool() const { return m_fd >= 0; }
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int m_fd = -1;
};

/// Where a path leads: an open folder and the final name in it, which is not
/// a symbolic link (unless it was asked to be kept) and may not exist yet.
struct PathTarget {
  Fd folder;                       ///< the folder, opened with O_PATH
  std::string folderPath;          ///< its path text, absolute when the working folder is known
  std::string name;                ///< the final name in that folder
  bool finalLinkFollowed = false;  ///< the path's last component was a link that led here
  /// folderPath and name joined.
  std::string path() const;
};

/// Whether a final symbolic link is followed to its file or is itself the target.
enum class FinalLink { Follow, Keep };

/// Walks path component by component. A symbolic link in a folder that is
/// sticky and world-writable (/tmp, shared export folders) is followed only
/// when it belongs to this user or to the folder's owner, as the kernel's
/// protected_symlinks rule says; otherwise the walk is refused with EACCES
/// and `why` names the link. A path ending in '/' is a folder (EISDIR).
/// Returns 0 or an errno value.
int walkToTarget(const std::string& path, FinalLink finalLink, PathTarget& out, std::string& why);

/// folder + "/" + name (one separator).
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace varnix

#endif
