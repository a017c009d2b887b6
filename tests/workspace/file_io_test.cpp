#include "workspace/file_io.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <thread>

#include "test_util.h"
#include "workspace/interrupted_save.h"
#include "workspace/save_journal.h"

namespace varnix {
namespace {

using test::numberedLines;
using test::readFile;
using test::ScopedEnv;
using test::TempDir;
using test::writeFile;
namespace fs = std::filesystem;

constexpr uid_t kOther = 65534;
const bool kRoot = ::geteuid() == 0;

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteFileAtomically, ReplacesTheFileALinkNamesAndKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir.file("real"));
  writeFile(dir.file("real/a.dat"), "old");
  fs::create_symlink("real/a.dat", dir.file("link.dat"));
  ASSERT_TRUE(writeFileAtomically(dir.file("link.dat"), "new").ok);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.dat")));
  EXPECT_EQ(readFile(dir.file("real/a.dat")), "new");
  // A dangling link: the file it names is created.
  fs::create_symlink("real/b.dat", dir.file("dangling.dat"));
  ASSERT_TRUE(writeFileAtomically(dir.file("dangling.dat"), "b").ok);
  EXPECT_TRUE(fs::is_symlink(dir.file("dangling.dat")));
  EXPECT_EQ(readFile(dir.file("real/b.dat")), "b");
  EXPECT_EQ(namesIn(dir.file("real")), (std::vector<std::string>{"a.dat", "b.dat"}));
}

TEST(WriteFileAtomically, HardLinksStayLinked) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "old content that is longer");
  fs::create_hard_link(dir.file("a.dat"), dir.file("b.dat"));
  ASSERT_TRUE(writeFileAtomically(dir.file("a.dat"), "new").ok);
  EXPECT_EQ(readFile(dir.file("b.dat")), "new");
  EXPECT_EQ(fs::hard_link_count(dir.file("a.dat")), 2u);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "b.dat"}));
}

TEST(WriteFileAtomically, KeepsModeAndOwner) {
  TempDir dir;
  const std::string p = dir.file("a.dat");
  writeFile(p, "old");
  ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) ASSERT_EQ(::chown(p.c_str(), 65534, 65534), 0);
  ASSERT_TRUE(writeFileAtomically(p, "new").ok);
  struct stat st {};
  ASSERT_EQ(::stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_EQ(readFile(p), "new");
}

TEST(WriteFileAtomically, RefusesWhatMayNotOrCannotBeWritten) {
  TempDir dir;
  writeFile(dir.file("ro.dat"), "keep");
  ::chmod(dir.file("ro.dat").c_str(), 0444);
  fs::create_directory(dir.file("folder.dat"));
  struct Case {
    std::string path;
    std::string message;
  };
  const std::vector<Case> cases = {
      {dir.file("ro.dat"), "Could not write " + dir.file("ro.dat") + ": Existing file " +
                               dir.file("ro.dat") + " is not writable"},
      {dir.file("folder.dat"), "Could not write " + dir.file("folder.dat") + ": Is a directory"},
      {dir.path() + "/", "Could not write " + dir.path() + "/: Is a directory"},
      {dir.file("none/a.dat"),
       "Could not write " + dir.file("none/a.dat") + ": No such file or directory"},
      {"/dev/null", "Could not write /dev/null: not a regular file"},
  };
  for (const Case& c : cases) {
    const WriteResult r = writeFileAtomically(c.path, "new");
    EXPECT_FALSE(r.ok) << c.path;
    EXPECT_EQ(r.message, c.message);
  }
  EXPECT_EQ(readFile(dir.file("ro.dat")), "keep");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"folder.dat", "ro.dat"}));
}

TEST(WriteFileAtomically, NamesUpToTheSystemLimitAndNoTemporaryLeft) {
  TempDir dir;
  const std::string longName = std::string(251, 'n') + ".dat";
  ASSERT_TRUE(writeFileAtomically(dir.file(longName), "x").ok);
  ASSERT_TRUE(writeFileAtomically(dir.file(longName), "y").ok);
  EXPECT_EQ(readFile(dir.file(longName)), "y");
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{longName});
}

TEST(WriteFileAtomically, RemovesTemporariesOfDeadWritersOnly) {
  TempDir dir;
  writeFile(dir.file(".varnix-0badf00d.tmp"), "left by a killed save");
  writeFile(dir.file(".varnix-00c0ffee.tmp"), "a save in progress");
  writeFile(dir.file(".varnix-note.txt"), "not ours");
  const int held = ::open(dir.file(".varnix-00c0ffee.tmp").c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  // flock locks belong to the open file: a second open must not get it.
  ASSERT_TRUE(writeFileAtomically(dir.file("a.dat"), "a").ok);
  ::close(held);
  EXPECT_EQ(namesIn(dir.path()),
            (std::vector<std::string>{".varnix-00c0ffee.tmp", ".varnix-note.txt", "a.dat"}));
}

TEST(ReadFileInBlocks, ReadsOnlyRegularFilesAndSaysWhy) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "1 2\n");
  fs::create_directory(dir.file("folder"));
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
  fs::create_symlink(dir.file("gone"), dir.file("dangling"));
  // A file of the system that reports no size and never ends, also
  // through a link someone placed.
  fs::create_symlink("/proc/self/pagemap", dir.file("planted.dat"));
  const std::string endless = "it went on far beyond the 0 bytes it had when opened";
  struct Case {
    std::string path;
    ReadStatus status;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {dir.file("a.dat"), ReadStatus::Ok, ""},
      {dir.file("missing"), ReadStatus::Missing, ""},
      {dir.file("dangling"), ReadStatus::Missing, ""},
      {dir.file("a.dat/x"), ReadStatus::Missing, ""},
      {dir.file("folder"), ReadStatus::Failed, "Is a directory"},
      {dir.file("fifo"), ReadStatus::NotRegular, "not a regular file"},
      {"/dev/zero", ReadStatus::NotRegular, "not a regular file"},
      {"/proc/self/pagemap", ReadStatus::Overrun, endless},
      {dir.file("planted.dat"), ReadStatus::Overrun, endless},
  };
  for (const Case& c : cases) {
    std::string got = "before";
    const ReadResult r = readWholeFile(c.path, got);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.reason, c.reason) << c.path;
    if (!r.ok()) EXPECT_EQ(got, "") << c.path;
  }
}

TEST(ReadWholeFile, AFileLargerThanTheMemoryIsRefusedBeforeItIsRead) {
  TempDir dir;
  const std::string path = dir.file("huge.dat");
  writeFile(path, "1 2\n");
  // A sparse terabyte: nothing on disk, far more than this machine's memory.
  std::error_code ec;
  std::filesystem::resize_file(path, std::uint64_t{1} << 40, ec);
  if (ec) GTEST_SKIP() << "no sparse file here: " << ec.message();
  std::string got;
  const ReadResult r = readWholeFile(path, got);
  EXPECT_EQ(r.status, ReadStatus::NoMemory);
  EXPECT_EQ(r.reason, "not enough memory");
  EXPECT_TRUE(got.empty());
}

TEST(ReadFileInBlocks, BlocksJoinToTheWholeFile) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 10000; ++i) bytes += std::to_string(i * 7919 % 10007) + "\r\n";
  writeFile(dir.file("a.dat"), bytes);
  for (std::size_t block : {1u, 3u, 4096u, 1u << 20}) {
    std::string joined;
    std::size_t calls = 0;
    const ReadResult r = readFileInBlocks(
        dir.file("a.dat"),
        [&](std::string_view b, std::uint64_t size) {
          EXPECT_EQ(size, bytes.size());
          EXPECT_LE(b.size(), block);
          joined.append(b);
          ++calls;
        },
        block);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(joined, bytes);
    EXPECT_EQ(calls, (bytes.size() + block - 1) / block);
  }
}

}  // namespace
}  // namespace varnix

