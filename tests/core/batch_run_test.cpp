// The "Convert" run against real folders, seen through a recording window:
// what it shows, in which order, and what it leaves on disk.
#include "core/batch_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "core/card_conversion.h"
#include "core/target_record.h"
#include "tests/support/expected_target.h"
#include "tests/support/fault_file_system.h"
#include "tests/support/recording_window.h"
#include "tests/support/temp_folder.h"

namespace pellamar {
namespace {

using testing::CardBytes;
using testing::FaultFileSystem;
using testing::PatternBytes;
using testing::RealCard;
using testing::RecordingWindow;
using testing::TempFolder;
using Calls = std::vector<std::string>;

const std::string kTitle = "[Pellamar [Batch Conversion]]";

Bytes Target(const Bytes& card) { return testing::ExpectedTarget(card); }

std::string Label(const std::string& caption) { return "Label3: " + caption; }
std::string Done() { return Label(kDescriptionText); }
std::string Message(int style, const std::string& text) {
  return "message " + std::to_string(style) + " " + kTitle + ": " + text;
}

// The lines of a dry run or a verify of `folder` through `fs`, in order.
std::vector<std::string> VerdictLines(BatchReport (*walk)(FileSystem&, const std::string&,
                                                          const VerdictSink&),
                                      FileSystem& fs, const std::string& folder,
                                      BatchReport* report = nullptr) {
  std::vector<std::string> lines;
  const BatchReport walked =
      walk(fs, folder, [&](const CardVerdict& verdict) { lines.push_back(VerdictLine(verdict)); });
  if (report != nullptr) *report = walked;
  return lines;
}

class BatchRunTest : public ::testing::Test {
 protected:
  BatchReport Run(const std::string& source_text) {
    window_ = RecordingWindow(source_text);
    return btnStart_Click(window_, faulty_);
  }
  // Writes cards named a.mcd, b.mcd, ... with distinct contents.
  void WriteCards(std::initializer_list<const char*> names) {
    std::uint8_t seed = 0;
    for (const char* name : names) folder_.Write(name, CardBytes(seed += 17));
  }

