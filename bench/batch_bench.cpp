// Measures the batch run against plain copies of the same bytes.
//
//   pellamar_bench [--cards N] [--size BYTES] [--rounds R] [--dir FOLDER]
//
// It fills FOLDER/pellamar-bench-<pid>/ with N cards (in folders of 100,
// for up to 10,000 cards), then times, R times, a "Convert" run through the
// core (with a window that does nothing), a plain copy that reads each card
// whole and writes the same bytes as the run (the 64-byte header, then the
// card) to a new file, and the same copy written beside and renamed into
// place, the least that a converter that never leaves a torn file can do.
// The three take turns folder by folder. Outputs are removed before every
// timed pass, so each pass creates its files afresh. It prints the median of
// each and their ratios.
//
// Without options it measures the sizes that matter, each against its goal:
// 2,000 cards of 128 KiB (every real card's size), 2,000 of 4 KiB (the cost
// per card) and 100,000 of one byte (time, and the peak memory of the whole
// program, which the run's record of the targets it wrote makes grow with
// the cards). Then it runs again over 2,000 cards of 128 KiB whose targets
// already hold their conversions (nothing to write), and whose targets all
// hold a played-on card (each goes to the trash, the benchmark's own in its
// folder), each against a first run. It exits 1 when a goal is missed.
#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>
#include <vector>

#include "bench/bench_support.h"
#include "core/batch_run.h"
#include "core/card_conversion.h"
#include "core/file_system.h"

namespace {

namespace fs = std::filesystem;
using namespace pellamar::bench;

// The most memory the program may take at its peak, 100,000 cards in one
// folder included: 30 MB.
constexpr long kPeakMemoryGoalKiB = 30'000'000 / 1024;

// Reads each card whole and writes the header and the card to a new file in
// one call: the least any converter has to do. The header counts: 64 bytes
// more than a 4 KiB card take a second page. With `beside`, each copy is
// written to a hidden file and renamed into place: the least a converter
// that never leaves a torn file has to do.
bool Copy(const fs::path& folder, bool beside) {
  pellamar::TargetHeader header = pellamar::BuildTargetHeader();
  std::vector<char> buffer;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".mcd") continue;
    const int in = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    buffer.resize(static_cast<std::size_t>(lseek(in, 0, SEEK_END)));
    const bool read_all = pread(in, buffer.data(), buffer.size(), 0) == ssize_t(buffer.size());
    close(in);
    const fs::path copy = fs::path(entry.path()).replace_extension(".copy");
    const fs::path temp = folder / ("." + entry.path().filename().string() + ".tmp");
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (beside ? O_EXCL : O_TRUNC);
    const int out = open((beside ? temp : copy).c_str(), flags, 0644);
    const iovec pieces[] = {{header.data(), header.size()}, {buffer.data(), buffer.size()}};
    const bool wrote_all = writev(out, pieces, 2) == ssize_t(header.size() + buffer.size());
    if (close(out) != 0 || !read_all || !wrote_all) return false;
    if (beside && rename(temp.c_str(), copy.c_str()) != 0) return false;
  }
  return true;
}

struct Medians {
  double batch = 0, plain = 0, renamed = 0;
};

// The medians of `kinds` kinds of pass over a folder of cards that
// `options` makes, the kinds taking turns; `what` is said of the folder.
// Empty when a pass failed.
using TimedPass = double (*)(int kind, const CardFolder& folder, int slice,
                             pellamar::FileSystem& file_system);
std::vector<double> MediansOver(const Options& options, const char* what, int kinds,
                                TimedPass pass) {
  const CardFolder folder(options);
  std::printf("%d cards of %zu bytes in %s%s, %d rounds\n", options.cards, options.size,
              folder.path().c_str(), what, options.rounds);
  std::unique_ptr<pellamar::FileSystem> file_system = pellamar::NewPlatformFileSystem();
  return MediansInTurns(folder, options.rounds, kinds, [&](int kind, int slice) {
    return pass(kind, folder, slice, *file_system);
  });
}

// The trash of the home that main() gives the benchmark.
fs::path Trash() { return fs::path(std::getenv("XDG_DATA_HOME")) / "Trash"; }

