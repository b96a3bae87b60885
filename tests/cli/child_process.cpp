#include "tests/cli/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace pellamar::testing {
namespace {

std::string& CliPathStorage() {
  static std::string path;
  return path;
}

// A descriptor closed at the end of its scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~Fd() { Reset(); }

  int get() const { return fd_; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {Fd(fds[0]), Fd(fds[1])};
}

// A pseudo-terminal that passes bytes through as the program wrote them
// (no "\n" to "\r\n" translation), so tests see the program's own output.
Pipe MakeTerminal() {
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty failed");
  Pipe terminal{Fd(master), Fd(slave)};
  termios settings{};
  tcgetattr(slave, &settings);
  settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tcsetattr(slave, TCSANOW, &settings);
  fcntl(master, F_SETFD, FD_CLOEXEC);
  fcntl(slave, F_SETFD, FD_CLOEXEC);
  return terminal;
}

struct Redirection {
  int out = -1;  // -1: /dev/null
  int err = -1;
  int hold = -1;         // the child reads this to its end before it starts
  int hold_writer = -1;  // the other end, which the child must not keep open
  const char* folder = nullptr;
  unsigned long file_size_limit = 0;
};

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void BecomeCli(const std::vector<char*>& argv, const Redirection& to) {
  char byte;
  if (to.hold >= 0) {
    close(to.hold_writer);
    while (read(to.hold, &byte, 1) > 0) {
    }
  }
  if (to.folder != nullptr && chdir(to.folder) != 0) _exit(126);
  if (to.file_size_limit > 0) {
    const rlimit limit{to.file_size_limit, to.file_size_limit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
  }
  const int null = open("/dev/null", O_RDWR);
  dup2(null, STDIN_FILENO);
  dup2(to.out >= 0 ? to.out : null, STDOUT_FILENO);
  dup2(to.err >= 0 ? to.err : null, STDERR_FILENO);
  execv(argv[0], argv.data());
  _exit(127);
}

pid_t Spawn(const std::vector<std::string>& args, const Redirection& to) {
  std::vector<std::string> all{CliPath()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) BecomeCli(argv, to);
  return pid;
}

// Reads every descriptor to its end. A terminal's master side reports its
// end as EIO once the child has closed the other side.
void ReadAll(std::vector<std::pair<int, std::string*>> sources) {
  while (!sources.empty()) {
    std::vector<pollfd> polled;
    for (const auto& source : sources) polled.push_back({source.first, POLLIN, 0});
    if (poll(polled.data(), polled.size(), -1) < 0 && errno != EINTR) return;
    for (std::size_t i = polled.size(); i-- > 0;) {
      if (polled[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(polled[i].fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        sources.erase(sources.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
      sources[i].second->append(buffer, static_cast<std::size_t>(n));
    }
  }
}

int WaitStatus(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return status;
}

}  // namespace

void SetCliPath(std::string path) { CliPathStorage() = std::move(path); }
const std::string& CliPath() { return CliPathStorage(); }

int Outcome::exit_code() const { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

Outcome RunCli(const std::vector<std::string>& args, const ChildOptions& options) {
  Pipe out = MakePipe();
  Pipe err = options.err_on_terminal ? MakeTerminal() : MakePipe();
  Pipe hold = MakePipe();
  Redirection to{out.write.get(), err.write.get(), hold.read.get(), hold.write.get(), nullptr};
  if (!options.working_folder.empty()) to.folder = options.working_folder.c_str();
  to.file_size_limit = options.file_size_limit;

  const pid_t pid = Spawn(args, to);
  out.write.Reset();
  err.write.Reset();
  hold.read.Reset();
  if (options.before_start) options.before_start(pid);
  hold.write.Reset();  // lets the child go on

  Outcome outcome;
  ReadAll({{out.read.get(), &outcome.out}, {err.read.get(), &outcome.err}});
  outcome.wait_status = WaitStatus(pid);
  return outcome;
}

SilentChild::SilentChild(const std::vector<std::string>& args) : pid_(Spawn(args, {})) {}

SilentChild::~SilentChild() {
  if (pid_ > 0) KillAndWait(SIGKILL);
}

int SilentChild::KillAndWait(int signal) {
  kill(pid_, signal);
  return Wait();
}

int SilentChild::Wait() {
  const int status = WaitStatus(pid_);
  pid_ = -1;
  return status;
}

}  // namespace pellamar::testing
