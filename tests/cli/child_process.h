// Runs the real pellamar-cli executable in a child process, with its output
// captured through pipes or a pseudo-terminal.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pellamar::testing {

// The executable under test, as the test's command line named it.
void SetCliPath(std::string path);
const std::string& CliPath();

// How a child ended and what it wrote.
struct Outcome {
  int wait_status = 0;
  std::string out;
  std::string err;

  // The exit status, or -1 when the child did not exit normally.
  int exit_code() const;
};

struct ChildOptions {
  // Runs the child in this folder; empty keeps the test's own.
  std::string working_folder;
  // Standard error on a pseudo-terminal instead of a pipe.
  bool err_on_terminal = false;
  // Called with the child's pid after it was created but before it runs
  // the executable.
  std::function<void(pid_t)> before_start;
  // The largest file the child may write, in bytes (ulimit -f); 0: no limit.
  unsigned long file_size_limit = 0;
};

// Runs pellamar-cli with `args` to its end; standard input is /dev/null.
Outcome RunCli(const std::vector<std::string>& args, const ChildOptions& options = {});

// A pellamar-cli child whose output goes nowhere, for tests that stop it.
class SilentChild {
 public:
  explicit SilentChild(const std::vector<std::string>& args);
  ~SilentChild();
  SilentChild(const SilentChild&) = delete;
  SilentChild& operator=(const SilentChild&) = delete;

  pid_t pid() const { return pid_; }
  // Sends `signal` and waits; returns the wait status.
  int KillAndWait(int signal);
  // Waits for the end; returns the wait status.
  int Wait();

 private:
  pid_t pid_ = -1;
};

}  // namespace pellamar::testing
