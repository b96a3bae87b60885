// pellamar-cli: the "Convert" run of the window, for scripts and remote
// shells. See PrintHelp for its use.
#include <string>
#include <vector>

#include "cli/run.h"

#ifdef _WIN32
#include "core/wide_text.h"

// The wide command line, so that every name arrives whole, whatever the
// console's code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(pellamar::Narrow(argv[i]));
  return pellamar::cli::Run(args, pellamar::cli::OpenTerminal());
}
#else
int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return pellamar::cli::Run(args, pellamar::cli::OpenTerminal());
}
#endif
