// The whole of pellamar-cli but its entry point: the same on every platform,
// given the arguments as UTF-8 and the streams of the terminal.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

namespace pellamar::cli {

// Where the program's output goes, and what standard error can show.
struct Terminal {
  std::ostream& out;
  std::ostream& err;
  // Standard error is a terminal (a console on Windows).
  bool err_is_terminal = false;
  // The terminal understands the escape that clears to the end of a line.
  bool erases_line = true;
};

// The standard streams of this process, made ready for the run: on POSIX a
// closed pipe makes writes fail instead of ending the program; on Windows
// text reaches a console as Unicode and anything else as UTF-8.
Terminal OpenTerminal();

// Runs the program with the arguments after its name; returns its exit
// status.
int Run(std::span<const std::string> args, const Terminal& terminal);

}  // namespace pellamar::cli