// Writes each target of `slice` as a run leaves it, or, `played`, with one
// byte in the middle of its card changed, as an emulator's save leaves it.
bool WriteTargets(const fs::path& slice, bool played) {
  const pellamar::TargetHeader header = pellamar::BuildTargetHeader();
  for (const auto& entry : fs::directory_iterator(slice)) {
    if (entry.path().extension() != ".mcd") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<char> card{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (played) card[card.size() / 2] ^= 1;
    std::ofstream out(fs::path(entry.path()).replace_extension(".mem"), std::ios::binary);
    out.write(reinterpret_cast<const char*>(header.data()), header.size());
    out.write(card.data(), static_cast<std::streamsize>(card.size()));
    if (!out) return false;
  }
  return true;
}

enum Rerun { kFirst, kSame, kTrashing, kReruns };

// The seconds of one run of `kind` over one slice whose targets were just
// removed, made ready for it untimed; -1 when it failed.
double TimeRerun(int kind, const CardFolder& folder, int slice, pellamar::FileSystem& file_system) {
  if (kind != kFirst && !WriteTargets(folder.slice(slice), kind == kTrashing)) return -1;
  std::error_code ignored;
  if (kind == kTrashing) fs::remove_all(Trash(), ignored);
  SilentWindow window(folder.SourceText(slice));
  const auto start = Clock::now();
  const pellamar::BatchReport report = pellamar::btnStart_Click(window, file_system);
  const double seconds = SecondsSince(start);
  const int cards = folder.CardsIn(slice);
  const bool done = report.AllConverted() && report.processed == cards &&
                    report.trashed == (kind == kTrashing ? cards : 0);
  if (!done) std::fprintf(stderr, "the run failed: %s\n", window.message().c_str());
  return done ? seconds : -1;
}

// Runs over targets that hold their conversions, and over played-on ones,
// each against a first run; false when a run failed or a goal was missed.
bool MeasureReruns(const Options& options) {
  const std::vector<double> seconds = MediansOver(options, ", run again", kReruns, TimeRerun);
  if (seconds.empty()) return false;
  PrintRate("first", seconds[kFirst], options);
  PrintRate("same", seconds[kSame], options);
  PrintRate("trashing", seconds[kTrashing], options);
  bool met = PrintRatio("same/first", seconds[kSame] / seconds[kFirst], 1.0);
  met &= PrintRatio("trashing/first", seconds[kTrashing] / seconds[kFirst], 1.5);
  return met;
}

enum Pass { kBatch, kPlain, kRenamed, kPasses };

// The seconds of one pass over one slice of `folder`; -1 when it failed.
double TimePass(int pass, const CardFolder& folder, int slice, pellamar::FileSystem& file_system) {
  SilentWindow window(folder.SourceText(slice));
  const auto start = Clock::now();
  bool done = true;
  if (pass == kBatch) {
    const pellamar::BatchReport report = pellamar::btnStart_Click(window, file_system);
    done = report.AllConverted() && report.processed == folder.CardsIn(slice);
    if (!done) std::fprintf(stderr, "the batch run failed: %s\n", window.message().c_str());
  } else {
    done = Copy(folder.slice(slice), pass == kRenamed);
    if (!done) std::fprintf(stderr, "a plain copy failed\n");
  }
  const double seconds = SecondsSince(start);
  return done ? seconds : -1;
}

// Measures one folder of cards, the run and both copies taking turns;
// nullopt when a pass failed.
std::optional<Medians> Measure(const Options& options) {
  const std::vector<double> seconds = MediansOver(options, "", kPasses, TimePass);
  if (seconds.empty()) return std::nullopt;
  const Medians medians{seconds[kBatch], seconds[kPlain], seconds[kRenamed]};
  PrintRate("batch", medians.batch, options);
  PrintRate("plain", medians.plain, options);
  PrintRate("renamed", medians.renamed, options);
  return medians;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, 1, &options)) {
    PrintUsage(argv[0]);
    return 2;
  }
  // A home of its own, on the cards' volume, whose trash takes what the
  // runs replace; set before the trash is first looked for.
  const fs::path home = options.dir / ("pellamar-bench-home-" + std::to_string(getpid()));
  fs::create_directories(home);
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
  struct RemoveHome {
    fs::path path;
    ~RemoveHome() {
      std::error_code ignored;
      fs::remove_all(path, ignored);
    }
  } remove_home{home};
  if (argc > 1) {
    const std::optional<Medians> medians = Measure(options);
    if (!medians) return 1;
    PrintRatio("batch/plain", medians->batch / medians->plain, 0);
    PrintRatio("batch/renamed", medians->batch / medians->renamed, 0);
    std::printf("peak RSS  %ld KiB\n", PeakRssKiB());
    return 0;
  }

  bool met = true;
  options.rounds = 11;
  options.size = 131072;
  std::optional<Medians> medians = Measure(options);
  if (!medians) return 1;
  met &= PrintRatio("batch/plain", medians->batch / medians->plain, 1.10);
  met &= PrintRatio("batch/renamed", medians->batch / medians->renamed, 1.06);

  options.size = 4096;
  medians = Measure(options);
  if (!medians) return 1;
  met &= PrintRatio("batch/plain", medians->batch / medians->plain, 1.40);
  PrintRatio("batch/renamed", medians->batch / medians->renamed, 0);

  options.cards = 100000;
  options.size = 1;
  options.rounds = 3;
  medians = Measure(options);
  if (!medians) return 1;
  PrintRatio("batch/plain", medians->batch / medians->plain, 0);
  const long peak = PeakRssKiB();
  std::printf("peak RSS  %ld KiB   goal <= %ld: %s\n", peak, kPeakMemoryGoalKiB,
              peak <= kPeakMemoryGoalKiB ? "met" : "MISSED");
  met &= peak <= kPeakMemoryGoalKiB;

  options.cards = 2000;
  options.size = 131072;
  options.rounds = 11;
  met &= MeasureReruns(options);
  return met ? 0 : 1;
}