  TempFolder folder_;
  std::unique_ptr<FileSystem> real_ = NewPlatformFileSystem();
  FaultFileSystem faulty_{*real_};
  RecordingWindow window_{""};
};

TEST_F(BatchRunTest, ConvertsEveryCardAndShowsTheCountAsItGoes) {
  folder_.Write("m1.mcd", RealCard("m1.mcd"));
  folder_.Write("blank.MCD", RealCard("blank.mcd"));
  folder_.Write("MemoryCard2-1.mcd", RealCard("MemoryCard2-1.mcd"));
  folder_.Write("notes.bin", {1, 2});
  folder_.Write("old.mem", {3});

  const BatchReport report = Run(folder_ / "m1.mcd");

  EXPECT_EQ(window_.calls,
            (Calls{"read source", Label("1 Processed."), "repaint", Label("2 Processed."),
                   "repaint", Label("3 Processed."), "repaint", "read caption",
                   Message(kStyleInformation, "3 Files Processed"), Done()}));
  EXPECT_EQ(report.processed, 3);
  EXPECT_EQ(folder_.Read("m1.mem"), Target(RealCard("m1.mcd")));
  EXPECT_EQ(folder_.Read("blank.mem"), Target(RealCard("blank.mcd")));
  EXPECT_EQ(folder_.Read("MemoryCard2-1.mem"), Target(RealCard("MemoryCard2-1.mcd")));
  EXPECT_EQ(folder_.Read("old.mem"), Bytes{3});
  EXPECT_EQ(folder_.Names().size(), 8u);  // no temporary file left over
}

TEST_F(BatchRunTest, AnEmptySourceTextOnlyOpensThePickDialog) {
  WriteCards({"a.mcd"});
  const BatchReport report = Run("");
  EXPECT_EQ(window_.calls, (Calls{"read source", "btnSource_Click"}));
  EXPECT_FALSE(report.ran);
  EXPECT_FALSE(folder_.Exists("a.mem"));
}

TEST_F(BatchRunTest, TheFolderIsWhatPrecedesTheLastSeparator) {
  WriteCards({"a.mcd"});
  for (const std::string& source : {folder_ / "a.mcd", folder_.Folder(), folder_ / "whatever"}) {
    EXPECT_EQ(Run(source).processed, 1) << source;
    EXPECT_EQ(window_.calls.at(4), Message(kStyleInformation, "1 Files Processed")) << source;
  }
}

// A target that holds its conversion already is left standing as it is:
// the same file, nothing written, nothing in the trash.
TEST_F(BatchRunTest, ASecondRunLeavesTheTargetsThatHoldTheirConversion) {
  WriteCards({"a.mcd", "b.mcd"});
  Run(folder_.Folder());
  const Bytes first = folder_.Read("a.mem");
  const Calls first_calls = window_.calls;
  TargetLook before;
  Status status;
  const std::unique_ptr<CardFile> card = real_->OpenCard(folder_ / "a.mcd", &status);
  ASSERT_TRUE(card);
  real_->LookAt(folder_ / "a.mem", *card, &before);
  const auto written = std::filesystem::last_write_time(folder_.path() / "a.mem");
  const BatchReport again = Run(folder_.Folder());
  EXPECT_EQ(window_.calls, first_calls);
  EXPECT_EQ(again.trashed, 0);
  EXPECT_EQ(folder_.Read("a.mem"), first);
  TargetLook after;
  real_->LookAt(folder_ / "a.mem", *card, &after);
  EXPECT_TRUE(SameFile(after.identity, before.identity));
  EXPECT_EQ(std::filesystem::last_write_time(folder_.path() / "a.mem"), written);
}

// A card of another size than a memory card's converts, bytes unchanged,
// and the run, the dry run and the verify name it with its size; a card of
// a memory card's size is never named.
TEST_F(BatchRunTest, ACardOfAnotherSizeConvertsAndIsNamed) {
  folder_.Write("m1.mcd", RealCard("m1.mcd"));
  folder_.Write("short.mcd", PatternBytes(65536, 3));
  const std::string note = "holds 65,536 bytes where a memory card holds 131,072";
  std::vector<std::string> told = VerdictLines(DryRun, faulty_, folder_.Folder());
  std::sort(told.begin(), told.end());
  EXPECT_EQ(told, (std::vector<std::string>{
                      "new m1.mcd: m1.mem would be created",
                      "new short.mcd: short.mem would be created; the card " + note}));
  const BatchReport report = Run(folder_.Folder());
  EXPECT_EQ(FinalMessage(report),
            "2 Files Processed\n\n1 File of Another Size:\nshort.mcd: "
            "converted, but it " +
                note + "; readers may refuse short.mem");
  EXPECT_EQ(FinalStyle(report), kStyleWarning);
  EXPECT_EQ(folder_.Read("short.mem"), Target(PatternBytes(65536, 3)));
  BatchReport verified;
  std::vector<std::string> checked = VerdictLines(Verify, faulty_, folder_.Folder(), &verified);
  std::sort(checked.begin(), checked.end());
  EXPECT_EQ(checked,
            (std::vector<std::string>{"exact m1.mcd: m1.mem is exact",
                                      "exact short.mcd: short.mem is exact; the card " + note}));
  EXPECT_EQ(VerifySummary(verified), "2 Files Verified\n\n1 File of Another Size");
}

// Cards that are links to each other's targets, or to the target of a card
// beside them: no run reads as a card a file that it writes, so every .mem
// keeps its size and bytes run after run, and the report says why.
TEST_F(BatchRunTest, CardsLinkedToTargetsAreNotReadAndNothingGrows) {
#ifdef _WIN32
  GTEST_SKIP() << "links need a privilege on Windows";
#endif
  namespace fs = std::filesystem;
  folder_.Write("a.mem", Target(CardBytes(1)));
  folder_.Write("b.mem", Target(CardBytes(2)));
  fs::create_symlink("b.mem", folder_.path() / "a.mcd");
  fs::create_symlink("a.mem", folder_.path() / "b.mcd");
  folder_.Write("c.mcd", CardBytes(3));
  folder_.Write("c.mem", Target(CardBytes(3)));
  fs::create_hard_link(folder_.path() / "c.mem", folder_.path() / "d.mcd");
  const std::vector<Bytes> targets = {folder_.Read("a.mem"), folder_.Read("b.mem"),
                                      folder_.Read("c.mem")};
  const std::vector<std::string> passed_over = {"a.mcd: it is b.mem, the target of b.mcd",
                                                "b.mcd: it is a.mem, the target of a.mcd",
                                                "d.mcd: it is c.mem, the target of c.mcd"};
  std::vector<std::string> told = VerdictLines(DryRun, faulty_, folder_.Folder());
  std::sort(told.begin(), told.end());
  std::vector<std::string> foretold = {"same c.mcd: c.mem already holds this conversion"};
  for (const std::string& line : passed_over) foretold.push_back("skip " + line);
  std::sort(foretold.begin(), foretold.end());
  EXPECT_EQ(told, foretold);
  for (int run = 0; run < 2; ++run) {
    const BatchReport report = Run(folder_.Folder());
    EXPECT_EQ(report.processed, 1);
    std::vector<std::string> lines;
    for (const CardFailure& failure : report.first_failures) {
      lines.push_back(failure.name + ": " + failure.reason);
    }
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(lines, passed_over) << "run " << run;
    EXPECT_EQ(
        (std::vector<Bytes>{folder_.Read("a.mem"), folder_.Read("b.mem"), folder_.Read("c.mem")}),
        targets)
        << "run " << run;
  }
}

TEST_F(BatchRunTest, AnEmptyCardIsSkippedAndTheRunGoesOn) {
  WriteCards({"a.mcd", "c.mcd"});
  folder_.Write("b.mcd", {});
  const BatchReport report = Run(folder_.Folder());
  EXPECT_TRUE(folder_.Exists("a.mem"));
  EXPECT_FALSE(folder_.Exists("b.mem"));
  EXPECT_TRUE(folder_.Exists("c.mem"));
  EXPECT_EQ(
      window_.calls.at(window_.calls.size() - 2),
      Message(kStyleWarning, "2 Files Processed\n\n1 Files Not Converted:\nb.mcd: empty card"));
  EXPECT_EQ(report.processed, 2);
}

TEST_F(BatchRunTest, AFolderOfOnlyAnEmptyCardWritesNothing) {
  folder_.Write("a.mcd", {});
  Run(folder_.Folder());
  EXPECT_EQ(window_.calls, (Calls{"read source", "read caption",
                                  Message(kStyleWarning,
                                          "0 Files Processed\n\n1 Files Not Converted:\n"
                                          "a.mcd: empty card"),
                                  Done()}));
  EXPECT_EQ(folder_.Names(), Calls{"a.mcd"});
}

TEST_F(BatchRunTest, AFolderWithoutCardsReportsZeroPlainly) {
  folder_.Write("x.mem", {1});
  folder_.Write("x.bin", {1});
  Run(folder_.Folder());
  EXPECT_EQ(window_.calls, (Calls{"read source", "read caption",
                                  Message(kStyleInformation, "0 Files Processed"), Done()}));
}

TEST_F(BatchRunTest, AMissingFolderIsReportedAsUnreadable) {
  const std::string missing = folder_ / "nowhere" + real_->Separator();
  Run(missing + "a.mcd");
  const std::string text = window_.calls.at(2);
  const std::string start =
      Message(kStyleWarning, "0 Files Processed\n\nThe folder " + missing + " could not be read (");
  EXPECT_EQ(text.substr(0, start.size()), start);  // then the system's words
  EXPECT_EQ(text.substr(text.size() - 2), ").");
  EXPECT_EQ(window_.calls.size(), 4u);
}

TEST_F(BatchRunTest, AFailedWriteKeepsTheOldTargetAndIsNotCounted) {
  WriteCards({"a.mcd", "b.mcd"});
  folder_.Write("a.mem", {9, 9, 9});
  faulty_.FailWritesOf("a.mem");
  const BatchReport report = Run(folder_.Folder());
  EXPECT_EQ(folder_.Read("a.mem"), (Bytes{9, 9, 9}));
  EXPECT_EQ(folder_.Read("b.mem"), Target(folder_.Read("b.mcd")));
  EXPECT_EQ(folder_.Names(), (Calls{"a.mcd", "a.mem", "b.mcd", "b.mem"}));
  EXPECT_EQ(report.processed, 1);
  const std::string text = FinalMessage(report);
  const std::string start =
      "1 Files Processed\n\n1 Files Not Converted:\na.mcd: a.mem could not be written (";
  EXPECT_EQ(text.substr(0, start.size()), start);  // then the system's words
  EXPECT_EQ(text.back(), ')');
}

// Each way a card or its target can fail part-way: the old target stays,
// nothing is left beside it, the failure is reported with its reason, and
// the next card is still converted.
TEST_F(BatchRunTest, FailuresPartWayKeepTheOldTargetAndSayWhy) {
  struct Case {
    std::function<void(FaultFileSystem&)> fault;
    std::string reason;
    std::string foretold;  // what a dry run says before, when it cannot see the fault
  };
  const Case cases[] = {
      {[](FaultFileSystem& fs) { fs.BreakReadsOf("a.mcd", testing::ReadFault::kFail); },
       "could not be read (injected read failure)", ""},
      {[](FaultFileSystem& fs) { fs.BreakReadsOf("a.mcd", testing::ReadFault::kEndEarly); },
       "could not be read (it is shorter than its length said)", ""},
      {[](FaultFileSystem& fs) { fs.FailClosesOf("a.mem"); },
       "a.mem could not be written (input/output error)",
       "replace a.mcd: a.mem holds something else; it would go to the " + real_->TrashName()},
      {[](FaultFileSystem& fs) { fs.FailTrashOf("a.mem"); },
       "a.mem was not replaced: no trash could keep it (injected trash failure)",
       "replace a.mcd: a.mem holds something else; it would go to the " + real_->TrashName()},
  };
  for (const Case& c : cases) {
    TempFolder folder;
    folder.Write("a.mcd", CardBytes(1));
    folder.Write("b.mcd", CardBytes(2));
    folder.Write("a.mem", {7});
    std::filesystem::last_write_time(folder.path() / "a.mem",
                                     std::filesystem::file_time_type::clock::now() -
                                         std::chrono::hours(1));  // older than its card
    FaultFileSystem faulty(*real_);
    c.fault(faulty);
    std::vector<std::string> told = VerdictLines(DryRun, faulty, folder.Folder());
    std::sort(told.begin(), told.end());
    EXPECT_EQ(told, (std::vector<std::string>{
                        "new b.mcd: b.mem would be created",
                        c.foretold.empty() ? "skip a.mcd: " + c.reason : c.foretold}));
    EXPECT_FALSE(folder.Exists("b.mem")) << c.reason;
    RecordingWindow window(folder.Folder());
    const BatchReport report = btnStart_Click(window, faulty);
    EXPECT_EQ(folder.Read("a.mem"), Bytes{7}) << c.reason;
    EXPECT_EQ(folder.Read("b.mem"), Target(CardBytes(2))) << c.reason;
    EXPECT_EQ(folder.Names(), (Calls{"a.mcd", "a.mem", "b.mcd", "b.mem"})) << c.reason;
    ASSERT_EQ(report.first_failures.size(), 1u) << c.reason;
    EXPECT_EQ(report.first_failures[0].reason, c.reason);
  }
}

TEST_F(BatchRunTest, ACardThatArrivesAFewBytesAtATimeIsCopiedWhole) {
  folder_.Write("a.mcd", RealCard("m1.mcd"));
  faulty_.BreakReadsOf("a.mcd", testing::ReadFault::kTrickle);
  EXPECT_EQ(Run(folder_.Folder()).processed, 1);
  EXPECT_EQ(folder_.Read("a.mem"), Target(RealCard("m1.mcd")));
}

// Compared a piece at a time, the target's bytes arriving a few at a call:
// the first differing byte is named by its place in the target, wherever
// it falls.
TEST_F(BatchRunTest, AVerifyNamesTheFirstDifferingByteWhereverItFalls) {
  const Bytes card = PatternBytes(kCopyPieceSize + 5000, 3);
  folder_.Write("a.mcd", card);
  faulty_.BreakReadsOf("a.mem", testing::ReadFault::kTrickle);
  BatchReport report;
  const std::pair<std::size_t, std::string> cases[] = {
      {0, "exact a.mcd: a.mem is exact; the card " + SizeNote(card.size())},
      {3, "differs a.mcd: a.mem differs at offset 3"},
      {64, "differs a.mcd: a.mem differs at offset 64"},
      {kCopyPieceSize + 64 + 100,
       "differs a.mcd: a.mem differs at offset " + std::to_string(kCopyPieceSize + 164)},
  };
  for (const auto& [edited, line] : cases) {
    Bytes target = Target(card);
    if (edited > 0) {
      target[edited] ^= 0x40;
      target.back() ^= 1;  // a later difference, never the one named
    }
    folder_.Write("a.mem", target);
    EXPECT_EQ(VerdictLines(Verify, faulty_, folder_.Folder(), &report),
              (std::vector<std::string>{line}));
    EXPECT_EQ(VerifySummary(report), edited == 0 ? "1 Files Verified\n\n1 File of Another Size"
                                                 : "0 Files Verified\n\n1 Files Not Verified");
  }
}

TEST_F(BatchRunTest, ATargetThatIsAFolderIsReportedAsOne) {
  WriteCards({"a.mcd"});
  std::filesystem::create_directory(folder_.path() / "a.mem");
  EXPECT_EQ(FinalMessage(Run(folder_.Folder())),
            "0 Files Processed\n\n1 Files Not Converted:\na.mcd: a.mem is a folder");
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "a.mem"));
}

