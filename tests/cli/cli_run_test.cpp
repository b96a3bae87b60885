// The real pellamar-cli executable: exit status, standard output and
// standard error, and the files it leaves, for the ways people call it.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "cli/command_line.h"
#include "tests/cli/child_process.h"
#include "tests/support/expected_target.h"
#include "tests/support/temp_folder.h"

namespace pellamar::testing {
namespace {

namespace fs = std::filesystem;
using cli::kExitReportLost;

const std::vector<std::string> kRealCards = {"m1.mcd", "blank.mcd", "MemoryCard2-1.mcd"};

ChildOptions InFolder(const std::string& folder) {
  ChildOptions options;
  options.working_folder = folder;
  return options;
}

ChildOptions ErrOnTerminal() {
  ChildOptions options;
  options.err_on_terminal = true;
  return options;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The card lines of a dry run or a verify, and the summary after them.
struct CheckReport {
  std::vector<std::string> cards;
  std::string summary;
};

CheckReport SplitCheck(const std::string& out) {
  CheckReport report;
  const std::size_t gap = out.find("\n\n");
  const bool has_cards = gap != std::string::npos && out.find(" Files ") > gap;
  report.cards = has_cards ? Lines(out.substr(0, gap)) : std::vector<std::string>{};
  report.summary = has_cards ? out.substr(gap + 2) : out;
  return report;
}

// Whatever a look at the folder could change: each entry's kind and
// permissions, length, times and bytes or link, and the folder's own times.
std::string Snapshot(const TempFolder& folder) {
  std::ostringstream out;
  const auto add = [&](const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    out << path.filename() << ' ' << st.st_mode << ' ' << st.st_size << ' ' << st.st_mtim.tv_sec
        << '.' << st.st_mtim.tv_nsec << ' ' << st.st_ctim.tv_sec << '.' << st.st_ctim.tv_nsec;
    if (S_ISLNK(st.st_mode)) out << " -> " << fs::read_symlink(path);
    if (S_ISREG(st.st_mode)) {
      const Bytes bytes = folder.Read(path.filename().string());
      out << ' ' << std::string(bytes.begin(), bytes.end());
    }
    out << '\n';
  };
  add(folder.path());
  for (const std::string& name : folder.Names()) add(folder.path() / name);
  return out.str();
}

// Moves the time the file was last modified by `shift` from now.
void ShiftModified(const fs::path& path, std::chrono::seconds shift) {
  fs::last_write_time(path, fs::file_time_type::clock::now() + shift);
}

class CliRunTest : public ::testing::Test {
 protected:
  void CopyRealCards() {
    for (const std::string& name : kRealCards) folder_.Write(name, RealCard(name));
  }
  void ExpectRealCardsConverted() {
    EXPECT_EQ(folder_.Read("m1.mem"), ExpectedTarget(RealCard("m1.mcd")));
    EXPECT_EQ(folder_.Read("blank.mem"), ExpectedTarget(RealCard("blank.mcd")));
    EXPECT_EQ(folder_.Read("MemoryCard2-1.mem"), ExpectedTarget(RealCard("MemoryCard2-1.mcd")));
  }
  // The folder without its trailing slash, as people usually type it.
  std::string Plain() const { return folder_.path().string(); }

  TempFolder folder_;
};

TEST_F(CliRunTest, AFolderOfRealCardsIsConvertedAndReportedOnStandardOutput) {
  CopyRealCards();
  folder_.Write("notes.bin", {1, 2});

  const Outcome run = RunCli({Plain()});

  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(run.out, "3 Files Processed\n");
  EXPECT_EQ(run.err, "");
  ExpectRealCardsConverted();
  EXPECT_EQ(folder_.Names(),
            (std::vector<std::string>{"MemoryCard2-1.mcd", "MemoryCard2-1.mem", "blank.mcd",
                                      "blank.mem", "m1.mcd", "m1.mem", "notes.bin"}));
}

TEST_F(CliRunTest, AFolderWithItsSlashACardPathAndARelativePathAllSelectTheFolder) {
  CopyRealCards();
  const std::string parent = folder_.path().parent_path().string();
  const std::string relative = folder_.path().filename().string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> calls = {
      {{folder_.Folder()}, ""},
      {{folder_ / "m1.mcd"}, ""},
      {{folder_ / "no-such-card.mcd"}, ""},
      {{relative}, parent},
      {{"."}, folder_.path().string()},
      {{"./m1.mcd"}, folder_.path().string()},
  };
  for (const auto& [args, working_folder] : calls) {
    const Outcome run = RunCli(args, InFolder(working_folder));
    EXPECT_EQ(run.exit_code(), 0) << args.back();
    EXPECT_EQ(run.out, "3 Files Processed\n") << args.back();
  }
  ExpectRealCardsConverted();
}

TEST_F(CliRunTest, AnEmptyCardAndAReadOnlyTargetFailTheRunButNotTheOthers) {
  folder_.Write("a.mcd", RealCard("m1.mcd"));
  folder_.Write("empty.mcd", {});
  folder_.Write("b.mcd", RealCard("blank.mcd"));
  folder_.Write("b.mem", {1, 2, 3});
  fs::permissions(folder_.path() / "b.mem", fs::perms(0444));

  const Outcome run = RunCli({Plain()});

  // The failures come in the order of the listing, which the platform picks.
  EXPECT_EQ(run.exit_code(), 1);
  std::vector<std::string> lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 5u) << run.out;
  EXPECT_EQ(lines[0], "1 Files Processed");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "2 Files Not Converted:");
  std::sort(lines.begin() + 3, lines.end());
  EXPECT_EQ(lines[3], "b.mcd: b.mem is read-only");
  EXPECT_EQ(lines[4], "empty.mcd: empty card");
  EXPECT_EQ(run.err, "");

