#include "cli/folder_check.h"

#include <ostream>

#include "core/batch_run.h"

namespace pellamar::cli {

int CheckFolder(FileSystem& fs, const std::string& source_text, CommandLine::Mode mode,
                bool verbose, std::ostream& out, std::ostream& err) {
  if (source_text.empty()) {
    PrintUsageError(err, "no PATH given");
    return kExitUsage;
  }
  bool any_line = false;
  // A line that cannot be written is given up, as progress is; the summary
  // then fails too, and the exit status says so.
  const VerdictSink print = [&](const CardVerdict& verdict) {
    if (verdict.kind == CardVerdict::Kind::kExact && !verbose && !verdict.other_size) return;
    out << VerdictLine(verdict) << '\n';
    any_line = true;
  };
  const std::string folder = CardFolderFor(source_text, fs.Separator());
  const bool dry_run = mode == CommandLine::Mode::kDryRun;
  const BatchReport report = dry_run ? DryRun(fs, folder, print) : Verify(fs, folder, print);
  if (any_line) out << '\n';
  out << (dry_run ? DryRunSummary(report) : VerifySummary(report)) << '\n' << std::flush;
  return ExitStatusFor(report, static_cast<bool>(out));
}

}  // namespace pellamar::cli