// Names that end in ".mcd" in other cases give targets of their own, run
// after run.
TEST_F(BatchRunTest, CardsWhoseNamesEndInOtherCasesKeepTheirOwnTargets) {
  const std::vector<std::string> cards = {"a.MCD", "b.mcd", "c.Mcd"};
  WriteCards({"a.MCD", "b.mcd", "c.Mcd"});
  for (int run = 0; run < 2; ++run) {
    const BatchReport report = Run(folder_.Folder());
    EXPECT_TRUE(report.AllConverted()) << FinalMessage(report);
    EXPECT_EQ(report.processed, 3);
  }
  BatchReport verified;
  EXPECT_EQ(VerdictLines(Verify, faulty_, folder_.Folder(), &verified).size(), 3u);
  EXPECT_EQ(verified.processed, 3);
  for (const std::string& card : cards) {
    EXPECT_EQ(folder_.Read(TargetNameFor(card)), Target(folder_.Read(card))) << card;
  }
}

// A target one byte longer than the conversion matches in no walk; it counts
// as modified after its card only when its time is later, not when both are
// equal, as FAT's two-second times often make them.
TEST_F(BatchRunTest, ATargetWithAByteMoreIsNoMatchAndNewerOnlyWhenItsTimeIsLater) {
  namespace fs = std::filesystem;
  const Bytes card = CardBytes(5);
  folder_.Write("a.mcd", card);
  Bytes longer = Target(card);
  longer.push_back(0);
  folder_.Write("a.mem", longer);
  const fs::file_time_type card_time = fs::last_write_time(folder_.path() / "a.mcd");
  fs::last_write_time(folder_.path() / "a.mem", card_time);
  const std::string trashed = "; it would go to the " + real_->TrashName();
  EXPECT_EQ(VerdictLines(DryRun, faulty_, folder_.Folder()),
            std::vector<std::string>{"replace a.mcd: a.mem holds something else" + trashed});
  EXPECT_EQ(
      VerdictLines(Verify, faulty_, folder_.Folder()),
      std::vector<std::string>{"length a.mcd: a.mem is " + std::to_string(longer.size()) +
                               " bytes long instead of " + std::to_string(longer.size() - 1)});
  fs::last_write_time(folder_.path() / "a.mem", card_time + std::chrono::seconds(2));
  EXPECT_EQ(VerdictLines(DryRun, faulty_, folder_.Folder()),
            std::vector<std::string>{"replace-modified a.mcd: a.mem holds something else and "
                                     "was modified after the card" +
                                     trashed});
}

