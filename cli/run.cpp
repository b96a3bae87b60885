#include "cli/run.h"

#include <memory>
#include <ostream>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_window.h"
#include "cli/folder_check.h"
#include "core/batch_run.h"
#include "core/file_system.h"

namespace pellamar::cli {

int Run(std::span<const std::string> args, const Terminal& terminal) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
  switch (line.action) {
    case CommandLine::Action::kHelp:
      PrintHelp(terminal.out);
      return terminal.out.flush() ? kExitConverted : kExitReportLost;
    case CommandLine::Action::kVersion:
      PrintVersion(terminal.out);
      return terminal.out.flush() ? kExitConverted : kExitReportLost;
    case CommandLine::Action::kUsageError:
      PrintUsageError(terminal.err, line.problem);
      terminal.err.flush();
      return kExitUsage;
    case CommandLine::Action::kRun:
      break;
  }

  RemoveTemporaryFileOnSignals();
  const std::unique_ptr<FileSystem> fs = NewPlatformFileSystem();
  const std::string source = SourceTextFor(line.path, KindOf(line.path), fs->Separator());
  if (line.mode != CommandLine::Mode::kConvert) {
    return CheckFolder(*fs, source, line.mode, line.verbose, terminal.out, terminal.err);
  }
  ConsoleOptions options;
  options.err_is_terminal = terminal.err_is_terminal;
  options.erases_line = terminal.erases_line;
  options.verbose = line.verbose;
  if (!source.empty() && (options.err_is_terminal || options.verbose)) {
    options.total = CountCards(*fs, CardFolderFor(source, fs->Separator()));
  }
  ConsoleWindow window(source, terminal.out, terminal.err, options);
  const BatchReport report = btnStart_Click(window, *fs);
  return ExitStatusFor(report, window.report_written());
}

}  // namespace pellamar::cli
