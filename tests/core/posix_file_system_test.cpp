// The POSIX file system: which names the listing returns, and what a replace
// leaves behind when it succeeds, is refused, or fails part-way.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

#include "core/batch_run.h"
#include "core/card_conversion.h"
#include "core/file_system.h"
#include "core/replace.h"
#include "tests/support/expected_target.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::ExpectedTarget;
using testing::PatternBytes;
using testing::TempFolder;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  std::vector<std::string> Listed() { return testing::ListedCards(*fs_, folder_.Folder()); }

  // Writes the target `target` of the test folder from the card at `card`.
  Status Convert(FileSystem& fs, const std::string& card, const std::string& target) {
    return testing::ConvertOne(fs, card, folder_ / target);
  }
  // Writes `target` from a card of `bytes` kept in another folder.
  Status Replace(FileSystem& fs, const std::string& target, const Bytes& bytes) {
    cards_.Write("card.mcd", bytes);
    return Convert(fs, cards_ / "card.mcd", target);
  }

  mode_t ModeOf(const std::string& name) {
    struct stat st;
    EXPECT_EQ(stat((folder_ / name).c_str(), &st), 0) << name;
    return st.st_mode & 0777;
  }

  TempFolder folder_;
  TempFolder cards_;
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

// Only a plain file is ever opened, also where a link leads: a pipe whose
// writer waits for a reader, or a device whose opening does something (a
// new terminal for /dev/ptmx), is refused as it is found.
TEST_F(PosixFileSystemTest, OpensNothingButAPlainFileNotEvenForAMoment) {
  ASSERT_EQ(mkfifo((folder_ / "pipe.mcd").c_str(), 0644), 0);
  std::filesystem::create_symlink(folder_.path() / "pipe.mcd", folder_.path() / "link.mcd");
  std::filesystem::create_symlink("/dev/ptmx", folder_.path() / "device.mcd");
  std::atomic<bool> writer_opened = false;
  std::thread writer([&] {  // blocks until the pipe has a reader
    const int fd = open((folder_ / "pipe.mcd").c_str(), O_WRONLY);
    writer_opened = true;
    if (fd >= 0) close(fd);
  });
  for (const char* name : {"pipe.mcd", "link.mcd", "device.mcd"}) {
    Status status;
    EXPECT_EQ(fs_->OpenCard(folder_ / name, &status), nullptr) << name;
    EXPECT_EQ(status.kind(), Status::Kind::kNotAFile) << name;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(writer_opened) << "the pipe was opened for reading";
  const int reader = open((folder_ / "pipe.mcd").c_str(), O_RDONLY);  // lets the writer go
  writer.join();
  close(reader);
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
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(PatternBytes(80)));
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

// What stands at the target turns into a folder after it was looked at, so
// that the rename into its place fails.
class FolderAtCommit : public testing::ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;
  std::unique_ptr<PendingFile> CreateBeside(const std::string& path, const std::string& name,
                                            const TargetLook& look, const CardFile& card,
                                            Status* status) override {
    std::unique_ptr<PendingFile> pending = real().CreateBeside(path, name, look, card, status);
    std::filesystem::create_directories(path + "/inside");
    return pending;
  }
};

TEST_F(PosixFileSystemTest, AFailedRenameLeavesNoTemporaryFile) {
  FolderAtCommit turning(*fs_);
  EXPECT_EQ(Replace(turning, "a.mem", PatternBytes(100)).kind(), Status::Kind::kExists);
  EXPECT_EQ(folder_.Names(), std::vector<std::string>{"a.mem"});
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "a.mem" / "inside"));
}

// Only a file that a dead run of this machine left is removed: not a live
// run's, not another machine's, nor anything that is no plain file.
TEST_F(PosixFileSystemTest, RemovesLeftoversOfDeadRunsOfThisMachineOnly) {
  const pid_t ended = fork();
  if (ended == 0) _exit(0);
  ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
  const std::string token = MachineToken(fs_->MachineId());
  const std::string dead = TemporaryName(token, static_cast<std::uint64_t>(ended), 3);
  const std::vector<std::string> kept = {
      TemporaryName(token, static_cast<std::uint64_t>(getpid()), 3),
      TemporaryName(MachineToken("another machine"), static_cast<std::uint64_t>(ended), 3),
      TemporaryName(token, static_cast<std::uint64_t>(ended), 4) + ".bak", "a.mcd"};
  for (const std::string& name : kept) folder_.Write(name, {1});
  folder_.Write(dead, {1});
  const std::string dead_link = TemporaryName(token, static_cast<std::uint64_t>(ended), 5);
  std::filesystem::create_symlink(folder_.path() / "a.mcd", folder_.path() / dead_link);
  RemoveLeftovers(*fs_, folder_.Folder());
  std::vector<std::string> expected = kept;
  expected.push_back(dead_link);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(folder_.Names(), expected);
}

