// The real pellamar-cli executable: exit status, standard output and
// standard error, and the files it leaves, for the ways people call it.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
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
  for (const std::string& path : {missing + "/", missing + "/a.mcd"}) {
    const Outcome run = RunCli({path});
    EXPECT_EQ(run.exit_code(), 1) << path;
    EXPECT_EQ(run.out, "0 Files Processed\n\nThe folder " + missing +
                           "/ could not be read (no such file or directory).\n")
        << path;
    EXPECT_EQ(run.err, "") << path;
  }
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
  EXPECT_NE(help.out.find("Exit status:"), std::string::npos) << help.out;
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
  // Progress into a pipe that closes after its first line.
  EXPECT_EQ(Shell("exit $(" + cli + "--verbose " + Plain() +
                  " 2>&1 >/dev/null | head -1 >/dev/null; echo ${PIPESTATUS[0]})"),
            0);
  int converted = 0;
  for (const std::string& name : folder_.Names()) converted += name.ends_with(".mem");
  EXPECT_EQ(converted, 500);
  EXPECT_EQ(folder_.Names().size(), 1000u);  // and no temporary file
  EXPECT_EQ(Shell(cli + Plain() + " >/dev/full"), kExitReportLost);
}

TEST_F(CliRunTest, RunsAtOnceOnOneFolderAllFinishWithEveryTargetWhole) {
  for (int i = 0; i < 300; ++i)
    folder_.Write("card" + std::to_string(i) + ".mcd", PatternBytes(5000, i));
  std::vector<std::unique_ptr<SilentChild>> runs;
  for (int i = 0; i < 3; ++i)
    runs.push_back(std::make_unique<SilentChild>(std::vector<std::string>{Plain()}));
  for (auto& run : runs) {
    const int status = run->Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  for (int i = 0; i < 300; ++i) {
    EXPECT_EQ(folder_.Read("card" + std::to_string(i) + ".mem"),
              ExpectedTarget(PatternBytes(5000, i)))
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