namespace varnix {
namespace {

std::vector<std::string> journalsIn(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : namesIn(dir))
    if (name.rfind(".varnix-journal-", 0) == 0) found.push_back(dir + "/" + name);
  return found;
}

struct stat statusOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

// The in-place save (a file with a second hard link) killed after each of
// its steps in turn, read back through either name.
// The in-place save (a file with a second hard link) killed after each of
// its steps in turn, read back through either name; run as root, the file
// is another user's, who reads it after every other kill.
TEST(InPlaceSave, AKillAtAnyStepLeavesTheOldOrTheNewContent) {
  struct Case {
    const char* what;
    std::size_t oldLines, newLines;
  };
  for (const Case& c : {Case{"longer", 150000, 220000}, Case{"shorter", 220000, 150000}}) {
    SCOPED_TRACE(c.what);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat"), b = dir.file("b.dat");
    const std::string old = numberedLines(c.oldLines, 3), fresh = numberedLines(c.newLines, 7);
    writeFile(a, old);
    fs::create_hard_link(a, b);
    if (kRoot)
      for (const std::string& p : {dir.path(), a}) ASSERT_EQ(::chown(p.c_str(), kOther, kOther), 0);
    int mixes = 0;
    for (int step = 1;; ++step) {
      SCOPED_TRACE(step);
      ASSERT_LT(step, 100);
      writeFile(a, old);
      const bool wasKilled = test::saveKilledAtStep(a, fresh, step);
      const std::string raw = readFile(a);
      const bool mixed = raw != old && raw != fresh;
      mixes += mixed;
      const std::string name = step % 2 ? a : b;
      const int status = test::inChild(
          [&] {
            std::string got;
            const ReadResult r = readWholeFile(name, got);
            ::_exit(r.ok() && (got == old || got == fresh) && got == readFile(a) &&
                            r.notice ==
                                (mixed ? "Restored " + name + " from an interrupted save" : "")
                        ? 0
                        : 1);
          },
          kRoot && step % 2 ? std::optional<uid_t>(kOther) : std::nullopt);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      const std::string now = readFile(a);
      EXPECT_TRUE(now == old || now == fresh);
      EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "b.dat"}));
      if (!wasKilled) {
        EXPECT_TRUE(now == fresh);
        break;
      }
    }
    // Kills fell after the first and before the last block of new content.
    EXPECT_GE(mixes, 3);
  }
}

TEST(InPlaceSave, KillsAtRandomMomentsLeaveTheOldOrTheNewContent) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(600000, 3), fresh = numberedLines(500000, 7);
  writeFile(a, old);
  fs::create_hard_link(a, dir.file("b.dat"));
  // One whole save, to spread the kills over its length.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_FALSE(test::saveKilledAtStep(a, fresh, 0));
  const std::chrono::duration<double> whole = std::chrono::steady_clock::now() - start;
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(seed);
  std::mt19937 rng(seed);
  for (int round = 0; round < 12; ++round) {
    writeFile(a, old);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(writeFileAtomically(a, fresh).ok ? 0 : 1);
    std::this_thread::sleep_for(whole * std::uniform_real_distribution<double>(0.0, 1.2)(rng));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::string got;
    ASSERT_TRUE(readWholeFile(a, got).ok());
    EXPECT_TRUE(got == old || got == fresh) << "round " << round;
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "b.dat"}));
  }
}

TEST(InPlaceSave, EveryLaterReadOrSaveOfTheFileRestoresItAndNoOtherSaveRemovesTheJournal) {
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  struct Case {
    const char* what;
    std::function<std::string(const std::string&)> touch;  // returns the notice
    bool oldContentAfter;
  };
  const std::vector<Case> cases = {
      {"read",
       [](const std::string& p) {
         std::string got;
         return readWholeFile(p, got).notice;
       },
       true},
      {"looked at", [](const std::string& p) { return recoverInterruptedSave(p); }, true},
      {"saved",
       [](const std::string& p) {
         const WriteResult w = writeFileAtomically(p, "saved again\r\n");
         EXPECT_TRUE(w.ok);
         return w.notice;
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat");
    test::interruptedSave(a, old, fresh);
    const std::string mixed = readFile(a);
    ASSERT_NE(mixed, old);
    ASSERT_NE(mixed, fresh);
    ASSERT_EQ(journalsIn(dir.path()).size(), 1u);
    // Saves of other files in the folder, by rename and in place.
    ASSERT_TRUE(writeFileAtomically(dir.file("c.dat"), "c").ok);
    writeFile(dir.file("d.dat"), "d");
    fs::create_hard_link(dir.file("d.dat"), dir.file("e.dat"));
    ASSERT_TRUE(writeFileAtomically(dir.file("d.dat"), "dd").ok);
    EXPECT_EQ(readFile(a), mixed);
    EXPECT_EQ(journalsIn(dir.path()).size(), 1u);

    EXPECT_EQ(c.touch(a), "Restored " + a + " from an interrupted save");
    EXPECT_EQ(readFile(a), c.oldContentAfter ? old : "saved again\r\n");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "c.dat", "d.dat", "e.dat"}));
    EXPECT_EQ(readFile(dir.file("e.dat")), "dd");
  }
}

TEST(InPlaceSave, TheFileIsRestoredUnderANewName) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string old = numberedLines(150000, 3);
  test::interruptedSave(dir.file("a.dat"), old, numberedLines(220000, 7));
  fs::rename(dir.file("a.dat"), dir.file("b.dat"));
  ASSERT_TRUE(writeFileAtomically(dir.file("c.dat"), "c").ok);  // no orphan yet
  std::string got;
  EXPECT_EQ(readWholeFile(dir.file("b.dat"), got).notice,
            "Restored " + dir.file("b.dat") + " from an interrupted save");
  EXPECT_EQ(got, old);
  EXPECT_TRUE(journalsIn(dir.path()).empty());
}

TEST(InPlaceSave, AWriteThatFailsPutsTheOldContentBackAtOnce) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(100000, 3), fresh = numberedLines(200000, 7);
  writeFile(a, old);
  fs::create_hard_link(a, dir.file("b.dat"));
  // Files may not grow beyond the journal's size: the new content fails.
  const int status = test::inChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlim_t limit = old.size() + 64 * 1024;
    const struct rlimit lim { limit, limit };
    ::setrlimit(RLIMIT_FSIZE, &lim);
    const WriteResult r = writeFileAtomically(a, fresh);
    ::_exit(!r.ok && r.message == "Could not write " + a + ": File too large" ? 0 : 1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(readFile(a), old);
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "b.dat"}));
}

TEST(InPlaceSave, ARestoreThatIsItselfKilledIsDoneAgainByTheNextRead) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(150000, 3);
  // New content written over the first three blocks: putting the old one
  // back takes three blocks too.
  test::interruptedSave(a, old, numberedLines(220000, 7), std::size_t{2} << 20);
  int step = 1;
  for (;; ++step) {
    ASSERT_LT(step, 50);
    const bool wasKilled = test::killed(test::inChild([&] {
      test::detail::g_stepsLeft = step;
      setWriteStepHook(test::detail::killAtStep);
      std::string got;
      readWholeFile(a, got);
    }));
    if (!wasKilled) break;
    EXPECT_EQ(journalsIn(dir.path()).size(), 1u) << step;
  }
  EXPECT_GT(step, 2);  // killed after blocks of the old content were back
  EXPECT_EQ(readFile(a), old);
  EXPECT_TRUE(journalsIn(dir.path()).empty());
}