// A listing that the system breaks off ends in an error with the system's
// words, never in a quiet end: here the descriptor that the listing reads
// the folder through is made to name a plain file partway.
TEST_F(PosixFileSystemTest, AListingThatBreaksOffSaysWhy) {
  const std::string long_name(200, 'x');  // more names than one read of the folder takes
  for (int i = 0; i < 400; ++i) folder_.Write(long_name + std::to_string(i) + ".mcd", {1});
  Status status;
  const std::unique_ptr<CardListing> listing = fs_->ListCards(folder_.Folder(), &status);
  ASSERT_TRUE(listing) << status.message();
  ASSERT_EQ(listing->Next().kind, ListEntry::Kind::kName);
  int reading = -1;  // the descriptor open on the folder for reading, not the O_PATH one
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    const int fd = std::stoi(entry.path().filename().string());
    if (std::filesystem::read_symlink(entry.path(), ignored) == folder_.path() &&
        (fcntl(fd, F_GETFL) & O_PATH) == 0) {
      reading = fd;
    }
  }
  ASSERT_GE(reading, 0);
  const int file = open((folder_ / (long_name + "0.mcd")).c_str(), O_RDONLY);
  ASSERT_EQ(dup2(file, reading), reading);
  close(file);
  ListEntry entry = listing->Next();
  while (entry.kind == ListEntry::Kind::kName) entry = listing->Next();
  EXPECT_EQ(entry.kind, ListEntry::Kind::kError);
  EXPECT_EQ(entry.reason, "not a directory");
}

// Runs setfacl or getfacl; the output of getfacl without its comments.
std::optional<std::string> Acl(const std::string& command) {
  std::FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  for (int c; (c = std::fgetc(pipe)) != EOF;) out += static_cast<char>(c);
  if (pclose(pipe) != 0) return std::nullopt;
  return out;
}

// A target holds its card's bytes: no one who may not read the card may
// read the target, and the umask still has its say, also in a folder whose
// inherited ACL the new file is rid of.
TEST_F(PosixFileSystemTest, ANewTargetIsReadableOnlyByWhoMayReadItsCard) {
  const std::pair<const char*, mode_t> cards[] = {
      {"open", 0644}, {"private", 0600}, {"from-cd", 0444}, {"shared", 0666}};
  struct Case {
    mode_t umask;
    std::vector<mode_t> modes;  // of the targets of `cards`, in their order
  };
  const Case cases[] = {{022, {0644, 0600, 0644, 0644}},  // the owner may replace from-cd's
                        {077, {0600, 0600, 0600, 0600}},
                        {002, {0644, 0600, 0644, 0644}}};
  for (const bool inherited : {false, true}) {
    for (const Case& c : cases) {
      TempFolder folder;
      for (const auto& [name, mode] : cards) {
        folder.Write(std::string(name) + ".mcd", {1});
        chmod((folder / (std::string(name) + ".mcd")).c_str(), mode);
      }
      if (inherited && !Acl("setfacl -d -m u:1007:rw " + folder.path().string())) {
        GTEST_SKIP() << "no setfacl, or ACLs are not supported here";
      }
      std::vector<mode_t> modes;
      const mode_t saved = umask(c.umask);
      for (const auto& [name, mode] : cards) {
        const std::string target = std::string(name) + ".mem";
        EXPECT_TRUE(
            testing::ConvertOne(*fs_, folder / (std::string(name) + ".mcd"), folder / target).ok());
        struct stat st;
        modes.push_back(stat((folder / target).c_str(), &st) == 0 ? st.st_mode & 0777 : 0);
      }
      umask(saved);
      EXPECT_EQ(modes, c.modes) << "umask " << std::oct << c.umask << (inherited ? " ACL" : "");
    }
  }
}