  EXPECT_EQ(folder_.Read("a.mem"), ExpectedTarget(RealCard("m1.mcd")));
  EXPECT_FALSE(folder_.Exists("empty.mem"));
  // Unchanged even for root, who could write it.
  EXPECT_EQ(folder_.Read("b.mem"), (Bytes{1, 2, 3})) << "run as uid " << geteuid();
  struct stat st {};
  ASSERT_EQ(stat((folder_ / "b.mem").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(folder_.Names().size(), 5u);  // nothing left beside them
}

TEST_F(CliRunTest, AMissingFolderIsReportedAndFailsTheRun) {
  const std::string missing = folder_ / "nowhere";
  const std::pair<std::string, std::string> modes[] = {
      {"--verbose", "0 Files Processed"},
      {"--dry-run", "0 Files Would Be Processed"},
      {"--verify", "0 Files Verified"},
  };
  for (const auto& [mode, count] : modes) {
    for (const std::string& path : {missing + "/", missing + "/a.mcd"}) {
      const Outcome run = RunCli({mode, path});
      EXPECT_EQ(run.exit_code(), 1) << mode << path;
      EXPECT_EQ(run.out, count + "\n\nThe folder " + missing +
                             "/ could not be read (no such file or directory).\n")
          << mode << path;
      EXPECT_EQ(run.err, "") << mode << path;
    }
  }
}

// Every rule of the run meets a card here. The dry run changes nothing, and
// the run that follows does, card by card and in the same order, what it said.
TEST_F(CliRunTest, ADryRunWritesNothingAndForetellsTheNextRunCardByCard) {
  using std::chrono::hours;
  CopyRealCards();
  folder_.Write("same.mcd", CardBytes(1));
  folder_.Write("same.mem", ExpectedTarget(CardBytes(1)));
  folder_.Write("stale.mcd", CardBytes(2));  // a newer card than its target
  folder_.Write("stale.mem", ExpectedTarget(CardBytes(3)));
  ShiftModified(folder_.path() / "stale.mem", -hours(1));
  folder_.Write("slot1.mcd", RealCard("m1.mcd"));  // played since its conversion
  ShiftModified(folder_.path() / "slot1.mcd", -hours(2));
  folder_.Write("slot1.mem", ExpectedTarget(PatternBytes(RealCard("m1.mcd").size(), 4)));
  folder_.Write(".hidden.mcd", {1});
  folder_.Write("empty.mcd", {});
  folder_.Write("ro.mcd", {1, 2});
  folder_.Write("ro.mem", {3});
  fs::permissions(folder_.path() / "ro.mem", fs::perms(0444));
  folder_.Write("dup.mcd", CardBytes(5));
  folder_.Write("dup.MCD", CardBytes(6));
  folder_.Write("own.mem", PatternBytes(10, 7));
  fs::create_symlink("own.mem", folder_.path() / "own.mcd");
  folder_.Write("dir.mcd", {1});
  fs::create_directory(folder_.path() / "dir.mem");

  const std::string before = Snapshot(folder_);
  const Outcome dry = RunCli({"--dry-run", Plain()});
  EXPECT_EQ(Snapshot(folder_), before);
  EXPECT_EQ(dry.exit_code(), 1);
  EXPECT_EQ(dry.err, "");
  const CheckReport told = SplitCheck(dry.out);
  EXPECT_EQ(told.summary,
            "7 Files Would Be Processed\n\n5 Files Would Not Be Converted\n"
            "1 Files Modified After Their Cards Would Be Replaced\n");
  // Of two cards with one target, the one listed first wins.
  const auto dup = std::find_if(told.cards.begin(), told.cards.end(), [](const std::string& line) {
    return line.find(" dup.") != std::string::npos;
  });
  ASSERT_NE(dup, told.cards.end()) << dry.out;
  const bool lower_first = dup->find(" dup.mcd:") != std::string::npos;
  const std::string first = lower_first ? "dup.mcd" : "dup.MCD";
  const std::string second = lower_first ? "dup.MCD" : "dup.mcd";
  std::vector<std::string> cards = told.cards;
  std::sort(cards.begin(), cards.end());
  std::vector<std::string> expected = {
      "new MemoryCard2-1.mcd: MemoryCard2-1.mem would be created",
      "new blank.mcd: blank.mem would be created",
      "new " + first + ": dup.mem would be created",
      "new m1.mcd: m1.mem would be created",
      "replace stale.mcd: stale.mem holds something else; it would go to the Trash",
      "replace-modified slot1.mcd: slot1.mem holds something else and was modified after the "
      "card; it would go to the Trash",
      "same same.mcd: same.mem already holds this conversion",
      "skip dir.mcd: dir.mem is a folder",
      "skip " + second + ": dup.mem was already written from " + first,
      "skip empty.mcd: empty card",
      "skip own.mcd: own.mem is the card itself",
      "skip ro.mcd: ro.mem is read-only",
  };
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(cards, expected);

  const Outcome run = RunCli({Plain()});
  EXPECT_EQ(run.exit_code(), dry.exit_code());
  std::vector<std::string> failures;
  for (const std::string& line : told.cards) {
    if (line.starts_with("skip ")) failures.push_back(line.substr(5));
  }
  failures.insert(failures.begin(), {"7 Files Processed", "", "5 Files Not Converted:"});
  // The old targets that were replaced, in the order of the listing.
  const std::size_t moved = run.out.find("\n\n2 Replaced Files Moved to the Trash:\n");
  ASSERT_NE(moved, std::string::npos) << run.out;
  EXPECT_EQ(Lines(run.out.substr(0, moved + 1)), failures);
  std::vector<std::string> trashed = Lines(run.out.substr(moved + 2));
  std::sort(trashed.begin(), trashed.end());
  EXPECT_EQ(trashed, (std::vector<std::string>{"2 Replaced Files Moved to the Trash:", "slot1.mem",
                                               "stale.mem"}));
  for (const std::string card : {"MemoryCard2-1", "blank", "m1", "same", "stale", "slot1"}) {
    EXPECT_EQ(folder_.Read(card + ".mem"), ExpectedTarget(folder_.Read(card + ".mcd"))) << card;
  }
  EXPECT_EQ(folder_.Read("dup.mem"), ExpectedTarget(folder_.Read(first)));
  EXPECT_EQ(folder_.Read("ro.mem"), Bytes{3});

  // Now every target that was written holds its conversion.
  const CheckReport again = SplitCheck(RunCli({"--dry-run", Plain()}).out);
  EXPECT_EQ(std::count_if(again.cards.begin(), again.cards.end(),
                          [](const std::string& line) { return line.starts_with("same "); }),
            7);
}

TEST_F(CliRunTest, VerifyPassesAfterARunAndNamesEachTargetDamagedSince) {
  CopyRealCards();
  folder_.Write("slot1.mcd", CardBytes(9));
  ASSERT_EQ(RunCli({Plain()}).exit_code(), 0);
  folder_.Write("stray.mem", {1, 2, 3});  // no card gives it

  const Outcome clean = RunCli({"--verify", Plain()});
  EXPECT_EQ(clean.exit_code(), 0);
  EXPECT_EQ(clean.out, "4 Files Verified\n");
  std::vector<std::string> exact = SplitCheck(RunCli({"--verify", "--verbose", Plain()}).out).cards;
  std::sort(exact.begin(), exact.end());
  EXPECT_EQ(exact, (std::vector<std::string>{"exact MemoryCard2-1.mcd: MemoryCard2-1.mem is exact",
                                             "exact blank.mcd: blank.mem is exact",
                                             "exact m1.mcd: m1.mem is exact",
                                             "exact slot1.mcd: slot1.mem is exact"}));

  fs::resize_file(folder_.path() / "m1.mem", 1000);
  Bytes blank = folder_.Read("blank.mem");
  blank[64 + 70000] ^= 1;
  folder_.Write("blank.mem", blank);
  fs::remove(folder_.path() / "MemoryCard2-1.mem");
  Bytes played = ExpectedTarget(CardBytes(9));  // an emulator saved into it
  std::fill(played.begin() + 64 + 4000, played.end(), 0xAA);
  folder_.Write("slot1.mem", played);
  ShiftModified(folder_.path() / "slot1.mem", std::chrono::hours(1));

  const std::string before = Snapshot(folder_);
  const Outcome damaged = RunCli({"--verify", Plain()});
  EXPECT_EQ(Snapshot(folder_), before);
  EXPECT_EQ(damaged.exit_code(), 1);
  CheckReport found = SplitCheck(damaged.out);
  std::sort(found.cards.begin(), found.cards.end());
  EXPECT_EQ(found.cards, (std::vector<std::string>{
                             "differs blank.mcd: blank.mem differs at offset 70064",
                             "differs slot1.mcd: slot1.mem differs at offset 4064",
                             "length m1.mcd: m1.mem is 1000 bytes long instead of 131136",
                             "missing MemoryCard2-1.mcd: MemoryCard2-1.mem does not exist"}));
  EXPECT_EQ(found.summary, "0 Files Verified\n\n4 Files Not Verified\n");
  EXPECT_EQ(damaged.err, "");
}

// A bare card name stands for a card of the current folder; a bare name
// that is nothing is no license to convert the current folder.
TEST_F(CliRunTest, ABareCardNameSelectsTheCurrentFolder) {
  CopyRealCards();
  const Outcome run = RunCli({"m1.mcd"}, InFolder(Plain()));
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(run.out, "3 Files Processed\n");
  ExpectRealCardsConverted();

  const Outcome misspelt = RunCli({"m2.mcd"}, InFolder(Plain()));
  EXPECT_EQ(misspelt.exit_code(), 1);
  EXPECT_EQ(
      misspelt.out,
      "0 Files Processed\n\nThe folder m2.mcd/ could not be read (no such file or directory).\n");
}

TEST_F(CliRunTest, AFolderWithoutCardsIsNoFailure) {
  folder_.Write("x.mem", {1});
  const Outcome run = RunCli({Plain()});
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(run.out, "0 Files Processed\n");
}

TEST_F(CliRunTest, WrongArgumentsAreUsageErrorsThatTouchNothing) {
  CopyRealCards();
  const std::vector<std::pair<std::vector<std::string>, std::string>> calls = {
      {{}, "pellamar-cli: no PATH given\n"},
      {{""}, "pellamar-cli: no PATH given\n"},
      {{"--verbose"}, "pellamar-cli: no PATH given\n"},
      {{"--frobnicate", Plain()}, "pellamar-cli: unknown option '--frobnicate'\n"},
      {{"--\x1b[2J", Plain()}, "pellamar-cli: unknown option '\"--\\x1B[2J\"'\n"},
      {{Plain(), Plain()}, "pellamar-cli: only one PATH may be given\n"},
      {{"--verify"}, "pellamar-cli: no PATH given\n"},
      {{"--dry-run", "--verify", Plain()},
       "pellamar-cli: --dry-run and --verify exclude each other\n"},
  };
  for (const auto& [args, first_line] : calls) {
    const Outcome run = RunCli(args);
    const std::string shown = args.empty() ? "(none)" : args.front();
    EXPECT_EQ(run.exit_code(), 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    EXPECT_EQ(run.err, first_line +
                           "Usage: pellamar-cli [--verbose] [--dry-run | --verify] [--] PATH\n"
                           "Try 'pellamar-cli --help' for more information.\n")
        << shown;
  }
  EXPECT_EQ(folder_.Names().size(), kRealCards.size());
}

TEST_F(CliRunTest, HelpAndVersionGoToStandardOutputAndConvertNothing) {
  CopyRealCards();
  const Outcome help = RunCli({"--help", Plain()});
  EXPECT_EQ(help.exit_code(), 0);
  EXPECT_EQ(help.out.rfind("Usage: pellamar-cli [--verbose] [--dry-run | --verify] [--] PATH\n", 0),
            0u)
      << help.out;
  for (const char* part :
       {"Exit status:", "--dry-run", "--verify", "replace-modified", "Examples:"}) {
    EXPECT_NE(help.out.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(help.err, "");

  const Outcome version = RunCli({"--version"});
  EXPECT_EQ(version.exit_code(), 0);
  EXPECT_EQ(version.out, std::string("pellamar-cli ") + PELLAMAR_VERSION + "\n");
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(folder_.Names().size(), kRealCards.size());
}

TEST_F(CliRunTest, AFolderNamedLikeAnOptionNeedsTheEndOfOptions) {
  fs::create_directory(folder_.path() / "-cards");
  folder_.Write("-cards/a.mcd", RealCard("m1.mcd"));
  const Outcome bare = RunCli({"-cards"}, InFolder(Plain()));
  EXPECT_EQ(bare.exit_code(), 2);
  EXPECT_FALSE(folder_.Exists("-cards/a.mem"));

  const Outcome ended = RunCli({"--", "-cards"}, InFolder(Plain()));
  EXPECT_EQ(ended.exit_code(), 0);
  EXPECT_EQ(ended.out, "1 Files Processed\n");
  EXPECT_EQ(folder_.Read("-cards/a.mem"), ExpectedTarget(RealCard("m1.mcd")));
}

// The exit status of `command` run by bash, with PIPESTATUS and $? at hand.
int Shell(const std::string& command) {
  const int status = std::system(("bash -c '" + command + "'").c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(CliRunTest, AClosedPipeStopsTheProgressButNotTheRunAndALostReportFailsIt) {
  for (int i = 0; i < 500; ++i) folder_.Write("card" + std::to_string(i) + ".mcd", {1, 2});
  const std::string cli = CliPath() + " ";
  // Progress into a pipe that closes after its first line: every card, of
  // two bytes only, is converted.
  EXPECT_EQ(Shell("exit $(" + cli + "--verbose " + Plain() +
                  " 2>&1 >/dev/null | head -1 >/dev/null; echo ${PIPESTATUS[0]})"),
            cli::kExitOtherSizes);
  int converted = 0;
  for (const std::string& name : folder_.Names()) converted += name.ends_with(".mem");
  EXPECT_EQ(converted, 500);
  EXPECT_EQ(folder_.Names().size(), 1000u);  // and no temporary file
  for (const std::string mode : {"", "--dry-run ", "--verify "}) {
    EXPECT_EQ(Shell(cli + mode + Plain() + " >/dev/full"), kExitReportLost) << mode;
  }
}

// A file-size limit (ulimit -f) fails the write that meets it as a full disk
// would: that card is named with the system's reason, no part of its target
// is left, and the cards after it are converted.
TEST_F(CliRunTest, AFileSizeLimitFailsTheCardThatMeetsItAndNotTheRun) {
  folder_.Write("big.mcd", PatternBytes(1 << 20, 1));
  folder_.Write("m1.mcd", RealCard("m1.mcd"));
  ChildOptions limit;
  limit.file_size_limit = 256 * 1024;
  const Outcome limited = RunCli({Plain()}, limit);
  EXPECT_EQ(limited.exit_code(), 1) << limited.wait_status;
  EXPECT_EQ(limited.out,
            "1 Files Processed\n\n1 Files Not Converted:\nbig.mcd: big.mem could not be written "
            "(file too large)\n");
  EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"big.mcd", "m1.mcd", "m1.mem"}));
}

TEST_F(CliRunTest, RunsAtOnceOnOneFolderAllFinishWithEveryTargetWhole) {
  for (int i = 0; i < 300; ++i)
    folder_.Write("card" + std::to_string(i) + ".mcd", CardBytes(static_cast<std::uint8_t>(i)));
  std::vector<std::unique_ptr<SilentChild>> runs;
  for (int i = 0; i < 3; ++i)
    runs.push_back(std::make_unique<SilentChild>(std::vector<std::string>{Plain()}));
  for (auto& run : runs) {
    const int status = run->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(folder_.Read("card" + std::to_string(i) + ".mem"),
              ExpectedTarget(CardBytes(static_cast<std::uint8_t>(i))))
        << i;
  }
  EXPECT_EQ(folder_.Names().size(), 600u);  // nothing left behind
}

// Progress depends on where standard error goes.
class CliProgressTest : public CliRunTest {
 protected:
  void SetUp() override { CopyRealCards(); }
};

TEST_F(CliProgressTest, ATerminalSeesOneLineRedrawnWithTheTotal) {
  const Outcome run = RunCli({Plain()}, ErrOnTerminal());
  EXPECT_EQ(run.exit_code(), 0);
  EXPECT_EQ(run.err,
            "\r1 Processed. (1 of 3)\x1b[K"
            "\r2 Processed. (2 of 3)\x1b[K"
            "\r3 Processed. (3 of 3)\x1b[K\n");
  EXPECT_EQ(run.out, "3 Files Processed\n");
}

TEST_F(CliProgressTest, ATerminalSeesTheLineEndedBeforeAFailedRunsMessage) {
  folder_.Write("zero.mcd", {});
  const Outcome run = RunCli({Plain()}, ErrOnTerminal());
  EXPECT_EQ(run.exit_code(), 1);
  EXPECT_EQ(run.err,
            "\r1 Processed. (1 of 4)\x1b[K"
            "\r2 Processed. (2 of 4)\x1b[K"
            "\r3 Processed. (3 of 4)\x1b[K\n");
  EXPECT_EQ(run.out, "3 Files Processed\n\n1 Files Not Converted:\nzero.mcd: empty card\n");
}

TEST_F(CliProgressTest, APipeSeesNothingUnlessVerbose) {
  const Outcome quiet = RunCli({Plain()});
  EXPECT_EQ(quiet.exit_code(), 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "3 Files Processed\n");

  const Outcome verbose = RunCli({"--verbose", Plain()});
  EXPECT_EQ(verbose.exit_code(), 0);
  EXPECT_EQ(verbose.err, "1 Processed. (1 of 3)\n2 Processed. (2 of 3)\n3 Processed. (3 of 3)\n");
  EXPECT_EQ(verbose.out, "3 Files Processed\n");
}

TEST_F(CliProgressTest, AUsageErrorOnATerminalShowsNoProgress) {
  const Outcome run = RunCli({}, ErrOnTerminal());
  EXPECT_EQ(run.exit_code(), 2);
  EXPECT_EQ(run.err.rfind("pellamar-cli: no PATH given\n", 0), 0u) << run.err;
  EXPECT_EQ(folder_.Names().size(), kRealCards.size());
}

}  // namespace
}  // namespace pellamar::testing