// As an unprivileged user: root may read any file.
TEST(InPlaceSave, AFileThatMayBeWrittenButNotReadIsNotOverwrittenBlindly) {
  const uid_t user = kRoot ? kOther : ::geteuid();
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string folder = dir.file("f"), w = dir.file("f/w.dat");
  fs::create_directory(folder);
  writeFile(w, "old");
  fs::create_hard_link(w, dir.file("f/w.link"));
  for (const std::string& p : {folder, w}) ASSERT_EQ(::chown(p.c_str(), user, user), 0);
  ASSERT_EQ(::chmod(w.c_str(), 0200), 0);
  const int status = test::inChild(
      [&] {
        const WriteResult r = writeFileAtomically(w, "new");
        ::_exit(!r.ok && r.message == "Could not write " + w +
                                          ": its old content cannot be read, so it cannot be "
                                          "kept safe while the file is rewritten"
                    ? 0
                    : 1);
      },
      user);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(readFile(w), "old");
  EXPECT_EQ(namesIn(folder), (std::vector<std::string>{"w.dat", "w.link"}));
}

namespace pausing {
int g_ready = -1;
void pauseOnceTouched() {
  if (readFile(test::detail::g_watched) == test::detail::g_original) return;
  const char c = 1;
  (void)!::write(g_ready, &c, 1);
  for (;;) ::pause();
}
}  // namespace pausing

// A load waits a moment for a save in place and then says why it read
// nothing; it never shows the half-written file.
TEST(InPlaceSave, AWriterThatStillRunsIsLeftAlone) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  writeFile(a, old);
  fs::create_hard_link(a, dir.file("b.dat"));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  test::detail::g_watched = a;
  test::detail::g_original = old;
  pausing::g_ready = ready[1];
  const pid_t child = ::fork();
  if (child == 0) {
    setWriteStepHook(pausing::pauseOnceTouched);
    ::_exit(writeFileAtomically(a, fresh).ok ? 0 : 1);
  }
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  const std::string halfway = readFile(a);
  const WriteResult w = writeFileAtomically(a, "other\r\n");
  EXPECT_FALSE(w.ok);
  EXPECT_EQ(w.message, "Could not write " + a + ": another program is saving it right now");
  std::string got;
  const ReadResult r = readWholeFile(a, got);
  EXPECT_EQ(r.status, ReadStatus::Failed);
  EXPECT_EQ(r.reason, "another program is saving it right now");
  EXPECT_EQ(got, "");
  EXPECT_EQ(readFile(a), halfway);
  EXPECT_EQ(journalsIn(dir.path()).size(), 1u);
  // Even with its file moved out of the folder, a running writer's journal stays.
  TempDir away;
  fs::rename(a, away.file("a.dat"));
  fs::rename(dir.file("b.dat"), away.file("b.dat"));
  ASSERT_TRUE(writeFileAtomically(dir.file("c.dat"), "c").ok);
  EXPECT_EQ(journalsIn(dir.path()).size(), 1u);

  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  fs::rename(away.file("a.dat"), a);
  fs::rename(away.file("b.dat"), dir.file("b.dat"));
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_EQ(readWholeFile(a, got).notice, "Restored " + a + " from an interrupted save");
  EXPECT_EQ(got, old);
  EXPECT_TRUE(journalsIn(dir.path()).empty());
}

TEST(InPlaceSave, TheJournalIsReadableOnlyAsTheFileIs) {
  struct Case {
    mode_t file, folder, journal;
    bool otherGroup;
  };
  const std::vector<Case> cases = {
      {0600, 0755, 0600, false}, {0644, 0755, 0644, false},  {0640, 0755, 0640, true},
      {0666, 0755, 0644, false}, {0644, 01777, 0644, false},
  };
  const mode_t mask = ::umask(022);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string folder = dir.file("f"), a = dir.file("f/a.dat");
    fs::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), c.folder), 0);
    writeFile(a, "");
    ASSERT_EQ(::chmod(a.c_str(), c.file), 0);
    const gid_t group = c.otherGroup && kRoot ? kOther : ::getegid();
    ASSERT_EQ(::chown(a.c_str(), ::geteuid(), group), 0);
    test::interruptedSave(a, numberedLines(150000, 3), numberedLines(220000, 7));
    const std::vector<std::string> journals = journalsIn(folder);
    ASSERT_EQ(journals.size(), 1u);
    const struct stat js = statusOf(journals[0]);
    EXPECT_EQ(js.st_mode & 07777, c.journal);
    EXPECT_EQ(js.st_gid, group);
    EXPECT_EQ(recoverInterruptedSave(a), "Restored " + a + " from an interrupted save");
  }
  ::umask(mask);
}

