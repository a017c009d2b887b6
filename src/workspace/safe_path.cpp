#include "workspace/safe_path.h"

#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <vector>

namespace varnix {

void Fd::reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string PathTarget::path() const {
  return joinPath(folderPath, name);
}

namespace {

/// The components of a path text ("." and empty ones left out), and whether
/// its end can only be a folder ("a/", "a/.", "a/..").
struct Components {
  std::deque<std::string> parts;
  bool endsAsFolder = false;
};

Components split(const std::string& text) {
  Components c;
  std::size_t start = 0;
  std::string lastRaw;
  while (start <= text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    lastRaw = text.substr(start, end - start);
    if (!lastRaw.empty() && lastRaw != ".") c.parts.push_back(lastRaw);
    start = end + 1;
  }
  c.endsAsFolder = lastRaw.empty() || lastRaw == "." || lastRaw == "..";
  return c;
}

/// The folder being walked: its descriptor and its path text.
struct Place {
  Fd fd;
  std::vector<std::string> names;  // below the root, or below "." when relative
  bool absolute = true;

  std::string text() const {
    std::string t = absolute ? "/" : ".";
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (i > 0 || !absolute) t += '/';
      t += names[i];
    }
    return t;
  }
};

int openRoot(Place& at) {
  at.fd.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
  at.names.clear();
  at.absolute = true;
  return at.fd ? 0 : errno;
}

int openWorkingFolder(Place& at) {
  at.fd.reset(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!at.fd) return errno;
  at.names.clear();
  at.absolute = true;
  std::vector<char> buf(4096);
  for (;;) {
    if (::getcwd(buf.data(), buf.size())) break;
    if (errno != ERANGE || buf.size() > (1u << 20)) {
      // The working folder has no name (removed): paths stay relative.
      at.absolute = false;
      return 0;
    }
    buf.resize(buf.size() * 2);
  }
  const Components c = split(buf.data());
  at.names.assign(c.parts.begin(), c.parts.end());
  return 0;
}

/// The kernel's rule for links in sticky world-writable folders.
bool linkMayBeFollowed(const struct stat& folder, const struct stat& link) {
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

}  // namespace

int walkToTarget(const std::string& path, FinalLink finalLink, PathTarget& out, std::string& why) {
  if (path.empty()) return ENOENT;
  Place at;
  if (int e = path[0] == '/' ? openRoot(at) : openWorkingFolder(at)) return e;
  Components todo = split(path);
  out.finalLinkFollowed = false;
  int hops = 0;
  while (!todo.parts.empty()) {
    const std::string name = std::move(todo.parts.front());
    todo.parts.pop_front();
    const bool last = todo.parts.empty();
    if (last && todo.endsAsFolder) return EISDIR;
    if (name == "..") {
      Fd up(::openat(at.fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (!up) return errno;
      at.fd = std::move(up);
      if (at.absolute) {
        if (!at.names.empty()) at.names.pop_back();  // "/.." is "/"
      } else if (!at.names.empty() && at.names.back() != "..") {
        at.names.pop_back();
      } else {
        at.names.push_back("..");
      }
      continue;
    }
    struct stat st {};
    if (::fstatat(at.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      const int err = errno;
      if (err != ENOENT || !last) return err;
      st.st_mode = 0;  // nothing there yet: the final name of a new file
    }
    if (S_ISLNK(st.st_mode) && !(last && finalLink == FinalLink::Keep)) {
      struct stat folder {};
      if (::fstat(at.fd.get(), &folder) != 0) return errno;
      if (!linkMayBeFollowed(folder, st)) {
        why = joinPath(at.text(), name) + " is another user's symbolic link in a shared folder";
        return EACCES;
      }
      if (++hops > 40) return ELOOP;
      std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
      const ssize_t n = ::readlinkat(at.fd.get(), name.c_str(), target.data(), target.size());
      if (n < 0) return errno;
      target.resize(static_cast<std::size_t>(n));
      if (target.empty()) return ENOENT;
      Components spliced = split(target);
      if (last) {
        todo.endsAsFolder = spliced.endsAsFolder;
        out.finalLinkFollowed = true;
      }
      todo.parts.insert(todo.parts.begin(), spliced.parts.begin(), spliced.parts.end());
      if (target[0] == '/')
        if (int e = openRoot(at)) return e;
      // A link to "/" or "." as the last component names a folder.
      if (todo.parts.empty()) return EISDIR;
      continue;
    }
    if (last) {
      out.folder = std::move(at.fd);
      out.folderPath = at.text();
      out.name = name;
      return 0;
    }
    if (!S_ISDIR(st.st_mode)) return ENOTDIR;
    Fd next(::openat(at.fd.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return errno;
    at.fd = std::move(next);
    at.names.push_back(name);
  }
  return EISDIR;  // "/", "." and the like
}

}  // namespace varnix

#endif