TEST_F(PosixFileSystemTest, AReplacedTargetKeepsItsPermissions) {
  folder_.Write("a.mcd", {1});
  folder_.Write("a.mem", {9});
  chmod((folder_ / "a.mem").c_str(), 0640);
  ASSERT_TRUE(Replace(*fs_, "a.mem", PatternBytes(10)).ok());
  EXPECT_EQ(ModeOf("a.mem"), 0640u);
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(PatternBytes(10)));
}

// A card that is its own target, through a link of either kind, would grow
// by a header on every run: it is left alone and reported.
TEST_F(PosixFileSystemTest, ACardThatIsItsOwnTargetIsLeftAlone) {
  folder_.Write("a.mem", PatternBytes(100, 1));
  std::filesystem::create_symlink("a.mem", folder_.path() / "a.mcd");
  folder_.Write("b.mcd", PatternBytes(100, 2));
  std::filesystem::create_hard_link(folder_.path() / "b.mcd", folder_.path() / "b.mem");
  folder_.Write("c.mcd", PatternBytes(100, 3));
  std::filesystem::create_symlink("c.mcd", folder_.path() / "c.mem");
  testing::RecordingWindow window(folder_.Folder());
  for (int run = 0; run < 2; ++run) {
    const BatchReport report = btnStart_Click(window, *fs_);
    EXPECT_EQ(report.processed, 0);
    std::vector<std::string> lines;
    for (const CardFailure& failure : report.first_failures) {
      lines.push_back(failure.name + ": " + failure.reason);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"a.mcd: a.mem is the card itself",
                                               "b.mcd: b.mem is the card itself",
                                               "c.mcd: c.mem is the card itself"}));
  }
  for (const auto walk : {DryRun, Verify}) {
    std::vector<std::string> lines;
    walk(*fs_, folder_.Folder(),
         [&](const CardVerdict& verdict) { lines.push_back(VerdictLine(verdict)); });
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, (std::vector<std::string>{"skip a.mcd: a.mem is the card itself",
                                               "skip b.mcd: b.mem is the card itself",
                                               "skip c.mcd: c.mem is the card itself"}));
  }
  EXPECT_EQ(folder_.Read("a.mem"), PatternBytes(100, 1));
  EXPECT_EQ(folder_.Read("b.mcd"), PatternBytes(100, 2));
  EXPECT_EQ(folder_.Read("c.mcd"), PatternBytes(100, 3));
  EXPECT_TRUE(std::filesystem::is_symlink(folder_.path() / "c.mem"));
}

// Who converts, whose card and whose old target: what the target ends up
// as, and what the report says when it is left alone. Other users need root.
struct OwnerCase {
  const char* what;
  uid_t card_owner;
  gid_t card_group;
  mode_t card_mode;
  bool old_target;  // one owned as the card is (else by `old_owner`), with mode `old_mode`
  mode_t old_mode;
  uid_t runner;
  gid_t runner_group;
  std::vector<gid_t> runner_groups;
  // The target afterwards (the old one, unchanged, when `reason` is given).
  uid_t owner;
  gid_t group;
  mode_t mode;
  const char* reason;
  mode_t folder_mode = 0777;  // shared, without the sticky bit
  int old_owner = -1;         // who made the old target, when not the card's owner
};