// Run as an unprivileged user: root may create files in any folder.
/// Loads the file as `user`, in a process of its own: whether the load read
/// `content` and told a notice that starts with `notice`.
bool userLoads(const std::string& path, uid_t user, const std::string& content,
               const std::string& notice) {
  const int status = test::inChild(
      [&] {
        std::string got;
        const ReadResult r = readWholeFile(path, got);
        ::_exit(r.ok() && got == content && r.notice.rfind(notice, 0) == 0 ? 0 : 1);
      },
      user);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(InPlaceSave, AFolderThatTakesNoNewFileKeepsTheJournalInTheUsersOwnFolder) {
  const uid_t user = kRoot ? kOther : ::geteuid();
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  for (const bool stateFolderUsable : {true, false}) {
    SCOPED_TRACE(stateFolderUsable);
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string home = dir.file("home"), locked = dir.file("locked"), ro = dir.file("ro");
    const std::string w = ro + "/w.dat";
    for (const std::string& d : {home, home + "/tmp", locked, ro}) {
      fs::create_directory(d);
      if (d != locked) ASSERT_EQ(::chown(d.c_str(), user, user), 0);
    }
    writeFile(w, old);
    ASSERT_EQ(::chown(w.c_str(), user, user), 0);
    ASSERT_EQ(::chmod(w.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    ScopedEnv xdg("XDG_STATE_HOME", (stateFolderUsable ? home : locked) + "/state");
    ScopedEnv tmp("TMPDIR", home + "/tmp");

    ASSERT_TRUE(test::saveKilledOnceTouched(w, fresh, user));
    EXPECT_EQ(namesIn(ro), std::vector<std::string>{"w.dat"});
    const std::string journals = stateFolderUsable
                                     ? home + "/state/varnix/journals"
                                     : home + "/tmp/varnix-" + std::to_string(user) + "-journals";
    ASSERT_EQ(journals, stateFolderUsable ? journalStateFolder() : journals);
    const std::vector<std::string> names = namesIn(journals);
    ASSERT_EQ(names.size(), 1u);
    const struct stat js = statusOf(journals + "/" + names[0]);
    EXPECT_EQ(js.st_mode & 07777, 0600u);
    EXPECT_EQ(js.st_uid, user);
    const std::string mixed = readFile(w);
    EXPECT_TRUE(mixed != old && mixed != fresh);

    // The user's next load finds it there and restores the file.
    EXPECT_TRUE(userLoads(w, user, old, "Restored " + w + " from an interrupted save"));
    EXPECT_EQ(readFile(w), old);
    EXPECT_TRUE(namesIn(journals).empty());
  }
}

// A half-written file its user may no longer write: loads show its old
// content from the journal and say so, until the file can be restored.
TEST(InPlaceSave, AFileThatCannotBeRestoredIsReadFromItsJournal) {
  if (!kRoot) GTEST_SKIP() << "needs a second user";
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string home = dir.file("home"), ro = dir.file("ro"), w = ro + "/w.dat";
  for (const std::string& d : {home, ro}) {
    fs::create_directory(d);
    ASSERT_EQ(::chown(d.c_str(), kOther, kOther), 0);
  }
  writeFile(w, old);
  ASSERT_EQ(::chown(w.c_str(), kOther, kOther), 0);
  ASSERT_EQ(::chmod(w.c_str(), 0644), 0);
  ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
  ScopedEnv xdg("XDG_STATE_HOME", home + "/state");
  ASSERT_TRUE(test::saveKilledOnceTouched(w, fresh, kOther));
  const std::string mixed = readFile(w);
  ASSERT_TRUE(mixed != old && mixed != fresh);

  const std::string told = w +
                           " was left half written by an interrupted save and cannot be restored "
                           "(Permission denied); its old content was read from ";
  ASSERT_EQ(::chmod(w.c_str(), 0444), 0);
  for (int load = 0; load < 2; ++load) {
    EXPECT_TRUE(userLoads(w, kOther, old, told));
    EXPECT_EQ(readFile(w), mixed);
  }
  ASSERT_EQ(::chmod(w.c_str(), 0644), 0);
  EXPECT_TRUE(userLoads(w, kOther, old, "Restored " + w + " from an interrupted save"));
  EXPECT_EQ(readFile(w), old);
}

// Whoever loads a file whose save in place was killed (the owner after a
// group member or root saved it, the writer with another temporary folder,
// any other user) restores it, reads its old content from the journal, or
// refuses it saying why: never the half-written file.
TEST(InPlaceSave, EveryReaderOfAHalfSavedFileRestoresItOrRefusesIt) {
  if (!kRoot) GTEST_SKIP() << "needs several users";
  constexpr uid_t kMember = 1;  // daemon: the file's group is its own
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  enum Outcome { Restored, FromJournal, Refused };
  struct Case {
    const char* what;
    uid_t writer;
    gid_t fileGroup;
    mode_t file, folder;
    uid_t reader;
    Outcome outcome;
  };
  const std::vector<Case> cases = {
      {"the owner, after a group member saved it", kMember, kMember, 0664, 0775, kOther, Restored},
      {"the owner, after root saved it", 0, kOther, 0644, 0755, kOther, Restored},
      {"the owner of a file only they may read, after root saved it", 0, kOther, 0600, 0755, kOther,
       Restored},
      {"the writer, with another temporary folder", kOther, kOther, 0644, 0555, kOther, Restored},
      {"another user, who may not write the file", kOther, kOther, 0644, 0755, kMember,
       FromJournal},
      {"another user, who may not read the journal", kOther, kOther, 0644, 0555, kMember, Refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir.file("f"), w = folder + "/w.dat", home = dir.file("home");
    const std::string locked = dir.file("locked");
    for (const std::string& d : {folder, home, locked, home + "/a", home + "/b"}) {
      fs::create_directory(d);
      if (d != locked) ASSERT_EQ(::chown(d.c_str(), kOther, c.fileGroup), 0);
    }
    ASSERT_EQ(::chmod(home.c_str(), 0700), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0555), 0);
    writeFile(w, old);
    ASSERT_EQ(::chown(w.c_str(), kOther, c.fileGroup), 0);
    ASSERT_EQ(::chmod(w.c_str(), c.file), 0);
    test::linkElsewhere(w);
    ASSERT_EQ(::chmod(folder.c_str(), c.folder), 0);
    {
      ScopedEnv xdg("XDG_STATE_HOME", c.reader == kOther ? locked : home + "/state");
      ScopedEnv tmp("TMPDIR", home + "/a");
      ASSERT_TRUE(test::saveKilledOnceTouched(w, fresh, c.writer, 0, c.fileGroup));
    }
    const std::string mixed = readFile(w);
    ASSERT_TRUE(mixed != old && mixed != fresh);

    ScopedEnv xdg("XDG_STATE_HOME", locked);
    ScopedEnv tmp("TMPDIR", home + "/b");
    const int status = test::inChild(
        [&] {
          std::string got;
          const ReadResult r = readWholeFile(w, got);
          const bool ok =
              c.outcome == Refused ? !r.ok() && got.empty() &&
                                         r.reason.rfind(
                                             "it may be half written by an interrupted save, whose "
                                             "journal ",
                                             0) == 0
              : c.outcome == Restored
                  ? r.ok() && got == old &&
                        r.notice == "Restored " + w + " from an interrupted save"
                  : r.ok() && got == old &&
                        r.notice.rfind(w + " was left half written by an interrupted save and "
                                           "cannot be restored (Permission denied); its old "
                                           "content was read from ",
                                       0) == 0;
          if (!ok) std::fprintf(stderr, "%s|%s\n", r.reason.c_str(), r.notice.c_str());
          ::_exit(ok ? 0 : 1);
        },
        c.reader);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(readFile(w) == (c.outcome == Restored ? old : mixed));
  }
}

// Loads of a file while another process saves it in place: each shows the
// old or the new content, or waits and says that a save is under way.
TEST(InPlaceSave, LoadsDuringAnotherProcesssSaveNeverShowAMix) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(600000, 3), fresh = numberedLines(500000, 7);
  writeFile(a, old);
  test::linkElsewhere(a);
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    writeFile(a, old);
    const pid_t child = ::fork();
    if (child == 0) ::_exit(writeFileAtomically(a, fresh).ok ? 0 : 1);
    int status = 0;
    do {
      std::string got;
      const ReadResult r = readWholeFile(a, got);
      if (r.ok())
        EXPECT_TRUE(got == old || got == fresh);
      else
        EXPECT_EQ(r.reason, "another program is saving it right now");
      // Room for the writer between loads.
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (::waitpid(child, &status, WNOHANG) == 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(readFile(a) == fresh);
  }
}

// The restore writes to the file it checked, even when its name is made to
// lead to another user's file meanwhile (a hard link to root's file, where
// the system allows one).
TEST(InPlaceSave, TheRestoreWritesTheFileItChecked) {
  if (!kRoot) GTEST_SKIP() << "needs a second user";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  const std::string w = dir.file("w.dat"), mine = dir.file("root.dat");
  const std::string old = numberedLines(150000, 3);
  writeFile(mine, "root's own\r\n");
  writeFile(w, old);
  ASSERT_EQ(::chown(w.c_str(), kOther, kOther), 0);
  const std::string link = test::linkElsewhere(w);
  ASSERT_TRUE(
      test::saveKilledOnceTouched(w, numberedLines(220000, 7), kOther, std::size_t{2} << 20));
  ASSERT_FALSE(readFile(w) == old);
  fs::create_hard_link(mine, dir.file("swap"));
  test::detail::g_watched = dir.file("swap");
  test::detail::g_original = w;
  const int status = test::inChild([&] {
    // At the first block put back, the name is made to lead to root's file.
    setWriteStepHook(+[] {
      static bool done = false;
      if (!done) ::rename(test::detail::g_watched.c_str(), test::detail::g_original.c_str());
      done = true;
    });
    std::string got;
    const ReadResult r = readWholeFile(w, got);
    ::_exit(r.ok() && got == old && r.notice == "Restored " + w + " from an interrupted save" ? 0
                                                                                              : 1);
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(readFile(mine), "root's own\r\n");
  EXPECT_TRUE(readFile(link) == old);
}

// A folder that takes no new file, on a file system whose files take no
// mark: a save in place could not tell other readers of the file, so it is
// not made and the user is told why.
TEST(InPlaceSave, AFileThatTakesNoMarkInAFolderThatTakesNoFileIsNotWrittenInPlace) {
  if (!kRoot) GTEST_SKIP() << "needs to mount a file system";
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  const std::string mount = dir.file("m"), home = dir.file("home");
  const std::string w = mount + "/ro/w.dat";
  for (const std::string& d : {mount, home}) fs::create_directory(d);
  ASSERT_EQ(::chown(home.c_str(), kOther, kOther), 0);
  ScopedEnv xdg("XDG_STATE_HOME", home + "/state");
  // 0: as expected; 2: no file system without marks could be mounted.
  const int status = test::inChild([&] {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("ramfs", mount.c_str(), "ramfs", 0, nullptr) != 0 ||
        ::setxattr(mount.c_str(), "user.probe", "1", 1, 0) == 0)
      ::_exit(2);
    fs::create_directory(mount + "/ro");
    writeFile(w, "old\r\n");
    for (const std::string& p : {mount + "/ro", w})
      if (::chown(p.c_str(), kOther, kOther) != 0) ::_exit(3);
    ::chmod(mount.c_str(), 0755);
    ::chmod((mount + "/ro").c_str(), 0555);
    const int saved = test::inChild(
        [&] {
          const WriteResult r = writeFileAtomically(w, "new\r\n");
          ::_exit(!r.ok &&
                          r.message == "Could not write " + w +
                                           ": its folder takes no new file and the file takes no "
                                           "mark that would tell others reading it of an "
                                           "unfinished save (Operation not supported)" &&
                          readFile(w) == "old\r\n"
                      ? 0
                      : 1);
        },
        kOther);
    ::_exit(WIFEXITED(saved) ? WEXITSTATUS(saved) : 1);
  });
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot mount ramfs here";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(namesIn(home + "/state/varnix/journals").empty());
}

// A mark names something other than a journal (anyone who may write the
// file may set one): a FIFO is never opened, nothing is refused or changed.
TEST(InPlaceSave, AMarkIsFollowedOnlyToAJournal) {
  TempDir dir;
  const std::string a = dir.file("a.dat"), fifo = dir.file("fifo"), plain = dir.file("plain");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  writeFile(plain, "not a journal");
  for (const std::string& target :
       {fifo, plain, dir.path(), dir.file("missing"), std::string("relative"), std::string("/")}) {
    SCOPED_TRACE(target);
    writeFile(a, "1 2\r\n");
    if (::setxattr(a.c_str(), kJournalMark, target.data(), target.size(), 0) != 0)
      GTEST_SKIP() << "no extended attributes in " << dir.path();
    std::string got;
    const ReadResult r = readWholeFile(a, got);
    EXPECT_TRUE(r.ok()) << r.reason;
    EXPECT_EQ(got, "1 2\r\n");
    EXPECT_EQ(r.notice, "");
    EXPECT_TRUE(writeFileAtomically(a, "3 4\r\n").ok);
    EXPECT_EQ(readFile(plain), "not a journal");
  }
}

std::vector<std::string> setAsideIn(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : namesIn(dir))
    if (name.rfind(".varnix-set-aside-journal-", 0) == 0) found.push_back(dir + "/" + name);
  return found;
}

/// Writes bytes over the file where it stands (same inode), from `at` on.
void overwrite(const std::string& path, const std::string& bytes, std::ios::openmode how) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary | how);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Whatever wrote the file after the interrupted save: its content stays. A
// journal made for the very file is set aside, and the load says so; one
// nothing finds any more goes with the next save in the folder.
TEST(InPlaceSave, AJournalThatNoLongerFitsTheFileIsNotApplied) {
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  enum Outcome { SetAside, Orphaned, Ignored };
  struct Case {
    const char* what;
    std::function<void(const std::string& file, const std::string& journal)> meanwhile;
    Outcome outcome;
  };
  std::vector<Case> cases = {
      {"the file was replaced",
       [](const std::string& file, const std::string&) {
         writeFile(file + ".new", "replacement\r\n");
         fs::rename(file + ".new", file);
       },
       Orphaned},
      {"the file was rewritten to another size",
       [](const std::string& file, const std::string&) { writeFile(file, "rewritten\r\n"); },
       SetAside},
      {"the file was rewritten to the same length",
       [](const std::string& file, const std::string&) {
         std::string same = readFile(file);
         same[same.size() / 2] ^= 1;
         overwrite(file, same, {});
       },
       SetAside},
      {"a line was appended",
       [](const std::string& file, const std::string&) {
         overwrite(file, "1e6 1\r\n", std::ios::app);
       },
       SetAside},
      {"the last byte was changed",
       [](const std::string& file, const std::string&) {
         std::string same = readFile(file);
         same.back() ^= 1;
         overwrite(file, same, {});
       },
       SetAside},
      {"a 50 MB export was written over it",
       [](const std::string& file, const std::string&) {
         overwrite(file, std::string(std::size_t{50} << 20, '7'), {});
       },
       SetAside},
      {"a second name was linked to the file",
       [](const std::string& file, const std::string&) {
         fs::create_hard_link(file, file + ".link");
       },
       SetAside},
      {"the journal is of a later version",
       [](const std::string&, const std::string& journal) {
         std::fstream f(journal, std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(8);
         f.put('\x7f');
       },
       Ignored},
  };
  if (kRoot)
    cases.push_back({"the journal is another user's, who may not write the file",
                     [](const std::string&, const std::string& journal) {
                       ASSERT_EQ(::chown(journal.c_str(), kOther, kOther), 0);
                     },
                     Ignored});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat");
    test::interruptedSave(a, old, fresh);
    ASSERT_EQ(journalsIn(dir.path()).size(), 1u);
    c.meanwhile(a, journalsIn(dir.path())[0]);
    const std::string before = readFile(a);
    std::string got;
    const std::string notice = readWholeFile(a, got).notice;
    EXPECT_TRUE(got == before);
    EXPECT_TRUE(readFile(a) == before);
    const std::vector<std::string> aside = setAsideIn(dir.path());
    EXPECT_EQ(aside.size(), c.outcome == SetAside ? 1u : 0u);
    if (c.outcome == SetAside && aside.size() == 1) {
      EXPECT_EQ(notice, a +
                            " was changed since an interrupted save, so its old content was not "
                            "put back; the journal of that save was set aside as " +
                            aside[0]);
      EXPECT_EQ(readWholeFile(a, got).notice, "");
    } else if (c.outcome != SetAside) {
      EXPECT_EQ(notice, "");
    }
    ASSERT_TRUE(writeFileAtomically(dir.file("b.dat"), "b").ok);
    EXPECT_EQ(journalsIn(dir.path()).size(), c.outcome == Ignored ? 1u : 0u);
    EXPECT_TRUE(readFile(a) == before);
  }
}

// A journal of an earlier Varnix (version 1) knows the old content but not
// what was written: it is found, and set aside rather than trusted.
TEST(InPlaceSave, AnEarlierVersionsJournalIsNeverAppliedToAMixedFile) {
  TempDir dir, state;
  ScopedEnv env("XDG_STATE_HOME", state.path());
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(150000, 3);
  test::interruptedSave(a, old, numberedLines(220000, 7));
  for (const std::string& j : journalsIn(dir.path())) fs::remove(j);
  const std::string mixed = readFile(a);
  auto put = [](std::string& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
  };
  StreamHash oldHash;
  oldHash.add(old);
  const std::string name = "a.dat", folder = dir.path();
  std::string header = "VXJOURNL";
  put(header, 1, 4);
  put(header, 96 + name.size() + folder.size() + 8, 4);
  for (std::uint64_t v :
       {std::uint64_t{0}, std::uint64_t{0}, static_cast<std::uint64_t>(statusOf(a).st_ino),
        static_cast<std::uint64_t>(old.size()), oldHash.value(), ~std::uint64_t{0},
        std::uint64_t{0}, std::uint64_t{0}})
    put(header, v, 8);
  for (std::uint64_t v : {std::uint64_t{0}, std::uint64_t{0}, std::uint64_t{name.size()},
                          std::uint64_t{folder.size()}})
    put(header, v, 4);
  header += name + folder;
  StreamHash headerHash;
  headerHash.add(header);
  put(header, headerHash.value(), 8);
  const std::string journal = dir.file(".varnix-journal-" + [&] {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(statusOf(a).st_ino));
    return std::string(buf);
  }());
  writeFile(journal, header + old);

  std::string got;
  const ReadResult r = readWholeFile(a, got);
  EXPECT_TRUE(got == mixed);
  EXPECT_TRUE(readFile(a) == mixed);
  const std::vector<std::string> aside = setAsideIn(dir.path());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(r.notice, a +
                          " may be half written by an interrupted save of an earlier Varnix, whose "
                          "journal cannot tell; the file was left as it is and the journal was set "
                          "aside as " +
                          aside[0]);
  EXPECT_TRUE(readFile(aside[0]) == header + old);
}

// A file removed after the interrupted save, and another made under its name
// that may well get its inode number: never written over.
TEST(InPlaceSave, AFileThatTookTheInodeNumberIsNotTheJournalsFile) {
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(220000, 7);
  for (const bool sameContent : {true, false}) {
    SCOPED_TRACE(sameContent);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat");
    test::interruptedSave(a, old, fresh);
    const std::string mixed = readFile(a);
    const std::string other = sameContent ? mixed : std::string(mixed.size(), '5');
    for (int attempt = 0; attempt < 50; ++attempt) {
      // Until the system gives the new file the old one's number.
      const ino_t before = statusOf(a).st_ino;
      fs::remove(a);
      writeFile(a, other);
      if (statusOf(a).st_ino == before) break;
    }
    std::string got;
    readWholeFile(a, got);
    EXPECT_EQ(got, other);
    EXPECT_EQ(readFile(a), other);
  }
}

TEST(WriteFileAtomically, FollowsALinkInASharedFolderOnlyWhenItsOwnerIsTrusted) {
  const uid_t me = ::geteuid();
  struct Case {
    const char* what;
    mode_t folderMode;
    uid_t folderOwner, linkOwner;
    bool linkOnTheWay;  // a link to the folder rather than to the file
    bool followed;
  };
  const std::vector<Case> cases = {
      {"own link in a shared folder", 01777, me, me, false, true},
      {"another user's link", 01777, me, kOther, false, false},
      {"another user's link to a folder on the way", 01777, me, kOther, true, false},
      {"the folder owner's link", 01777, kOther, kOther, false, true},
      {"another user's link, folder not sticky", 0777, me, kOther, false, true},
      {"another user's link, sticky folder only its owner writes", 01755, me, kOther, false, true},
  };
  for (const Case& c : cases) {
    for (const bool dangling : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (dangling ? ", dangling" : ""));
      if ((c.linkOwner != me || c.folderOwner != me) && !kRoot) continue;
      TempDir dir;
      const std::string shared = dir.file("shared"), real = dir.file("real");
      fs::create_directory(shared);
      fs::create_directory(real);
      const std::string file = real + (dangling ? "/b.dat" : "/a.dat");
      writeFile(real + "/a.dat", "old");
      const std::string link = shared + (c.linkOnTheWay ? "/dir" : "/a.dat");
      fs::create_symlink(c.linkOnTheWay ? real : file, link);
      ASSERT_EQ(::lchown(link.c_str(), c.linkOwner, c.linkOwner), 0);
      ASSERT_EQ(::chown(shared.c_str(), c.folderOwner, c.folderOwner), 0);
      ASSERT_EQ(::chmod(shared.c_str(), c.folderMode), 0);
      const std::string path = c.linkOnTheWay ? link + (dangling ? "/b.dat" : "/a.dat") : link;
      const WriteResult r = writeFileAtomically(path, "new");
      EXPECT_EQ(r.ok, c.followed);
      if (c.followed) {
        EXPECT_EQ(readFile(file), "new");
      } else {
        EXPECT_EQ(r.message, "Could not write " + path + ": " + link +
                                 " is another user's symbolic link in a shared folder");
        EXPECT_EQ(namesIn(real), std::vector<std::string>{"a.dat"});
        EXPECT_EQ(readFile(real + "/a.dat"), "old");
      }
      EXPECT_TRUE(fs::is_symlink(link));
    }
  }
}

