// The terminal's window operations: what goes to standard error while cards
// are converted, and what goes to standard output at the end.
#include "cli/console_window.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/support/fault_file_system.h"
#include "tests/support/temp_folder.h"

namespace pellamar::cli {
namespace {

using testing::FaultFileSystem;
using testing::TempFolder;

class ConsoleWindowTest : public ::testing::Test {
 protected:
  ConsoleWindow& Window(ConsoleOptions options) {
    window_.emplace("cards/", out_, err_, options);
    return *window_;
  }
  // Shows the counts 1..n as the batch run does, then the final message and
  // the restored description.
  void Convert(ConsoleWindow& window, int n) {
    for (int i = 1; i <= n; ++i) {
      window.SetLabel3Caption(std::to_string(i) + " Processed.");
      window.RepaintNow();
    }
    window.ShowMessageBox(std::to_string(n) + " Files Processed", kStyleInformation,
                          window.Caption());
    window.SetLabel3Caption(kDescriptionText);
  }

  std::ostringstream out_;
  std::ostringstream err_;
  std::optional<ConsoleWindow> window_;
};

TEST_F(ConsoleWindowTest, WithoutATotalTheTerminalShowsTheCountAlone) {
  Convert(Window({.err_is_terminal = true, .verbose = true, .total = std::nullopt}), 2);
  EXPECT_EQ(err_.str(), "\r1 Processed.\x1b[K\r2 Processed.\x1b[K\n");
  EXPECT_EQ(out_.str(), "2 Files Processed\n");
}

// An old Windows console shows an escape as text.
TEST_F(ConsoleWindowTest, AConsoleWithoutEscapesGetsNone) {
  Convert(Window({.err_is_terminal = true, .erases_line = false, .verbose = false, .total = 2}), 2);
  EXPECT_EQ(err_.str(), "\r1 Processed. (1 of 2)\r2 Processed. (2 of 2)\n");
}

TEST_F(ConsoleWindowTest, ARunWithoutCardsLeavesTheTerminalAlone) {
  Convert(Window({.err_is_terminal = true, .verbose = false, .total = 0}), 0);
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(out_.str(), "0 Files Processed\n");
}

TEST(CountCards, CountsWhatTheRunWillMeet) {
  TempFolder folder;
  folder.Write("a.mcd", {1});
  folder.Write("B.MCD", {});  // empty, but still met
  folder.Write(".hidden.mcd", {1});
  folder.Write("a.mem", {1});
  folder.Write(".pellamar-1-0.tmp", {1});
  std::filesystem::create_directory(folder.path() / "sub.mcd");
  std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  EXPECT_EQ(CountCards(*fs, folder.Folder()), 2);
}

TEST(CountCards, KnowsNoTotalWhenTheListingFails) {
  TempFolder folder;
  folder.Write("a.mcd", {1});
  folder.Write("b.mcd", {1});
  std::unique_ptr<FileSystem> real = NewPlatformFileSystem();
  EXPECT_EQ(CountCards(*real, folder / "missing/"), std::nullopt);
  FaultFileSystem faulty(*real);
  faulty.BreakListingAfter(1);
  EXPECT_EQ(CountCards(faulty, folder.Folder()), std::nullopt);
}

}  // namespace
}  // namespace pellamar::cli