TEST_F(BatchRunTest, ListsTenFailuresAndCountsTheRest) {
  for (char c = 'a'; c < 'a' + 13; ++c) folder_.Write(std::string(1, c) + ".mcd", {});
  WriteCards({"z.mcd"});
  const std::string text = FinalMessage(Run(folder_.Folder()));
  EXPECT_EQ(text.substr(0, 42), "1 Files Processed\n\n13 Files Not Converted:");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 10 + 1) << text;
  EXPECT_EQ(text.substr(text.size() - 11), "\nand 3 more");
}

TEST_F(BatchRunTest, HostileNamesAreShownEscapedAndCannotForgeLines) {
#ifdef _WIN32
  GTEST_SKIP() << "names on Windows hold no control characters";
#endif
  const std::string forged = "x\n0 Files Not Converted:\nfine.mcd";
  folder_.Write(forged, {});
  folder_.Write("\x1b[2J.mcd", {});
  const std::string text = FinalMessage(Run(folder_.Folder()));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
  EXPECT_NE(text.find("\n\"x\\n0 Files Not Converted:\\nfine.mcd\": empty card"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\n\"\\x1B[2J.mcd\": empty card"), std::string::npos) << text;
  EXPECT_EQ(text.find('\x1b'), std::string::npos);
}