// An existing file in a sticky world-writable folder (/tmp, a shared export
// folder) is written only when it is the writer's or the folder owner's:
// another user may have put it there to read what the writer saves.
TEST(WriteFileAtomically, WritesNoFileAnotherUserPlantedInASharedFolder) {
  if (!kRoot) GTEST_SKIP() << "needs a second user";
  constexpr uid_t kThird = 65533;
  struct Case {
    const char* what;
    uid_t writer, folderOwner, fileOwner;
    mode_t folderMode;
    const char* owner;  // the user named in the refusal; null: written
  };
  const std::vector<Case> cases = {
      {"another user's file", kOther, kThird, 0, 01777, "user root"},
      {"a file of a user the system does not know", kOther, 0, kThird, 01777, "user number 65533"},
      {"root writing a user's file", 0, 0, kOther, 01777, "user nobody"},
      {"the folder owner's file", kOther, 0, 0, 01777, nullptr},
      {"the writer's own file", kOther, 0, kOther, 01777, nullptr},
      {"a folder that is not sticky", kOther, 0, kThird, 0777, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string shared = dir.file("shared"), file = shared + "/out.dat";
    fs::create_directory(shared);
    writeFile(file, "theirs");
    ASSERT_EQ(::chown(file.c_str(), c.fileOwner, c.fileOwner), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::chown(shared.c_str(), c.folderOwner, c.folderOwner), 0);
    ASSERT_EQ(::chmod(shared.c_str(), c.folderMode), 0);
    const std::string refusal = c.owner ? "Could not write " + file + ": " + file + " belongs to " +
                                              c.owner + " in a shared folder"
                                        : "";
    const int status = test::inChild(
        [&] {
          const WriteResult r = writeFileAtomically(file, "mine");
          ::_exit(r.ok == !c.owner && r.message == refusal ? 0 : 1);
        },
        c.writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readFile(file), c.owner ? "theirs" : "mine");
    EXPECT_EQ(statusOf(file).st_uid, c.fileOwner);
  }
}

// A chain of links is followed as far as the system follows one (40 links),
// no further.
TEST(WriteFileAtomically, ChainsOfLinksAsLongAsTheSystemFollows) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "old");
  fs::create_symlink("a.dat", dir.file("link1"));
  for (int k = 2; k <= 41; ++k)
    fs::create_symlink("link" + std::to_string(k - 1), dir.file("link" + std::to_string(k)));
  EXPECT_EQ(readFile(dir.file("link40")), "old");
  ASSERT_TRUE(writeFileAtomically(dir.file("link40"), "new").ok);
  EXPECT_EQ(readFile(dir.file("a.dat")), "new");
  const WriteResult r = writeFileAtomically(dir.file("link41"), "newer");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message,
            "Could not write " + dir.file("link41") + ": Too many levels of symbolic links");
  EXPECT_EQ(readFile(dir.file("a.dat")), "new");
  EXPECT_TRUE(fs::is_symlink(dir.file("link1")));
}

