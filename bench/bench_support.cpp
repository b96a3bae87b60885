#include "bench/bench_support.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pellamar::bench {
namespace fs = std::filesystem;

bool ParseOptions(int argc, char** argv, int first, Options* options) {
  options->dir = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  for (int i = first; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--cards") {
      options->cards = std::atoi(value);
    } else if (flag == "--size") {
      options->size = static_cast<std::size_t>(std::atoll(value));
    } else if (flag == "--rounds") {
      options->rounds = std::atoi(value);
    } else if (flag == "--dir") {
      options->dir = value;
    } else {
      return false;
    }
  }
  return (argc - first) % 2 == 0 && options->cards > 0 && options->size > 0 && options->rounds > 0;
}

void PrintUsage(const char* program) {
  std::fprintf(stderr, "usage: %s [--cards N] [--size BYTES] [--rounds R] [--dir FOLDER]\n",
               program);
}

CardFolder::CardFolder(const Options& options)
    : path_(options.dir / ("pellamar-bench-" + std::to_string(getpid()))) {
  const int slices = options.cards <= 10000 ? (options.cards + 99) / 100 : 1;
  for (int i = 0; i < slices; ++i) {
    slices_.push_back(slices > 1 ? path_ / ("slice" + std::to_string(i)) : path_);
    fs::create_directories(slices_.back());
  }
  cards_in_.assign(slices_.size(), 0);
  std::vector<char> card(options.size);
  for (int i = 0; i < options.cards; ++i) {
    for (std::size_t b = 0; b < card.size(); b += 512) card[b] = static_cast<char>(i + b);
    const std::size_t slice = static_cast<std::size_t>(i) % slices_.size();
    ++cards_in_[slice];
    const fs::path name = slices_[slice] / ("card" + std::to_string(i) + ".mcd");
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (file == nullptr || std::fwrite(card.data(), 1, card.size(), file) != card.size()) {
      std::perror(name.c_str());
      std::exit(1);
    }
    std::fclose(file);
  }
}

CardFolder::~CardFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void CardFolder::RemoveOutputs(int slice) const {
  for (const auto& entry : fs::directory_iterator(slices_[slice])) {
    if (entry.path().extension() != ".mcd") fs::remove(entry.path());
  }
}

std::vector<double> MediansInTurns(const CardFolder& folder, int rounds, int kinds,
                                   const std::function<double(int kind, int slice)>& pass) {
  std::vector<std::vector<double>> times(kinds);
  for (int round = 0; round < rounds; ++round) {
    std::vector<double> seconds(kinds, 0.0);
    for (int slice = 0; slice < folder.slices(); ++slice) {
      for (int turn = 0; turn < kinds; ++turn) {
        const int kind = (slice + round + turn) % kinds;
        folder.RemoveOutputs(slice);
        const double taken = pass(kind, slice);
        if (taken < 0) return {};
        seconds[kind] += taken;
      }
    }
    for (int kind = 0; kind < kinds; ++kind) times[kind].push_back(seconds[kind]);
  }
  std::vector<double> medians;
  for (std::vector<double>& kind : times) medians.push_back(Median(std::move(kind)));
  return medians;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

void PrintRate(const char* what, double seconds, const Options& options) {
  const double megabytes = double(options.cards) * double(options.size) / 1e6;
  std::printf("%-9s median %8.4f s  %9.0f cards/s  %8.1f MB/s\n", what, seconds,
              options.cards / seconds, megabytes / seconds);
}

bool PrintRatio(const char* what, double ratio, double goal) {
  std::printf("ratio     %-24s %.3f", what, ratio);
  if (goal <= 0) {
    std::printf("\n");
    return true;
  }
  std::printf("   goal <= %.2f: %s\n", goal, ratio <= goal ? "met" : "MISSED");
  return ratio <= goal;
}

}  // namespace pellamar::bench