class OwnersAndGroups : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(OwnersAndGroups, NoTargetIsReadableByMoreThanItsCardAndNoneChangesHands) {
  if (geteuid() != 0) GTEST_SKIP() << "other users and groups need root";
  const OwnerCase& c = GetParam();
  TempFolder folder;
  TempFolder reports;  // where the runner may write whatever the folder allows
  chmod(reports.path().c_str(), 0777);
  folder.Write("a.mcd", PatternBytes(100, 1));
  ASSERT_EQ(chown((folder / "a.mcd").c_str(), c.card_owner, c.card_group), 0);
  chmod((folder / "a.mcd").c_str(), c.card_mode);
  if (c.old_target) {
    folder.Write("a.mem", {9});
    const uid_t maker = c.old_owner >= 0 ? static_cast<uid_t>(c.old_owner) : c.card_owner;
    ASSERT_EQ(chown((folder / "a.mem").c_str(), maker, c.card_group), 0);
    chmod((folder / "a.mem").c_str(), c.old_mode);
  }
  chmod(folder.path().c_str(), c.folder_mode);
  const pid_t child = fork();
  if (child == 0) {
    // The run, as the runner: its reasons go back through a file.
    if (setgroups(c.runner_groups.size(), c.runner_groups.data()) != 0 ||
        setresgid(c.runner_group, c.runner_group, c.runner_group) != 0 ||
        setresuid(c.runner, c.runner, c.runner) != 0) {
      _exit(2);
    }
    const std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
    std::string foretold;  // what a dry run says a run would refuse
    DryRun(*fs, folder.Folder(), [&](const CardVerdict& verdict) {
      if (verdict.kind == CardVerdict::Kind::kSkip) foretold = verdict.words;
    });
    testing::RecordingWindow window(folder.Folder());
    const BatchReport report = btnStart_Click(window, *fs);
    std::ofstream(reports.path() / "report.txt")
        << (report.first_failures.empty() ? "" : report.first_failures[0].reason) << '\n'
        << foretold << '\n';
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  std::string reason;
  std::string foretold;
  std::ifstream report(reports.path() / "report.txt");
  std::getline(report, reason);
  std::getline(report, foretold);
  EXPECT_EQ(reason, c.reason ? c.reason : "");
  EXPECT_EQ(foretold, reason);
  struct stat st;
  ASSERT_EQ(stat((folder / "a.mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, c.owner);
  EXPECT_EQ(st.st_gid, c.group);
  EXPECT_EQ(st.st_mode & 07777, c.mode);
  EXPECT_EQ(folder.Read("a.mem") == Bytes{9}, c.reason != nullptr);
}

constexpr char kNotKept[] =
    "a.mem could not keep its owner and permissions (operation not permitted)";
constexpr char kNotTheCardOwners[] =
    "a.mem could not keep its owner and permissions (it belongs to another user than its card)";

// One case a line, in the order of the fields.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, OwnersAndGroups,
    ::testing::Values(
        OwnerCase{"the card's group is not the runner's", 1001, 2001, 0640, false, 0, 1001, 3001, {}, 1001, 3001, 0600, nullptr},
        OwnerCase{"the runner is in the card's group", 1001, 2001, 0640, false, 0, 1001, 3001, {2001}, 1001, 2001, 0640, nullptr},
        OwnerCase{"root converts a user's card", 1001, 2001, 0640, false, 0, 0, 0, {}, 0, 2001, 0640, nullptr},
        OwnerCase{"root replaces a user's target", 1001, 2001, 0644, true, 0600, 0, 0, {}, 1001, 2001, 0600, nullptr},
        OwnerCase{"another user may not write the target", 1001, 1001, 0644, true, 0644, 1002, 1002, {}, 1001, 1001, 0644, "a.mem is read-only"},
        OwnerCase{"another user could not keep its owner", 1001, 1001, 0644, true, 0666, 1002, 1002, {}, 1001, 1001, 0666, kNotKept},
        OwnerCase{"the runner may not write the folder", 1001, 1001, 0644, true, 0666, 1001, 1001, {}, 1001, 1001, 0666, "a.mem could not be written (permission denied)", 0755},
        OwnerCase{"root, a co-user's target beside a private card", 1001, 1001, 0600, true, 0666, 0, 0, {}, 1002, 1001, 0666, kNotTheCardOwners, 0777, 1002},
        OwnerCase{"root, a co-user's target beside a root-only card", 0, 0, 0600, true, 0644, 0, 0, {}, 1002, 0, 0644, kNotTheCardOwners, 0777, 1002},
        OwnerCase{"a user's own target of another's card", 1001, 1001, 0640, true, 0644, 1002, 1001, {}, 1002, 1001, 0644, kNotTheCardOwners, 0777, 1002}),
    [](const auto& info) {
      std::string name = info.param.what;
      std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
      return name;
    });
// clang-format on

TEST_F(PosixFileSystemTest, AclsAreKeptOnReplacedTargetsAndNeverWidenNewOnes) {
  folder_.Write("a.mcd", {1});
  folder_.Write("a.mem", {9});
  folder_.Write("b.mcd", {2});
  const std::string a_mem = folder_ / "a.mem";
  if (!Acl("setfacl -m u:1005:rw " + a_mem) || !Acl("setfacl -m u:1006:r " + (folder_ / "b.mcd")) ||
      !Acl("setfacl -d -m u:1007:r " + folder_.path().string())) {
    GTEST_SKIP() << "no setfacl, or ACLs are not supported here";
  }
  const std::optional<std::string> old_acl = Acl("getfacl -c " + a_mem);
  ASSERT_TRUE(Convert(*fs_, folder_ / "a.mcd", "a.mem").ok());
  ASSERT_TRUE(Convert(*fs_, folder_ / "b.mcd", "b.mem").ok());
  EXPECT_EQ(Acl("getfacl -c " + a_mem), old_acl);
  // A card whose ACL lets others read it gives a target its owner alone
  // may read, and the folder's inherited ACL is not taken.
  EXPECT_EQ(ModeOf("b.mem"), 0600u);
  EXPECT_EQ(Acl("getfacl -c " + (folder_ / "b.mem")).value_or("").find("user:100"),
            std::string::npos);
}

// What a file manager reads to put a file of the trash back: where it came
// from (relative to the volume, in a top-directory trash), when it went, and
// its bytes.
struct TrashedFile {
  std::string path;
  std::string deleted;
  Bytes bytes;
};

std::vector<TrashedFile> TrashedIn(const std::filesystem::path& trash) {
  std::vector<TrashedFile> files;
  std::error_code ignored;
  for (const auto& info : std::filesystem::directory_iterator(trash / "info", ignored)) {
    TrashedFile file;
    std::ifstream lines(info.path());
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with("Path=")) file.path = line.substr(5);
      if (line.starts_with("DeletionDate=")) file.deleted = line.substr(13);
    }
    std::ifstream bytes(trash / "files" / info.path().stem(), std::ios::binary);
    file.bytes.assign(std::istreambuf_iterator<char>(bytes), std::istreambuf_iterator<char>());
    files.push_back(std::move(file));
  }
  return files;
}

// The files of `trash` that came from `path`.
std::vector<TrashedFile> TrashedFrom(const std::filesystem::path& trash, const std::string& path) {
  std::vector<TrashedFile> files = TrashedIn(trash);
  std::erase_if(files, [&](const TrashedFile& file) { return file.path != path; });
  return files;
}

// A played-on .mem goes to the home's trash, with all that a file manager
// needs to restore it; one that holds its conversion stays where it is.
TEST_F(PosixFileSystemTest, AReplacedTargetGoesToTheTrashWhereAFileManagerRestoresItFrom) {
  const std::filesystem::path trash = testing::HomeTrash();
  const Bytes played = ExpectedTarget(testing::CardBytes(9));
  folder_.Write("a.mcd", testing::CardBytes(1));
  folder_.Write("a.mem", played);
  folder_.Write("b.mcd", testing::CardBytes(2));
  folder_.Write("b.mem", ExpectedTarget(testing::CardBytes(2)));
  testing::RecordingWindow window(folder_.Folder());
  const BatchReport report = btnStart_Click(window, *fs_);
  EXPECT_EQ(FinalMessage(report),
            "2 Files Processed\n\n1 Replaced File Moved to the Trash:\na.mem");
  EXPECT_EQ(FinalStyle(report), kStyleInformation);
  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(testing::CardBytes(1)));
  const std::vector<TrashedFile> trashed = TrashedFrom(trash, folder_ / "a.mem");
  ASSERT_EQ(trashed.size(), 1u);
  EXPECT_EQ(trashed[0].bytes, played);
  EXPECT_TRUE(std::regex_match(trashed[0].deleted, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)")))
      << trashed[0].deleted;
  EXPECT_TRUE(TrashedFrom(trash, folder_ / "b.mem").empty());
}

// A volume of its own, mounted for as long as this lives, as root alone may.
class Volume {
 public:
  Volume(const std::string& type, const std::filesystem::path& at) : at_(at) {
    const std::string image = at.string() + ".img";
    const std::string quiet = " >/dev/null 2>&1";
    mounted_ = type == "tmpfs"
                   ? std::system(("mount -t tmpfs none " + at.string() + quiet).c_str()) == 0
                   : std::system(("truncate -s 8M " + image + " && mkfs." + type + " -q " + image +
                                  quiet + " && mount -o loop " + image + " " + at.string() + quiet)
                                     .c_str()) == 0;
  }
  ~Volume() {
    if (mounted_) std::system(("umount " + at_.string()).c_str());
    std::filesystem::remove(at_.string() + ".img");
  }
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path at_;
  bool mounted_ = false;
};

// On a volume other than the home's, a replaced .mem goes to its own top
// trash (.Trash-<uid>); on one where no trash may be kept (a system's own
// memory volume), the .mem stays and the report says why.
TEST_F(PosixFileSystemTest, OnAnotherVolumeTheTrashIsItsOwnOrTheTargetStays) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a volume needs root";
  const Bytes played = ExpectedTarget(testing::CardBytes(9));
  for (const std::string type : {"ext4", "tmpfs"}) {
    const std::filesystem::path at = folder_.path() / type;
    std::filesystem::create_directory(at);
    const Volume volume(type, at);
    if (!volume.mounted()) GTEST_SKIP() << "cannot mount " << type << " here";
    std::ofstream(at / "a.mcd", std::ios::binary)
        .write(reinterpret_cast<const char*>(testing::CardBytes(1).data()), kMemoryCardSize);
    std::ofstream(at / "a.mem", std::ios::binary)
        .write(reinterpret_cast<const char*>(played.data()), static_cast<long>(played.size()));
    testing::RecordingWindow window((at / "").string());
    // A file system of its own, which lets go of the volume before it goes.
    const BatchReport report = btnStart_Click(window, *NewPlatformFileSystem());
    std::ifstream in(at / "a.mem", std::ios::binary);
    const Bytes now{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (type == "ext4") {
      EXPECT_EQ(FinalMessage(report),
                "1 Files Processed\n\n1 Replaced File Moved to the Trash:\na.mem");
      EXPECT_EQ(now, ExpectedTarget(testing::CardBytes(1)));
      const std::vector<TrashedFile> trashed = TrashedFrom(at / ".Trash-0", "a.mem");
      ASSERT_EQ(trashed.size(), 1u);
      EXPECT_EQ(trashed[0].bytes, played);
    } else {
      EXPECT_EQ(FinalMessage(report),
                "0 Files Processed\n\n1 Files Not Converted:\na.mcd: a.mem was not replaced: no "
                "trash could keep it (its file system has no trash for it)");
      EXPECT_EQ(now, played);
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(at)) {
        names.push_back(entry.path().filename().string());
      }
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, (std::vector<std::string>{"a.mcd", "a.mem"}));
    }
  }
}