TEST_F(BatchRunTest, AReadOnlyTargetStaysAsItWas) {
  WriteCards({"a.mcd"});
  folder_.Write("a.mem", {1, 2, 3});
  std::filesystem::permissions(folder_.path() / "a.mem", std::filesystem::perms::owner_read);
  const BatchReport report = Run(folder_.Folder());
  EXPECT_EQ(folder_.Read("a.mem"), (Bytes{1, 2, 3}));
  EXPECT_EQ(FinalMessage(report),
            "0 Files Processed\n\n1 Files Not Converted:\na.mcd: a.mem is read-only");
}

TEST_F(BatchRunTest, ABrokenListingEndsTheRunAndSaysSo) {
  WriteCards({"a.mcd", "b.mcd", "c.mcd"});
  faulty_.BreakListingAfter(1);
  const BatchReport report = Run(folder_.Folder());
  EXPECT_EQ(report.processed, 1);
  const std::string stopped =
      "\n\nThe listing of " + folder_.Folder() + " stopped early (injected listing failure).";
  EXPECT_EQ(window_.calls.at(window_.calls.size() - 2),
            Message(kStyleWarning, "1 Files Processed" + stopped));
  BatchReport looked;
  EXPECT_EQ(VerdictLines(DryRun, faulty_, folder_.Folder(), &looked).size(), 1u);
  EXPECT_EQ(DryRunSummary(looked), "1 Files Would Be Processed" + stopped);
  EXPECT_EQ(VerdictLines(Verify, faulty_, folder_.Folder(), &looked).size(), 1u);
  EXPECT_EQ(VerifySummary(looked), "1 Files Verified" + stopped);
}

