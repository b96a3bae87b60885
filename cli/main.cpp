// pellamar-cli: the "Convert" run of the window, for scripts and remote
// shells. See PrintHelp for its use.
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <memory>

#include "cli/command_line.h"
#include "cli/console_window.h"
#include "cli/folder_check.h"
#include "core/batch_run.h"
#include "core/file_system.h"

using pellamar::cli::CommandLine;

int main(int argc, char** argv) {
  const CommandLine line = pellamar::cli::ParseCommandLine(argc - 1, argv + 1);
  switch (line.action) {
    case CommandLine::Action::kHelp:
      pellamar::cli::PrintHelp(std::cout);
      return pellamar::cli::kExitConverted;
    case CommandLine::Action::kVersion:
      pellamar::cli::PrintVersion(std::cout);
      return pellamar::cli::kExitConverted;
    case CommandLine::Action::kUsageError:
      pellamar::cli::PrintUsageError(std::cerr, line.problem);
      return pellamar::cli::kExitUsage;
    case CommandLine::Action::kRun:
      break;
  }

  // A closed pipe makes writes fail instead of ending the run part-way.
  signal(SIGPIPE, SIG_IGN);
  pellamar::RemoveTemporaryFileOnSignals();
  const std::unique_ptr<pellamar::FileSystem> fs = pellamar::NewPlatformFileSystem();
  const std::string source =
      pellamar::cli::SourceTextFor(line.path, pellamar::cli::KindOf(line.path));
  if (line.mode != CommandLine::Mode::kConvert) {
    return pellamar::cli::CheckFolder(*fs, source, line.mode, line.verbose, std::cout, std::cerr);
  }
  pellamar::cli::ConsoleOptions options;
  options.err_is_terminal = isatty(STDERR_FILENO) == 1;
  options.verbose = line.verbose;
  if (!source.empty() && (options.err_is_terminal || options.verbose)) {
    options.total =
        pellamar::cli::CountCards(*fs, pellamar::CardFolderFor(source, fs->Separator()));
  }
  pellamar::cli::ConsoleWindow window(source, std::cout, std::cerr, options);
  const pellamar::BatchReport report = pellamar::btnStart_Click(window, *fs);
  return pellamar::cli::ExitStatusFor(report, window.report_written());
}