// Once the first card is open, renames the folder `cards` and puts a link
// to `decoy` in its place, as a user who may rename in its parent can.
class SwapsTheFolder : public testing::ForwardingFileSystem {
 public:
  SwapsTheFolder(FileSystem& real, std::filesystem::path cards, std::filesystem::path decoy)
      : ForwardingFileSystem(real), cards_(std::move(cards)), decoy_(std::move(decoy)) {}
  std::unique_ptr<CardFile> OpenCard(const std::string& path, Status* status) override {
    std::unique_ptr<CardFile> card = real().OpenCard(path, status);
    if (!swapped_) {
      std::filesystem::rename(cards_, cards_.string() + "-moved");
      std::filesystem::create_directory_symlink(decoy_, cards_);
      swapped_ = true;
    }
    return card;
  }

 private:
  std::filesystem::path cards_;
  std::filesystem::path decoy_;
  bool swapped_ = false;
};

// A run stays in the folder it opened, whatever takes its path meanwhile:
// nothing in another folder is written or sent to the trash.
TEST_F(PosixFileSystemTest, AFolderSwappedForALinkMidRunSendsTheRunNowhereElse) {
  namespace fs = std::filesystem;
  const fs::path cards = folder_.path() / "cards";
  const fs::path decoy = folder_.path() / "decoy";
  fs::create_directories(cards);
  fs::create_directories(decoy);
  const Bytes played = ExpectedTarget(testing::CardBytes(9));
  for (const char* name : {"a", "b", "c"}) {
    folder_.Write("cards/" + std::string(name) + ".mcd", testing::CardBytes(name[0]));
    folder_.Write("decoy/" + std::string(name) + ".mem", played);
  }
  folder_.Write("cards/b.mem", played);
  SwapsTheFolder swapping(*fs_, cards, decoy);
  testing::RecordingWindow window((cards / "").string());
  const BatchReport report = btnStart_Click(window, swapping);
  EXPECT_EQ(report.processed, 2) << FinalMessage(report);
  ASSERT_EQ(report.first_failures.size(), 1u);
  EXPECT_EQ(report.first_failures[0].name + ": " + report.first_failures[0].reason,
            "b.mcd: b.mem was not replaced: no trash could keep it (its folder was moved or "
            "replaced meanwhile)");
  for (const char* name : {"a", "b", "c"}) {
    EXPECT_EQ(folder_.Read("decoy/" + std::string(name) + ".mem"), played) << name;
  }
  EXPECT_EQ(testing::TempFolder::NamesIn(decoy),
            (std::vector<std::string>{"a.mem", "b.mem", "c.mem"}));
  EXPECT_EQ(folder_.Read("cards-moved/a.mem"), ExpectedTarget(testing::CardBytes('a')));
  EXPECT_EQ(folder_.Read("cards-moved/b.mem"), played);
  EXPECT_EQ(folder_.Read("cards-moved/c.mem"), ExpectedTarget(testing::CardBytes('c')));
}