TEST(WriteFileAtomically, ANewFileIsCreatedOnlyWhereNothingIs) {
  TempDir dir;
  writeFile(dir.file("file.dat"), "keep");
  fs::create_symlink(dir.file("elsewhere.dat"), dir.file("dangling.dat"));
  fs::create_symlink(dir.file("file.dat"), dir.file("link.dat"));
  fs::create_directory(dir.file("folder.dat"));
  for (const char* name : {"file.dat", "dangling.dat", "link.dat", "folder.dat"}) {
    const WriteResult r = writeFileAtomically(dir.file(name), "new", WriteMode::CreateNew);
    EXPECT_FALSE(r.ok) << name;
    EXPECT_EQ(r.message, "Could not write " + dir.file(name) +
                             ": another file of that name appeared since the name was chosen");
  }
  ASSERT_TRUE(writeFileAtomically(dir.file("free.dat"), "new", WriteMode::CreateNew).ok);
  EXPECT_EQ(readFile(dir.file("free.dat")), "new");
  EXPECT_EQ(readFile(dir.file("file.dat")), "keep");
  EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"dangling.dat", "file.dat", "folder.dat",
                                                           "free.dat", "link.dat"}));
}

TEST(FileNames, EntriesAndDanglingLinks) {
  TempDir dir;
  writeFile(dir.file("a.dat"), "a");
  fs::create_directory(dir.file("sub"));
  fs::create_symlink("a.dat", dir.file("toA"));
  fs::create_symlink("missing.dat", dir.file("dangling"));
  fs::create_symlink("dangling", dir.file("chain"));
  fs::create_symlink("sub", dir.file("toSub"));
  fs::create_symlink("../gone.dat", dir.file("sub/up"));
  struct Case {
    std::string path;
    bool entry;
    std::optional<std::string> dangling;
  };
  const std::vector<Case> cases = {
      {dir.file("a.dat"), true, std::nullopt},
      {dir.file("missing.dat"), false, std::nullopt},
      {dir.file("toA"), true, std::nullopt},
      {dir.file("dangling"), true, dir.file("missing.dat")},
      {dir.file("chain"), true, dir.file("missing.dat")},
      {dir.file("toSub/new.dat"), false, std::nullopt},
      {dir.file("toSub/up"), true, dir.file("gone.dat")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(entryExists(c.path), c.entry) << c.path;
    EXPECT_EQ(danglingLinkTarget(c.path), c.dangling) << c.path;
  }
}

std::optional<std::string> attribute(const std::string& path, const char* name) {
  char buf[256];
  const ssize_t n = ::getxattr(path.c_str(), name, buf, sizeof buf);
  if (n < 0) return std::nullopt;
  return std::string(buf, static_cast<std::size_t>(n));
}

/// A POSIX ACL as the kernel stores it: version 2, then (tag, permissions, id).
std::string aclValue(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string v;
  auto put = [&v](std::uint32_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v += static_cast<char>((x >> (8 * i)) & 0xff);
  };
  put(2, 4);
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  return v;
}

constexpr std::uint32_t kAny = 0xffffffff;

TEST(WriteFileAtomically, KeepsExtendedAttributesAndAccessLists) {
  TempDir dir;
  const std::string a = dir.file("a.dat");
  writeFile(a, "old");
  ASSERT_EQ(::chmod(a.c_str(), 0640), 0);
  const std::string origin = "spectrometer 3";
  if (::setxattr(a.c_str(), "user.origin", origin.data(), origin.size(), 0) != 0)
    GTEST_SKIP() << "no extended attributes in " << dir.path();
  const std::string acl = aclValue(
      {{0x01, 6, kAny}, {0x02, 4, kOther}, {0x04, 4, kAny}, {0x10, 4, kAny}, {0x20, 0, kAny}});
  ASSERT_EQ(::setxattr(a.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
  const std::optional<std::string> aclBefore = attribute(a, "system.posix_acl_access");
  const ino_t before = statusOf(a).st_ino;
  ASSERT_TRUE(writeFileAtomically(a, "new").ok);
  EXPECT_NE(statusOf(a).st_ino, before);  // replaced, not written in place
  EXPECT_EQ(readFile(a), "new");
  EXPECT_EQ(attribute(a, "user.origin"), origin);
  EXPECT_EQ(attribute(a, "system.posix_acl_access"), aclBefore);
  EXPECT_EQ(statusOf(a).st_mode & 07777, 0640u);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.dat"});
}

TEST(WriteFileAtomically, AddsNoPermissionThroughTheFoldersDefaultAccessListOrTheUmask) {
  TempDir dir;
  const std::string shared = dir.file("shared"), a = shared + "/a.dat";
  fs::create_directory(shared);
  const std::string inherited = aclValue(
      {{0x01, 7, kAny}, {0x02, 7, kOther}, {0x04, 5, kAny}, {0x10, 7, kAny}, {0x20, 5, kAny}});
  if (::setxattr(shared.c_str(), "system.posix_acl_default", inherited.data(), inherited.size(),
                 0) != 0)
    GTEST_SKIP() << "no access lists in " << dir.path();
  writeFile(a, "old");
  ::removexattr(a.c_str(), "system.posix_acl_access");
  ASSERT_EQ(::chmod(a.c_str(), 0600), 0);
  ASSERT_TRUE(writeFileAtomically(a, "new").ok);
  EXPECT_EQ(readFile(a), "new");
  EXPECT_EQ(attribute(a, "system.posix_acl_access"), std::nullopt);
  EXPECT_EQ(statusOf(a).st_mode & 07777, 0600u);

  // A new file takes the umask.
  const mode_t mask = ::umask(027);
  ASSERT_TRUE(writeFileAtomically(dir.file("new.dat"), "n").ok);
  ::umask(mask);
  EXPECT_EQ(statusOf(dir.file("new.dat")).st_mode & 07777, 0640u);
}

// The journal's hash is computed as the bytes go, in blocks of whatever size
// the writer hands over, and compared with one read back in other blocks.
TEST(StreamHash, DoesNotDependOnTheBlocksAndSeesEveryByte) {
  std::mt19937 rng(5);
  auto hashOf = [](std::string_view s, const std::vector<std::size_t>& cuts) {
    StreamHash h;
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
      h.add(s.substr(at, cut - at));
      at = cut;
    }
    h.add(s.substr(at));
    return h.value();
  };
  for (std::size_t n = 0; n <= 40; ++n) {
    SCOPED_TRACE(n);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    const std::uint64_t whole = hashOf(s, {});
    std::vector<std::size_t> everyByte;
    for (std::size_t i = 1; i < n; ++i) everyByte.push_back(i);
    EXPECT_EQ(hashOf(s, everyByte), whole);
    for (std::size_t a = 0; a <= n; ++a)
      for (std::size_t b = a; b <= n; ++b) ASSERT_EQ(hashOf(s, {a, b}), whole) << a << " " << b;
    // Any one byte changed, or a zero byte more, gives another hash.
    for (std::size_t i = 0; i < n; ++i) {
      std::string t = s;
      t[i] = static_cast<char>(t[i] ^ 0x01);
      EXPECT_NE(hashOf(t, {}), whole) << i;
    }
    EXPECT_NE(hashOf(s + std::string(1, '\0'), {}), whole);
    // Journals already on disk keep their meaning: words of eight bytes,
    // little-endian, then the bytes left over and the length.
    std::uint64_t h = 1469598103934665603ULL;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      std::uint64_t w = 0;
      for (std::size_t k = 0; k < 8; ++k)
        w |= std::uint64_t{static_cast<unsigned char>(s[i + k])} << (8 * k);
      h = (h ^ w) * 0x9E3779B97F4A7C15ULL;
      h ^= h >> 29;
    }
    for (; i < n; ++i) h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    h = (h ^ n) * 0x9E3779B97F4A7C15ULL;
    EXPECT_EQ(whole, h ^ (h >> 32));
  }
}

// Saves whose content is made as it is written.

namespace streaming {
int g_steps = 0;
void countStep() {
  ++g_steps;
}
}  // namespace streaming

/// Appends text in pieces of 100 KiB and throws once `failAt` bytes are
/// made (never when failAt is beyond the text).
ContentProducer piecesThenFailure(const std::string& text, std::size_t failAt) {
  return [&text, failAt](ContentSink& out) {
    for (std::size_t at = 0; at < text.size(); at += 100 * 1024) {
      if (at >= failAt) throw std::runtime_error("the source went away");
      out.append(std::string_view(text).substr(at, 100 * 1024));
    }
  };
}

/// How the old file stands before a save: missing, alone, or with a second
/// hard link (written in place).
enum class Before { Missing, Alone, HardLinked };

struct SaveSetup {
  const char* what;
  Before before;
};
const SaveSetup kSetups[] = {{"new file", Before::Missing},
                             {"replaced file", Before::Alone},
                             {"file written in place", Before::HardLinked}};

std::vector<std::string> prepare(const TempDir& dir, Before before, const std::string& old) {
  const std::string a = dir.file("a.dat");
  if (before != Before::Missing) writeFile(a, old);
  if (before == Before::HardLinked) fs::create_hard_link(a, dir.file("b.dat"));
  if (before == Before::Missing) return {};
  if (before == Before::Alone) return {"a.dat"};
  return {"a.dat", "b.dat"};
}

TEST(StreamedSave, AProducerFailingMidwayLeavesTheOldFileAndSaysWhy) {
  const std::string old = numberedLines(150000, 3), fresh = numberedLines(250000, 7);
  ASSERT_GT(fresh.size(), std::size_t{3} << 20);
  for (const SaveSetup& c : kSetups) {
    SCOPED_TRACE(c.what);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat");
    const std::vector<std::string> names = prepare(dir, c.before, old);
    streaming::g_steps = 0;
    setWriteStepHook(streaming::countStep);
    const WriteResult r = writeFileAtomically(a, piecesThenFailure(fresh, std::size_t{5} << 19));
    setWriteStepHook(nullptr);
    // Two blocks had gone to the file before the failure.
    EXPECT_GE(streaming::g_steps, 2);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errorNumber, ECANCELED);
    EXPECT_EQ(r.message, "Could not write " + a + ": the source went away");
    EXPECT_EQ(namesIn(dir.path()), names);
    if (c.before != Before::Missing) EXPECT_EQ(readFile(a), old);
    EXPECT_TRUE(namesIn(state.path()).empty());
    // The same save with nothing failing.
    ASSERT_TRUE(writeFileAtomically(a, piecesThenFailure(fresh, fresh.size())).ok);
    EXPECT_EQ(readFile(a), fresh);
    EXPECT_EQ(namesIn(dir.path()),
              c.before == Before::Missing ? std::vector<std::string>{"a.dat"} : names);
  }
}

