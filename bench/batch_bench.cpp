// Measures the batch run against a plain copy of the same bytes.
//
//   pellamar_bench [--cards N] [--size BYTES] [--rounds R] [--dir FOLDER]
//
// It fills FOLDER/pellamar-bench-<pid>/ with N cards, then alternates, R
// times, a "Convert" run through the core (with a window that does nothing)
// and a baseline that reads each card whole and writes it whole to a new
// file. Outputs of both are removed before every timed pass, so each pass
// creates its files afresh. It prints the median of each and their ratio.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/batch_run.h"
#include "core/file_system.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  int cards = 2000;
  std::size_t size = 131072;
  int rounds = 5;
  fs::path dir = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
};

class SilentWindow : public pellamar::WindowOperations {
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

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i + 1 < argc; i += 2) {
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
  return argc % 2 == 1 && options->cards > 0 && options->size > 0 && options->rounds > 0;
}

void WriteFile(const fs::path& path, const std::vector<char>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fclose(file);
}

void MakeCards(const fs::path& folder, const Options& options) {
  fs::create_directories(folder);
  std::vector<char> card(options.size);
  for (int i = 0; i < options.cards; ++i) {
    for (std::size_t b = 0; b < card.size(); b += 512) card[b] = static_cast<char>(i + b);
    WriteFile(folder / ("card" + std::to_string(i) + ".mcd"), card);
  }
}

void RemoveOutputs(const fs::path& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".mcd") fs::remove(entry.path());
  }
}

// Reads each card whole and writes it whole to a new file: the least any
// converter has to do.
bool CopyPlainly(const fs::path& folder) {
  std::vector<char> buffer;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() != ".mcd") continue;
    const int in = open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
    buffer.resize(static_cast<std::size_t>(lseek(in, 0, SEEK_END)));
    const bool read_all = pread(in, buffer.data(), buffer.size(), 0) == ssize_t(buffer.size());
    close(in);
    const fs::path copy = fs::path(entry.path()).replace_extension(".copy");
    const int out = open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    const bool wrote_all = write(out, buffer.data(), buffer.size()) == ssize_t(buffer.size());
    if (close(out) != 0 || !read_all || !wrote_all) return false;
  }
  return true;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: %s [--cards N] [--size BYTES] [--rounds R] [--dir FOLDER]\n",
                 argv[0]);
    return 2;
  }
  const fs::path folder = options.dir / ("pellamar-bench-" + std::to_string(getpid()));
  MakeCards(folder, options);
  const long rss_after_setup = PeakRssKiB();
  std::printf("%d cards of %zu bytes in %s, %d rounds\n", options.cards, options.size,
              folder.c_str(), options.rounds);

  std::unique_ptr<pellamar::FileSystem> file_system = pellamar::NewPlatformFileSystem();
  std::vector<double> batch, baseline;
  bool ok = true;
  for (int round = 0; round < options.rounds && ok; ++round) {
    RemoveOutputs(folder);
    SilentWindow window((folder / "").string());
    auto start = Clock::now();
    const pellamar::BatchReport report = pellamar::btnStart_Click(window, *file_system);
    batch.push_back(Seconds(Clock::now() - start));
    ok = report.processed == options.cards && report.AllConverted();
    if (!ok) std::fprintf(stderr, "batch run failed: %s\n", window.message().c_str());

    RemoveOutputs(folder);
    start = Clock::now();
    ok = ok && CopyPlainly(folder);
    baseline.push_back(Seconds(Clock::now() - start));
  }
  fs::remove_all(folder);
  if (!ok) return 1;

  PrintRate("batch", Median(batch), options);
  PrintRate("baseline", Median(baseline), options);
  std::printf("ratio     batch/baseline %.3f\n", Median(batch) / Median(baseline));
  std::printf("peak RSS  %ld KiB (%ld KiB before the first run)\n", PeakRssKiB(), rss_after_setup);
  return 0;
}