// A folder whose path is near the longest the system takes, so that a path
// of a card in it is longer: every file is reached through the folder's
// descriptor, so a new target is written; one that would replace a file
// says, in the dry run as in the run, that the trash cannot take it.
TEST_F(PosixFileSystemTest, AFolderNearTheLongestPathConvertsAndSaysWhatCannotBeTrashed) {
  std::filesystem::path deep = folder_.path();
  while (deep.string().size() < PATH_MAX - 300) deep /= std::string(200, 'd');
  deep /= std::string(PATH_MAX - 6 - deep.string().size(), 'e');
  std::filesystem::create_directories(deep);
  const std::string at = (deep / "").string();
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(deep);  // the cards' own paths are too long to name
  std::ofstream("a.mcd", std::ios::binary)
      .write(reinterpret_cast<const char*>(testing::CardBytes(1).data()), kMemoryCardSize);
  testing::RecordingWindow window(at);
  EXPECT_EQ(FinalMessage(btnStart_Click(window, *fs_)), "1 Files Processed");
  std::ofstream("a.mem", std::ios::binary | std::ios::trunc) << "played";
  const std::string why =
      "a.mem was not replaced: no trash could keep it (its path is longer than the trash can "
      "take)";
  std::vector<std::string> told;
  DryRun(*fs_, at, [&](const CardVerdict& verdict) { told.push_back(VerdictLine(verdict)); });
  EXPECT_EQ(told, std::vector<std::string>{"skip a.mcd: " + why});
  EXPECT_EQ(FinalMessage(btnStart_Click(window, *fs_)),
            "0 Files Processed\n\n1 Files Not Converted:\na.mcd: " + why);
  std::ifstream played("a.mem");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(played), {}), "played");
  std::filesystem::current_path(here);
}

