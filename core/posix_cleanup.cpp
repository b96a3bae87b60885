#include "core/posix_cleanup.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "core/file_system.h"

namespace pellamar {
namespace posix {
namespace {

struct SignalCleanup {
  std::atomic<int> folder{-1};
  std::array<char, 96> name{};
};
SignalCleanup g_cleanup;

void OnEndingSignal(int signal_number) {
  const int folder = g_cleanup.folder.load();
  if (folder >= 0) unlinkat(folder, g_cleanup.name.data(), 0);
  // The handler was reset on entry: the signal, blocked until this returns,
  // then ends the program as it would have without it.
  raise(signal_number);
}

}  // namespace

void ArmSignalCleanup(int folder_fd, const std::string& name) {
  g_cleanup.folder.store(-1);
  const std::size_t n = std::min(name.size(), g_cleanup.name.size() - 1);
  std::memcpy(g_cleanup.name.data(), name.data(), n);
  g_cleanup.name[n] = '\0';
  g_cleanup.folder.store(folder_fd);
}

void DisarmSignalCleanup() { g_cleanup.folder.store(-1); }

}  // namespace posix

// Every signal that ends the program unless it is caught, but those that a
// fault of the program itself raises (a bad address, an illegal
// instruction), which the tools that find such faults catch.
void RemoveTemporaryFileOnSignals() {
  std::vector<int> ending = {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,   SIGALRM,
                             SIGPOLL, SIGVTALRM, SIGPROF, SIGXCPU, SIGPWR,  SIGSTKFLT, SIGABRT};
  for (int real_time = SIGRTMIN; real_time <= SIGRTMAX; ++real_time) ending.push_back(real_time);
  for (const int signal_number : ending) {
    struct sigaction old {};
    if (sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler != SIG_DFL) continue;
    struct sigaction action {};
    action.sa_handler = posix::OnEndingSignal;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(signal_number, &action, nullptr);
  }
  // A file-size limit (ulimit -f) then fails the write that meets it, as a
  // full disk does, instead of ending the program.
  struct sigaction limit {};
  if (sigaction(SIGXFSZ, nullptr, &limit) == 0 && limit.sa_handler == SIG_DFL) {
    signal(SIGXFSZ, SIG_IGN);
  }
}

}  // namespace pellamar
