// What pellamar-cli needs of a POSIX system beyond the core's file system.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "cli/command_line.h"
#include "cli/run.h"

namespace pellamar::cli {

Terminal OpenTerminal() {
  // A closed pipe makes writes fail instead of ending the run part-way.
  signal(SIGPIPE, SIG_IGN);
  return {.out = std::cout,
          .err = std::cerr,
          .err_is_terminal = isatty(STDERR_FILENO) == 1,
          .erases_line = true};
}

PathKind KindOf(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::file_status status = std::filesystem::status(path, ignored);
  if (path.empty() || !std::filesystem::exists(status)) return PathKind::kNothing;
  return std::filesystem::is_directory(status) ? PathKind::kFolder : PathKind::kFile;
}

}  // namespace pellamar::cli
