// pellamar-cli killed at any moment: every target is absent, still holds its
// old content, or is complete, and an old one that is not in its place is in
// the trash; a signal that can be caught leaves nothing behind; leftovers of
// a run killed outright are never taken for cards, and the next run removes
// them.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <thread>

#include "cli/command_line.h"
#include "core/file_system.h"
#include "core/replace.h"
#include "tests/cli/child_process.h"
#include "tests/support/expected_target.h"
#include "tests/support/temp_folder.h"

namespace pellamar::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kCards = 2000;
constexpr int kKills = 30;
// More than any target, old or new, holds: a longer one reads as broken.
constexpr std::size_t kReadLimit = 8192;
// Every kOldEvery-th card starts each run with an old target of its own.
constexpr int kOldEvery = 4;

std::string CardName(int i) {
  char name[32];
  std::snprintf(name, sizeof name, "card-%04d.mcd", i);
  return name;
}
std::string TargetName(int i) { return CardName(i).substr(0, 9) + ".mem"; }
bool HasOldTarget(int i) { return i % kOldEvery == 0; }

// 2 to 6 KB, unlike every other card from its first bytes on.
Bytes CardOf(int i) {
  Bytes card =
      PatternBytes(2048 + static_cast<std::size_t>(i * 37 % 4096), static_cast<std::uint8_t>(i));
  card[0] = static_cast<std::uint8_t>(i);
  card[1] = static_cast<std::uint8_t>(i >> 8);
  return card;
}
// Longer than any new target, so a target cut short or mixed would show.
Bytes OldTargetBytes(int i) { return Bytes(7000, static_cast<std::uint8_t>(0xA0 + i % 7)); }

// Caught signals of every kind that ends a program (but those that also
// dump its memory), and one that cannot be caught.
const int kSignals[] = {SIGKILL, SIGINT,    SIGTERM, SIGHUP,  SIGUSR1,
                        SIGUSR2, SIGVTALRM, SIGPWR,  SIGALRM, SIGRTMIN + 3};

// The part of a temporary file's name that tells this machine.
std::string MachineToken() { return pellamar::MachineToken(NewPlatformFileSystem()->MachineId()); }

enum class TargetState { kAbsent, kOld, kComplete, kBroken };

class CrashSafetyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < kCards; ++i) {
      expected_.push_back(ExpectedTarget(CardOf(i)));
      folder_.Write(CardName(i), CardOf(i));
    }
  }

  // Old targets back in place, every other target gone, and the trash
  // empty; leftovers stay. Only targets that the last check did not find
  // untouched are redone.
  void ResetTargets() {
    std::filesystem::remove_all(HomeTrash());
    for (int i = 0; i < kCards; ++i) {
      if (changed_[i] && HasOldTarget(i)) folder_.Write(TargetName(i), OldTargetBytes(i));
      if (changed_[i] && !HasOldTarget(i)) std::filesystem::remove(folder_.path() / TargetName(i));
      changed_[i] = false;
    }
  }

  // The targets whose old bytes are in the trash, each with the path it
  // would be restored to.
  std::set<int> TrashedOldTargets() const {
    std::set<int> trashed;
    std::error_code ignored;
    for (const auto& info : std::filesystem::directory_iterator(HomeTrash() / "info", ignored)) {
      std::ifstream lines(info.path());
      std::string line;
      while (std::getline(lines, line) && !line.starts_with("Path=")) {
      }
      const std::string name = info.path().stem().string();  // the name in files/
      for (int i = 0; i < kCards; i += kOldEvery) {
        if (line != "Path=" + folder_ / TargetName(i)) continue;
        std::ifstream file(HomeTrash() / "files" / name, std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (bytes == OldTargetBytes(i)) trashed.insert(i);
      }
    }
    return trashed;
  }

  TargetState StateOf(int i) {
    if (!ReadTarget(i)) return TargetState::kAbsent;
    if (buffer_ == expected_[i]) return TargetState::kComplete;
    if (buffer_ == OldTargetBytes(i)) return TargetState::kOld;
    return TargetState::kBroken;
  }

  // Reads the target of card i into buffer_; false when there is none.
  bool ReadTarget(int i) {
    std::FILE* file = std::fopen((folder_ / TargetName(i)).c_str(), "rb");
    if (file == nullptr) return false;
    buffer_.resize(kReadLimit);
    buffer_.resize(std::fread(buffer_.data(), 1, buffer_.size(), file));
    std::fclose(file);
    return true;
  }

  // Checks every target; returns how many the last run completed.
  int CheckTargets(const std::string& when) {
    const std::set<int> trashed = TrashedOldTargets();
    int completed = 0;
    for (int i = 0; i < kCards; ++i) {
      const TargetState state = StateOf(i);
      const TargetState untouched = HasOldTarget(i) ? TargetState::kOld : TargetState::kAbsent;
      if (state == TargetState::kComplete) ++completed;
      changed_[i] = state != untouched;
      EXPECT_TRUE(state == TargetState::kComplete || state == untouched ||
                  state == TargetState::kAbsent)
          << TargetName(i) << " " << when << ": "
          << (state == TargetState::kBroken ? "holds neither its old nor its new bytes"
                                            : "is in a state it never had");
      if (HasOldTarget(i) && state != TargetState::kOld) {
        EXPECT_EQ(trashed.count(i), 1u)
            << TargetName(i) << " " << when << ": its old bytes are lost";
      }
    }
    return completed;
  }

  // The names in the folder that are neither cards nor targets, each checked
  // to be a leftover of the program's own writes.
  std::set<std::string> Leftovers() const {
    static const std::regex kLeftover(R"(\.pellamar-[0-9a-f]{8}-[0-9]+-[0-9]+\.tmp)");
    std::set<std::string> leftovers;
    for (const std::string& name : folder_.Names()) {
      if (name.starts_with("card-")) continue;
      EXPECT_TRUE(std::regex_match(name, kLeftover)) << "unexpected file " << name;
      leftovers.insert(name);
    }
    return leftovers;
  }

  // What the run's own listing of cards returns.
  std::set<std::string> ListedCards() const {
    const std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
    const std::vector<std::string> names = testing::ListedCards(*fs, folder_.Folder());
    return std::set<std::string>(names.begin(), names.end());
  }

  std::set<std::string> AllCardNames() const {
    std::set<std::string> names;
    for (int i = 0; i < kCards; ++i) names.insert(CardName(i));
    return names;
  }

  TempFolder folder_;
  std::vector<Bytes> expected_;
  // Targets that may differ from their state before any run.
  std::vector<bool> changed_ = std::vector<bool>(kCards, true);
  Bytes buffer_;
};

