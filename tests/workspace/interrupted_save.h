#pragma once

// Saves that are killed in the middle, as kill -9 would end them: the save
// runs in a child process that the write-step hook stops at a chosen step.

#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "test_util.h"
#include "workspace/file_io.h"

namespace varnix::test {

/// Runs body in a child process (as user `uid` when given and this process
/// is root, with group `gid` or else the group of the same number) and waits
/// for it; returns the wait status.
inline int inChild(const std::function<void()>& body, std::optional<uid_t> uid = std::nullopt,
                   std::optional<gid_t> gid = std::nullopt) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (uid && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(gid.value_or(*uid)) != 0 || ::setuid(*uid) != 0))
      ::_exit(3);
    body();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return status;
}

inline bool killed(int status) {
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

namespace detail {
inline int g_stepsLeft = 0;
inline std::string g_watched;
inline std::string g_original;
inline std::size_t g_watchedFrom = 0;
inline void killAtStep() {
  if (--g_stepsLeft == 0) ::raise(SIGKILL);
}
inline void killOnceTouched() {
  const std::string now = readFile(g_watched);
  if (now.size() < g_watchedFrom || g_original.size() < g_watchedFrom ||
      now.compare(g_watchedFrom, std::string::npos, g_original, g_watchedFrom) != 0)
    ::raise(SIGKILL);
}
}  // namespace detail

/// Saves content to path in a child killed after `steps` steps of an
/// in-place write. True when it was killed, false when it finished first.
inline bool saveKilledAtStep(const std::string& path, const std::string& content, int steps) {
  return killed(inChild([&] {
    detail::g_stepsLeft = steps;
    setWriteStepHook(detail::killAtStep);
    ::_exit(writeFileAtomically(path, content).ok ? 0 : 1);
  }));
}

/// Saves content to path in a child (as user uid, see inChild) killed at the
/// first step after which the file no longer holds its old content (from
/// byte `from` on). True when it was killed there.
inline bool saveKilledOnceTouched(const std::string& path, const std::string& content,
                                  std::optional<uid_t> uid = std::nullopt, std::size_t from = 0,
                                  std::optional<gid_t> gid = std::nullopt) {
  detail::g_watched = path;
  detail::g_original = readFile(path);
  detail::g_watchedFrom = from;
  return killed(inChild(
      [&] {
        setWriteStepHook(detail::killOnceTouched);
        ::_exit(writeFileAtomically(path, content).ok ? 0 : 1);
      },
      uid, gid));
}

/// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : m_name(name) {
    if (const char* old = std::getenv(name)) m_old = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (m_old)
      ::setenv(m_name, m_old->c_str(), 1);
    else
      ::unsetenv(m_name);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

/// Data-file text of n lines whose every line differs with tag.
inline std::string numberedLines(std::size_t n, int tag) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i)
    s += std::to_string(i) + " " + std::to_string(static_cast<int>(i % 1000) * tag) + ".25\r\n";
  return s;
}

/// Gives the file a second hard link (so that it is saved in place) in a
/// folder of its own, which the file's folder does not show; returns its path.
inline std::string linkElsewhere(const std::string& path) {
  static TempDir links;
  static int count = 0;
  const std::string link = links.file(std::to_string(++count));
  std::filesystem::create_hard_link(path, link);
  return link;
}

/// A file whose in-place save was killed halfway: path (given a second
/// hard link elsewhere for the save) holds part new, part old content (new
/// at least up to byte `from`), and the journal of the save is kept.
inline void interruptedSave(const std::string& path, const std::string& old,
                            const std::string& content, std::size_t from = 0) {
  writeFile(path, old);
  linkElsewhere(path);
  saveKilledOnceTouched(path, content, std::nullopt, from);
}

}  // namespace varnix::test
