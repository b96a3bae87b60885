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
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "bench/bench_support.h"
#include "core/batch_run.h"
#include "core/file_system.h"

namespace {

namespace fs = std::filesystem;
using namespace pellamar::bench;

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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, 1, &options)) {
    PrintUsage(argv[0]);
    return 2;
  }
  const CardFolder folder(options);
  const long rss_after_setup = PeakRssKiB();
  std::printf("%d cards of %zu bytes in %s, %d rounds\n", options.cards, options.size,
              folder.path().c_str(), options.rounds);

  std::unique_ptr<pellamar::FileSystem> file_system = pellamar::NewPlatformFileSystem();
  std::vector<double> batch, baseline;
  for (int round = 0; round < options.rounds; ++round) {
    folder.RemoveOutputs();
    SilentWindow window(folder.SourceText());
    auto start = Clock::now();
    const pellamar::BatchReport report = pellamar::btnStart_Click(window, *file_system);
    batch.push_back(SecondsSince(start));
    if (report.processed != options.cards || !report.AllConverted()) {
      std::fprintf(stderr, "the batch run failed: %s\n", window.message().c_str());
      return 1;
    }

    folder.RemoveOutputs();
    start = Clock::now();
    if (!CopyPlainly(folder.path())) {
      std::fprintf(stderr, "the plain copy failed\n");
      return 1;
    }
    baseline.push_back(SecondsSince(start));
  }

  PrintRate("batch", Median(batch), options);
  PrintRate("baseline", Median(baseline), options);
  std::printf("ratio     batch/baseline %.3f\n", Median(batch) / Median(baseline));
  std::printf("peak RSS  %ld KiB (%ld KiB before the first run)\n", PeakRssKiB(), rss_after_setup);
  return 0;
}
