// What the benchmarks share: their options, a folder of generated cards, a
// window that does nothing, and medians.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/batch_run.h"

namespace pellamar::bench {

struct Options {
  int cards = 2000;
  std::size_t size = 131072;
  int rounds = 5;
  std::filesystem::path dir;  // /dev/shm where it exists, else the temporary folder
};

// Reads --cards, --size, --rounds and --dir from argv[first..]; false on
// anything else.
bool ParseOptions(int argc, char** argv, int first, Options* options);
void PrintUsage(const char* program);

// A folder of generated cards, removed with everything in it at the end.
// Up to 10,000 cards are dealt out over folders of 100 inside it, its
// slices, so that passes can take turns slice by slice; more make one
// folder, as a user with that many would have them.
class CardFolder {
 public:
  explicit CardFolder(const Options& options);
  ~CardFolder();
  const std::filesystem::path& path() const { return path_; }
  int slices() const { return static_cast<int>(slices_.size()); }
  const std::filesystem::path& slice(int index) const { return slices_[index]; }
  int CardsIn(int slice) const { return cards_in_[slice]; }
  // A slice as the source field would name it: ending in "/".
  std::string SourceText(int slice) const { return (slices_[slice] / "").string(); }
  // Removes every file of the slice but the cards, so the next pass writes
  // afresh.
  void RemoveOutputs(int slice) const;

 private:
  std::filesystem::path path_;
  std::vector<std::filesystem::path> slices_;
  std::vector<int> cards_in_;
};

class SilentWindow : public WindowOperations {
 public:
  explicit SilentWindow(std::string source) : source_(std::move(source)) {}
  std::string SourceText() override { return source_; }
  void btnSource_Click() override {}
  void SetLabel3Caption(const std::string&) override {}
  void RepaintNow() override {}
  std::string Caption() override { return "bench"; }
  void ShowMessageBox(const std::string& text, int, const std::string&) override {
    message_ = text;
  }
  const std::string& message() const { return message_; }

 private:
  std::string source_;
  std::string message_;
};

// Times `kinds` kinds of pass over every card of `folder`, `rounds` times.
// A machine's speed may swing by a third from one tenth of a second to the
// next, so the kinds take turns slice by slice, each slice starting with
// another one, and every kind meets the same swings. `pass(kind, slice)`
// runs one over a slice whose outputs were just removed and gives its
// seconds, or a negative number when it failed. Returns each kind's median
// of its seconds per round; nothing when a pass failed.
std::vector<double> MediansInTurns(const CardFolder& folder, int rounds, int kinds,
                                   const std::function<double(int kind, int slice)>& pass);

using Clock = std::chrono::steady_clock;
double SecondsSince(Clock::time_point start);
double Median(std::vector<double> values);
long PeakRssKiB();
// One line: the median seconds of `what` and its rate in cards and MB.
void PrintRate(const char* what, double seconds, const Options& options);
// One line: a ratio, and its goal when it has one (goal > 0); false when it
// misses it.
bool PrintRatio(const char* what, double ratio, double goal);

}  // namespace pellamar::bench