#ifndef __SANITIZE_ADDRESS__  // the sanitizer needs more address space than the limit leaves
// Caps this process's address space a little above what it uses, for as
// long as it lives.
class AddressSpaceLimit {
 public:
  explicit AddressSpaceLimit(rlim_t headroom) {
    getrlimit(RLIMIT_AS, &saved_);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + headroom;
    setrlimit(RLIMIT_AS, &lowered);
  }
  ~AddressSpaceLimit() { setrlimit(RLIMIT_AS, &saved_); }

 private:
  rlimit saved_{};
};

// The card is copied a piece at a time: one several times larger than the
// memory the process may still take converts whole, and so do the cards
// around it.
TEST_F(PosixFileSystemTest, ACardLargerThanTheMemoryLeftConvertsWhole) {
  constexpr std::uint64_t kHuge = 384ull << 20;
  folder_.Write("a.mcd", PatternBytes(100, 1));
  folder_.Write("huge.mcd", {1});
  std::filesystem::resize_file(folder_.path() / "huge.mcd", kHuge);  // sparse
  folder_.Write("z.mcd", PatternBytes(100, 2));
  testing::RecordingWindow window(folder_.Folder());
  BatchReport report;
  {
    const AddressSpaceLimit limit(96u << 20);
    report = btnStart_Click(window, *fs_);
  }
  EXPECT_EQ(report.processed, 3) << FinalMessage(report);
  EXPECT_EQ(folder_.Read("z.mem"), ExpectedTarget(PatternBytes(100, 2)));
  EXPECT_EQ(std::filesystem::file_size(folder_.path() / "huge.mem"), kTargetHeaderSize + kHuge);
  std::ifstream huge(folder_.path() / "huge.mem", std::ios::binary);
  huge.seekg(kTargetHeaderSize);
  EXPECT_EQ(huge.get(), 1);  // the card's first byte, behind the header
  {
    const AddressSpaceLimit limit(96u << 20);
    report = Verify(*fs_, folder_.Folder(), [](const CardVerdict&) {});
  }
  EXPECT_EQ(VerifySummary(report), "3 Files Verified\n\n3 Files of Another Size");
}
#endif

}  // namespace
}  // namespace pellamar