namespace spoiling {
std::string g_path, g_fresh;
/// Changes the first byte of the file once it holds all of the new content,
/// as another program or a failing disk might.
void spoilOnceWritten() {
  if (g_fresh.empty() || readFile(g_path) != g_fresh) return;
  std::fstream f(g_path, std::ios::in | std::ios::out | std::ios::binary);
  f.put('#');
  g_fresh.clear();
}
}  // namespace spoiling

TEST(StreamedSave, ANewContentThatDoesNotReadBackIsNotKept) {
  for (const bool longer : {true, false}) {
    SCOPED_TRACE(longer);
    TempDir dir, state;
    ScopedEnv env("XDG_STATE_HOME", state.path());
    const std::string a = dir.file("a.dat");
    const std::string old = numberedLines(longer ? 100000 : 250000, 3),
                      fresh = numberedLines(longer ? 250000 : 100000, 7);
    const std::vector<std::string> names = prepare(dir, Before::HardLinked, old);
    spoiling::g_path = a;
    spoiling::g_fresh = fresh;
    setWriteStepHook(spoiling::spoilOnceWritten);
    const WriteResult r = writeFileAtomically(a, fresh);
    setWriteStepHook(nullptr);
    EXPECT_TRUE(spoiling::g_fresh.empty());  // it was spoilt
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "Could not write " + a + ": Input/output error");
    EXPECT_EQ(readFile(a), old);
    EXPECT_EQ(namesIn(dir.path()), names);
  }
}

