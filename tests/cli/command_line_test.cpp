// Reading pellamar-cli's arguments, choosing the source text and the exit
// status.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/support/temp_folder.h"

namespace pellamar::cli {
namespace {

using Action = CommandLine::Action;
using Mode = CommandLine::Mode;

struct ParseCase {
  std::vector<const char*> args;
  Action action;
  std::string path;
  bool verbose;
  std::string problem;
  CommandLine::Mode mode = CommandLine::Mode::kConvert;
};

std::ostream& operator<<(std::ostream& out, const ParseCase& c) {
  out << "args:";
  for (const char* arg : c.args) out << " [" << arg << "]";
  return out;
}

class ParseCommandLineTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCommandLineTest, ReadsTheArguments) {
  const ParseCase& c = GetParam();
  const CommandLine line = ParseCommandLine(static_cast<int>(c.args.size()), c.args.data());
  EXPECT_EQ(line.action, c.action);
  EXPECT_EQ(line.problem, c.problem);
  if (c.action != Action::kRun) return;
  EXPECT_EQ(line.path, c.path);
  EXPECT_EQ(line.verbose, c.verbose);
  EXPECT_EQ(line.mode, c.mode);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParseCommandLineTest,
    ::testing::Values(
        // No PATH is left to the run, which treats it as an empty source.
        ParseCase{{}, Action::kRun, "", false, ""},
        ParseCase{{"cards"}, Action::kRun, "cards", false, ""},
        ParseCase{{""}, Action::kRun, "", false, ""},
        ParseCase{{"--verbose", "cards/a.mcd"}, Action::kRun, "cards/a.mcd", true, ""},
        ParseCase{{"cards", "--verbose"}, Action::kRun, "cards", true, ""},
        ParseCase{{"-"}, Action::kRun, "-", false, ""},
        // "--" ends the options, once.
        ParseCase{{"--", "--verbose"}, Action::kRun, "--verbose", false, ""},
        ParseCase{{"--verbose", "--", "-cards"}, Action::kRun, "-cards", true, ""},
        ParseCase{{"--", "--"}, Action::kRun, "--", false, ""},
        ParseCase{{"--help"}, Action::kHelp, "", false, ""},
        ParseCase{{"-h"}, Action::kHelp, "", false, ""},
        ParseCase{{"cards", "--help", "--bogus"}, Action::kHelp, "", false, ""},
        ParseCase{{"--version", "a", "b"}, Action::kVersion, "", false, ""},
        ParseCase{
            {"--bogus", "--help"}, Action::kUsageError, "", false, "unknown option '--bogus'"},
        ParseCase{{"-cards"}, Action::kUsageError, "", false, "unknown option '-cards'"},
        ParseCase{{"--verbose=yes", "cards"},
                  Action::kUsageError,
                  "",
                  false,
                  "unknown option '--verbose=yes'"},
        ParseCase{{"a", "b"}, Action::kUsageError, "", false, "only one PATH may be given"},
        ParseCase{{"a", "--", "b"}, Action::kUsageError, "", false, "only one PATH may be given"},
        // A dry run or a verify, not both.
        ParseCase{{"--dry-run", "cards"}, Action::kRun, "cards", false, "", Mode::kDryRun},
        ParseCase{
            {"cards", "--verify", "--verbose"}, Action::kRun, "cards", true, "", Mode::kVerify},
        ParseCase{{"--verify", "--verify", "a"}, Action::kRun, "a", false, "", Mode::kVerify},
        ParseCase{{"--", "--dry-run"}, Action::kRun, "--dry-run", false, ""},
        ParseCase{{"--dry-run", "a", "--verify"},
                  Action::kUsageError,
                  "",
                  false,
                  "--dry-run and --verify exclude each other"}));

TEST(SourceTextFor, AFolderStandsForItselfWithOrWithoutItsSeparator) {
  EXPECT_EQ(SourceTextFor("cards", PathKind::kFolder, '/'), "cards/");
  EXPECT_EQ(SourceTextFor("cards/", PathKind::kFolder, '/'), "cards/");
  EXPECT_EQ(SourceTextFor("/", PathKind::kFolder, '/'), "/");
  EXPECT_EQ(SourceTextFor(".", PathKind::kFolder, '/'), "./");
  // Windows: either slash separates, and a bare drive is its current folder.
  EXPECT_EQ(SourceTextFor("C:/saves/cards", PathKind::kFolder, '\\'), "C:\\saves\\cards\\");
  EXPECT_EQ(SourceTextFor("cards\\", PathKind::kFolder, '\\'), "cards\\");
  EXPECT_EQ(SourceTextFor("D:", PathKind::kFolder, '\\'), "D:.\\");
  EXPECT_EQ(SourceTextFor("D:\\", PathKind::kFolder, '\\'), "D:\\");
}

TEST(SourceTextFor, ABareCardNameStandsForTheCurrentFolder) {
  EXPECT_EQ(SourceTextFor("slot1.mcd", PathKind::kFile, '/'), "./slot1.mcd");
  EXPECT_EQ(SourceTextFor("cards/slot1.mcd", PathKind::kFile, '/'), "cards/slot1.mcd");
  // A backslash is part of a POSIX name, not a separator.
  EXPECT_EQ(SourceTextFor("a\\b.mcd", PathKind::kFile, '/'), "./a\\b.mcd");
  EXPECT_EQ(SourceTextFor("slot1.mcd", PathKind::kFile, '\\'), ".\\slot1.mcd");
  EXPECT_EQ(SourceTextFor("D:slot1.mcd", PathKind::kFile, '\\'), "D:.\\slot1.mcd");
  EXPECT_EQ(SourceTextFor("cards/slot1.mcd", PathKind::kFile, '\\'), "cards\\slot1.mcd");
  // A misspelt folder must not turn into the current one.
  EXPECT_EQ(SourceTextFor("cadrs", PathKind::kNothing, '/'), "cadrs");
}

TEST(KindOf, FollowsLinksAndTellsFoldersFromFiles) {
  testing::TempFolder folder;
  folder.Write("a.mcd", {1});
  std::filesystem::create_directory(folder.path() / "sub");
  std::filesystem::create_directory_symlink(folder.path() / "sub", folder.path() / "link");
  EXPECT_EQ(KindOf(folder.path().string()), PathKind::kFolder);
  EXPECT_EQ(KindOf(folder / "sub"), PathKind::kFolder);
  EXPECT_EQ(KindOf(folder / "link"), PathKind::kFolder);
  EXPECT_EQ(KindOf(folder / "a.mcd"), PathKind::kFile);
  EXPECT_EQ(KindOf(folder / "missing"), PathKind::kNothing);
  EXPECT_EQ(KindOf(""), PathKind::kNothing);
}

TEST(ExitStatusFor, TellsConvertedFromOtherSizesFromNotConvertedFromNotRun) {
  BatchReport report;
  EXPECT_EQ(ExitStatusFor(report, true), kExitUsage);  // stopped at an empty source text

  report.ran = true;
  EXPECT_EQ(ExitStatusFor(report, true), kExitConverted);  // no cards at all
  report.processed = 5;
  EXPECT_EQ(ExitStatusFor(report, true), kExitConverted);

  BatchReport failed = report;
  failed.not_converted = 1;
  EXPECT_EQ(ExitStatusFor(failed, true), kExitNotConverted);
  failed = report;
  failed.folder_unreadable = true;
  EXPECT_EQ(ExitStatusFor(failed, true), kExitNotConverted);
  failed = report;
  failed.listing_stopped_early = true;
  EXPECT_EQ(ExitStatusFor(failed, true), kExitNotConverted);
  EXPECT_EQ(ExitStatusFor(failed, false), kExitReportLost);
  EXPECT_EQ(ExitStatusFor(report, false), kExitReportLost);

  // A card of another size is converted all the same, and a failure says more.
  BatchReport sized = report;
  sized.other_sizes = 1;
  EXPECT_EQ(ExitStatusFor(sized, true), kExitOtherSizes);
  sized.not_converted = 1;
  EXPECT_EQ(ExitStatusFor(sized, true), kExitNotConverted);
  EXPECT_EQ(ExitStatusFor(sized, false), kExitReportLost);
}

}  // namespace
}  // namespace pellamar::cli
