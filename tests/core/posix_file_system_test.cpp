// The POSIX file system: which names the listing returns, and what a replace
// leaves behind when it succeeds, is refused, or fails part-way.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "core/file_system.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::PatternBytes;
using testing::TempFolder;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  std::vector<std::string> Listed() { return testing::ListedCards(*fs_, folder_.Folder()); }

  Status Replace(FileSystem& fs, const std::string& name, const Bytes& bytes) {
    const ByteView piece(bytes);
    return fs.ReplaceWhole(folder_ / name, std::span<const ByteView>(&piece, 1));
  }

  TempFolder folder_;
  std::unique_ptr<FileSystem> fs_ = NewPlatformFileSystem();
};

TEST_F(PosixFileSystemTest, ListsVisibleRegularCardsInAnyCase) {
  for (const char* name : {"a.mcd", "B.MCD", "c.Mcd", "d.mem", "e.bin", "f.mcd1", "g.mcd.bak",
                           ".hidden.mcd", "caf\xC3\xA9.mcd", "bad\xFF\xFE.mcd", "mcd"}) {
    folder_.Write(name, {1});
  }
  EXPECT_EQ(Listed(), (std::vector<std::string>{"B.MCD", "a.mcd", "bad\xFF\xFE.mcd", "c.Mcd",
                                                "caf\xC3\xA9.mcd"}));
}

TEST_F(PosixFileSystemTest, ListsLinksToFilesButNoOtherKindOfEntry) {
  folder_.Write("real.bin", {1});
  std::filesystem::create_directory(folder_.path() / "dir.mcd");
  ASSERT_EQ(mkfifo((folder_ / "pipe.mcd").c_str(), 0644), 0);
  std::filesystem::create_symlink(folder_.path() / "real.bin", folder_.path() / "link.mcd");
  std::filesystem::create_symlink(folder_.path() / "gone", folder_.path() / "dangling.mcd");
  std::filesystem::create_symlink(folder_.path() / "dir.mcd", folder_.path() / "dirlink.mcd");
  EXPECT_EQ(Listed(), std::vector<std::string>{"link.mcd"});
}

TEST_F(PosixFileSystemTest, RefusesToListWhatIsNoFolder) {
  folder_.Write("file", {1});
  Status status;
  EXPECT_EQ(fs_->ListCards(folder_ / "missing/", &status), nullptr);
  EXPECT_EQ(status.kind(), Status::Kind::kNotFound);
  EXPECT_EQ(fs_->ListCards(folder_ / "file/", &status), nullptr);
  EXPECT_FALSE(status.ok());
}

TEST_F(PosixFileSystemTest, GivesLengthsOfFilesOnly) {
  folder_.Write("a.mcd", PatternBytes(1234));
  std::filesystem::create_directory(folder_.path() / "dir.mcd");
  EXPECT_EQ(fs_->FileLength(folder_ / "a.mcd"), 1234u);
  EXPECT_EQ(fs_->FileLength(folder_ / "dir.mcd"), std::nullopt);
  EXPECT_EQ(fs_->FileLength(folder_ / "missing.mcd"), std::nullopt);
}

TEST_F(PosixFileSystemTest, ReadingAPipeFailsInsteadOfWaiting) {
  ASSERT_EQ(mkfifo((folder_ / "pipe.mcd").c_str(), 0644), 0);
  Bytes out;
  EXPECT_FALSE(fs_->ReadWhole(folder_ / "pipe.mcd", &out).ok());
}

TEST_F(PosixFileSystemTest, LeavesAReadOnlyTargetAloneEvenForRoot) {
  const Bytes old_bytes = PatternBytes(500, 1);
  folder_.Write("a.mem", old_bytes);
  std::filesystem::permissions(folder_.path() / "a.mem", std::filesystem::perms::owner_read);

  const Status status = Replace(*fs_, "a.mem", PatternBytes(80));
  EXPECT_EQ(status.kind(), Status::Kind::kReadOnly);
  EXPECT_EQ(folder_.Read("a.mem"), old_bytes);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(PosixFileSystemTest, ReplacesALinkInsteadOfWritingThroughIt) {
  const Bytes elsewhere = PatternBytes(50, 5);
  folder_.Write("elsewhere.bin", elsewhere);
  std::filesystem::create_symlink(folder_.path() / "elsewhere.bin", folder_.path() / "a.mem");

  ASSERT_TRUE(Replace(*fs_, "a.mem", PatternBytes(80)).ok());
  EXPECT_FALSE(std::filesystem::is_symlink(folder_.path() / "a.mem"));
  EXPECT_EQ(folder_.Read("a.mem"), PatternBytes(80));
  EXPECT_EQ(folder_.Read("elsewhere.bin"), elsewhere);
}

TEST_F(PosixFileSystemTest, AWriteThatStopsPartWayKeepsTheOldTargetAndNoTemporaryFile) {
  const Bytes old_bytes = PatternBytes(300, 2);
  folder_.Write("a.mem", old_bytes);
  testing::FaultFileSystem faulty(*fs_);
  faulty.FailWritesOf("a.mem");

  EXPECT_EQ(Replace(faulty, "a.mem", PatternBytes(100000)).kind(), Status::Kind::kIoError);
  EXPECT_EQ(folder_.Read("a.mem"), old_bytes);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
}

TEST_F(PosixFileSystemTest, AFailedRenameLeavesNoTemporaryFile) {
  std::filesystem::create_directories(folder_.path() / "a.mem" / "inside");
  EXPECT_FALSE(Replace(*fs_, "a.mem", PatternBytes(100)).ok());
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "a.mem"));
}

TEST_F(PosixFileSystemTest, NewTargetsFollowTheUmaskLikeAnyNewFile) {
  const mode_t saved = umask(022);
  ASSERT_TRUE(Replace(*fs_, "a.mem", PatternBytes(10)).ok());
  umask(saved);
  struct stat st;
  ASSERT_EQ(stat((folder_ / "a.mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

}  // namespace
}  // namespace pellamar