TEST_F(CrashSafetyTest, KillsAtAnyMomentLeaveNoBrokenTargetAndTheNextRunFinishes) {
  // How long a whole run takes here, to spread the kills over it.
  ResetTargets();
  const Clock::time_point start = Clock::now();
  SilentChild timing({folder_.Folder()});
  const int timing_status = timing.Wait();
  const auto run_time = Clock::now() - start;
  // Cards of a few KB, so as to be quick, are not of a memory card's size.
  ASSERT_TRUE(WIFEXITED(timing_status) && WEXITSTATUS(timing_status) == cli::kExitOtherSizes);
  ASSERT_EQ(CheckTargets("after a whole run"), kCards);

  int killed_part_way = 0;
  for (int k = 0; k < kKills; ++k) {
    ResetTargets();
    // From just after the start to just past the usual end.
    const auto delay = run_time * (k + 0.5) / kKills * 1.1;
    const int signal_number = kSignals[k % std::size(kSignals)];
    const std::set<std::string> before = Leftovers();
    SilentChild child({folder_.Folder()});
    std::this_thread::sleep_for(delay);
    const int status = child.KillAndWait(signal_number);

    const std::string when =
        "after kill " + std::to_string(k) + " by signal " + std::to_string(signal_number);
    const int completed = CheckTargets(when);
    if (WIFSIGNALED(status) && completed > 0 && completed < kCards) ++killed_part_way;
    if (WIFSIGNALED(status)) {
      EXPECT_EQ(WTERMSIG(status), signal_number) << when;
    }
    const std::set<std::string> after = Leftovers();
    if (signal_number != SIGKILL) {
      EXPECT_TRUE(std::includes(before.begin(), before.end(), after.begin(), after.end()))
          << when << ": a temporary file was left";
    }
    EXPECT_EQ(ListedCards(), AllCardNames()) << when;
    if (HasFailure()) return;
  }
  const std::set<std::string> leftovers = Leftovers();
  std::printf("%d kills, %d part-way through the run, %zu leftovers, whole run %lld ms\n", kKills,
              killed_part_way, leftovers.size(),
              static_cast<long long>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(run_time).count()));
  // Kills that all missed the run would prove nothing.
  EXPECT_GE(killed_part_way, kKills / 3);

  // A last run among the leftovers, and with the very names it would pick
  // for its own first temporary files already taken.
  ResetTargets();
  std::set<std::string> planted;
  ChildOptions options;
  const std::string token = MachineToken();
  options.before_start = [&](pid_t pid) {
    for (int n = 0; n < 3; ++n) {
      const std::string name =
          ".pellamar-" + token + "-" + std::to_string(pid) + "-" + std::to_string(n) + ".tmp";
      folder_.Write(name, {0xEE});
      planted.insert(name);
    }
  };
  const Outcome last = RunCli({folder_.Folder()}, options);
  EXPECT_EQ(last.exit_code(), cli::kExitOtherSizes);
  EXPECT_TRUE(last.out.starts_with("2000 Files Processed\n\n2000 Files of Another Size:"))
      << last.out;
  EXPECT_EQ(CheckTargets("after the last run"), kCards);
  for (const std::string& name : planted) EXPECT_EQ(folder_.Read(name), Bytes{0xEE}) << name;
  // The killed runs' leftovers are gone; those of a live run, and none of
  // the last run's own, are left.
  EXPECT_EQ(Leftovers(), planted);
}

}  // namespace
}  // namespace pellamar::testing