// Of the cards that give one target, the one listed first writes it in
// every run, whatever earlier runs left and whether two of the names are one
// file; each later one is passed over. The dry run foretells each run line
// by line, and the verify checks the target against the first card alone,
// naming no file that is not a listed card.
TEST(BatchRunDuplicates, TheFirstCardListedForATargetWritesItInEveryRun) {
  std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  if (fs->FoldsCase()) GTEST_SKIP() << "a.mcd and a.MCD are one file where names fold case";
  TempFolder folder;
  folder.Write("a.mcd", CardBytes(1));
  folder.Write("a.MCD", CardBytes(2));
  std::filesystem::create_hard_link(folder.path() / "a.mcd", folder.path() / "a.Mcd");
  folder.Write("a", CardBytes(3));  // no card, but a.mem may hold its conversion
  // The listing's order decides which card is first.
  std::vector<std::string> order;
  DryRun(*fs, folder.Folder(), [&](const CardVerdict& verdict) { order.push_back(verdict.name); });
  ASSERT_EQ(order.size(), 3u);
  const std::string& first = order[0];
  // The lines of a walk in which the first card's line is `said`, and the
  // later ones say `why` they were passed over.
  const auto skipped = [&](const std::string& said, const std::string& why) {
    std::vector<std::string> out = {said};
    for (std::size_t i = 1; i < order.size(); ++i) out.push_back("skip " + order[i] + ": " + why);
    return out;
  };
  const auto lines = [&](const std::string& said) {
    return skipped(said, "a.mem was already written from " + first);
  };
  EXPECT_EQ(VerdictLines(DryRun, *fs, folder.Folder()),
            lines("new " + first + ": a.mem would be created"));
  for (int run = 0; run < 3; ++run) {
    if (run == 1) {  // as another tool left it, before the card's last change
      folder.Write("a.mem", Target(folder.Read("a")));
      std::filesystem::last_write_time(
          folder.path() / "a.mem",
          std::filesystem::last_write_time(folder.path() / first) - std::chrono::hours(1));
    }
    if (run == 2) folder.Write(first, CardBytes(4));  // an emulator saved into it
    if (run > 0) {
      EXPECT_EQ(VerdictLines(DryRun, *fs, folder.Folder()),
                lines("replace " + first + ": a.mem holds something else; it would go to the " +
                      fs->TrashName()));
    }
    RecordingWindow window(folder.Folder());
    const BatchReport report = btnStart_Click(window, *fs);
    EXPECT_EQ(report.processed, 1);
    ASSERT_EQ(report.first_failures.size(), 2u);
    for (const CardFailure& failure : report.first_failures) {
      EXPECT_NE(failure.name, first);
      EXPECT_EQ(failure.reason, "a.mem was already written from " + first);
    }
    EXPECT_EQ(folder.Read("a.mem"), Target(folder.Read(first))) << "run " << run;
    EXPECT_EQ(VerdictLines(DryRun, *fs, folder.Folder()),
              lines("same " + first + ": a.mem already holds this conversion"));
  }
  EXPECT_EQ(VerdictLines(Verify, *fs, folder.Folder()),
            lines("exact " + first + ": a.mem is exact"));
  folder.Write("a.mem", Target(folder.Read("a")));
  EXPECT_EQ(VerdictLines(Verify, *fs, folder.Folder()),
            skipped("differs " + first + ": a.mem differs at offset 64",
                    "a.mem is the target of " + first + ", listed before it"));
}