// A full disk: a small file system of its own, mounted where only a child
// process sees it.
TEST(StreamedSave, AFullDiskLeavesTheOldFileAndSaysSo) {
  const std::string old = numberedLines(60000, 3), fresh = numberedLines(400000, 7);
  for (const SaveSetup& c : kSetups) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string mount = dir.file("small"), a = mount + "/a.dat";
    fs::create_directory(mount);
    // 0: as expected; 2: no file system of its own could be mounted.
    const int status = test::inChild([&] {
      if (::unshare(CLONE_NEWNS) != 0 ||
          ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
          ::mount("tmpfs", mount.c_str(), "tmpfs", 0, "size=3m") != 0)
        ::_exit(2);
      if (c.before != Before::Missing) writeFile(a, old);
      if (c.before == Before::HardLinked) fs::create_hard_link(a, mount + "/b.dat");
      const std::vector<std::string> before = namesIn(mount);
      const WriteResult r = writeFileAtomically(a, fresh);
      const bool kept = c.before == Before::Missing || readFile(a) == old;
      ::_exit(!r.ok && r.message == "Could not write " + a + ": No space left on device" && kept &&
                      namesIn(mount) == before
                  ? 0
                  : 1);
    });
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
      GTEST_SKIP() << "cannot mount a small file system here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
}

// A save by rename killed after each block it wrote: the file keeps its old
// content, and nothing of the killed save stays in the folder.
TEST(StreamedSave, AKillAfterAnyBlockLeavesTheOldFileAndNoTrace) {
  TempDir dir;
  const std::string a = dir.file("a.dat");
  const std::string old = numberedLines(100000, 3), fresh = numberedLines(250000, 7);
  int kills = 0;
  for (int step = 1;; ++step) {
    SCOPED_TRACE(step);
    ASSERT_LT(step, 20);
    writeFile(a, old);
    const bool wasKilled = test::saveKilledAtStep(a, fresh, step);
    if (!wasKilled) {
      EXPECT_EQ(readFile(a), fresh);
      break;
    }
    ++kills;
    EXPECT_EQ(readFile(a), old);
    // A temporary of a dead writer is gone with the next save in the folder.
    ASSERT_TRUE(writeFileAtomically(dir.file("c.dat"), "c").ok);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"a.dat", "c.dat"}));
    fs::remove(dir.file("c.dat"));
  }
  // One kill per block but the last, after which the save completes.
  EXPECT_EQ(kills, static_cast<int>((fresh.size() + (std::size_t{1} << 20) - 1) >> 20));
}

}  // namespace
}  // namespace varnix
