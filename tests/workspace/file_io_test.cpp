#include "workspace/file_io.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "test_util.h"

namespace varnix {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
namespace fs = std::filesystem;

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
  };
  for (const Case& c : cases) {
    std::string got;
    const ReadResult r = readWholeFile(c.path, got);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.reason, c.reason) << c.path;
  }
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