// The record's rules met in an order that a listing may give: once the
// targets were first looked at (for a card with another name), a card
// linked to a target that an earlier card then wrote anew is still passed
// over, by the file it now is.
TEST(TargetRecordTest, ACardLinkedToATargetWrittenSinceTheFirstLookIsPassedOver) {
#ifdef _WIN32
  GTEST_SKIP() << "links need a privilege on Windows";
#endif
  TempFolder folder;
  folder.Write("a.mcd", CardBytes(1));
  folder.Write("a.mem", {7});
  folder.Write("x.bin", CardBytes(2));
  std::filesystem::create_symlink("x.bin", folder.path() / "d.mcd");
  std::filesystem::create_symlink("a.mem", folder.path() / "b.mcd");
  const std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  const auto open = [&](const std::string& name) {
    Status status;
    return fs->OpenCard(folder / name, &status);
  };
  const std::deque<std::string> cards = {"d.mcd", "a.mcd", "b.mcd"};
  TargetRecord record(*fs, folder.Folder(), cards);
  EXPECT_EQ(record.CheckCard(0, *open("d.mcd"), "d.mem"), "");  // every target looked at
  const std::unique_ptr<CardFile> a = open("a.mcd");
  EXPECT_EQ(record.CheckCard(1, *a, "a.mem"), "");
  ASSERT_TRUE(testing::ConvertOne(*fs, folder / "a.mcd", folder / "a.mem").ok());
  TargetLook now;
  fs->LookAt(folder / "a.mem", *a, &now);
  record.Take("a.mem", now.identity, 1, true);
  EXPECT_EQ(record.CheckCard(2, *open("b.mcd"), "b.mem"), "it is a.mem, the target of a.mcd");
}

TEST(FileHasData, IsTrueForAFileWithBytesOnly) {
  TempFolder folder;
  folder.Write("full.mcd", {0});
  folder.Write("empty.mcd", {});
  std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  EXPECT_TRUE(FileHasData(*fs, folder / "full.mcd"));
  EXPECT_FALSE(FileHasData(*fs, folder / "empty.mcd"));
  EXPECT_FALSE(FileHasData(*fs, folder / "missing.mcd"));
  EXPECT_FALSE(FileHasData(*fs, folder.Folder()));
}

TEST(FinalMessage, ListsFailuresBeforeAnEarlyStop) {
  BatchReport report;
  report.folder = "/cards/";
  report.not_converted = 1;
  report.first_failures.push_back({"a.mcd", "empty card"});
  report.listing_stopped_early = true;
  EXPECT_EQ(FinalMessage(report),
            "0 Files Processed\n\n1 Files Not Converted:\na.mcd: empty card\n"
            "The listing of /cards/ stopped early.");
}

struct ShownCase {
  const char* name;
  const char* shown;
};

class Shown : public ::testing::TestWithParam<ShownCase> {};

TEST_P(Shown, EscapesWhatCouldForgeOrSteerAndNothingElse) {
  EXPECT_EQ(ShownName(GetParam().name), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Names, Shown,
                         ::testing::Values(ShownCase{"slot1.mcd", "slot1.mcd"},
                                           ShownCase{"caf\xC3\xA9 \"1\" \\.mcd",
                                                     "caf\xC3\xA9 \"1\" \\.mcd"},
                                           ShownCase{"a\nb\tc\rd", "\"a\\nb\\tc\\rd\""},
                                           ShownCase{"\x1b[2J\x7f", "\"\\x1B[2J\\x7F\""},
                                           ShownCase{"\"quoted\".mcd", "\"\\\"quoted\\\".mcd\""},
                                           ShownCase{"a\n\"\\", "\"a\\n\\\"\\\\\""},
                                           ShownCase{"bad\xFF\xC3.mcd", "\"bad\\xFF\\xC3.mcd\""},
                                           ShownCase{"c1\xC2\x9B.mcd", "\"c1\\u009B.mcd\""},
                                           ShownCase{"txt.\xE2\x80\xAE"
                                                     "dcm",
                                                     "\"txt.\\u202Edcm\""},
                                           ShownCase{"\xE2\x81\xA6"
                                                     "a.mcd\xE2\x81\xA9",
                                                     "\"\\u2066a.mcd\\u2069\""},
                                           ShownCase{"", ""}));

struct FolderCase {
  const char* source;
  char separator;
  const char* folder;
};

class CardFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(CardFolder, CutsAfterTheLastSeparator) {
  EXPECT_EQ(CardFolderFor(GetParam().source, GetParam().separator), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, CardFolder,
    ::testing::Values(FolderCase{"C:\\cards\\a.mcd", '\\', "C:\\cards\\"},
                      FolderCase{"C:\\cards\\", '\\', "C:\\cards\\"},
                      FolderCase{"C:\\cards", '\\', "C:\\"}, FolderCase{"cards", '\\', "cards\\"},
                      FolderCase{"a/b\\c", '\\', "a/b\\"},
                      FolderCase{"/home/u/cards/a.mcd", '/', "/home/u/cards/"},
                      FolderCase{"/home/u/cards/", '/', "/home/u/cards/"},
                      FolderCase{"/home/u/cards", '/', "/home/u/"},
                      FolderCase{"cards", '/', "cards/"}, FolderCase{"/", '/', "/"},
                      FolderCase{"C:\\cards\\a.mcd", '/', "C:\\cards\\a.mcd/"}));

}  // namespace
}  // namespace pellamar
