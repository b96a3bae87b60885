#include "core/win32_cleanup.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>

#include "core/file_system.h"

namespace pellamar {
namespace windows {
namespace {

// The temporary file that a console's Ctrl-C, Ctrl-Break or close must
// remove: the one of the replace under way. The console's handler runs on a
// thread of its own; whoever moves the state out of kArmed owns the path.
struct ConsoleCleanup {
  enum State { kIdle, kArmed, kRemoving };
  std::atomic<int> state{kIdle};
  std::array<wchar_t, 32768> path{};  // the longest path Windows has
};
ConsoleCleanup g_cleanup;

BOOL WINAPI OnConsoleEnd(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  int armed = ConsoleCleanup::kArmed;
  if (g_cleanup.state.compare_exchange_strong(armed, ConsoleCleanup::kRemoving)) {
    // The file is open to be written: it goes when the program's handles close.
    DeleteFileW(g_cleanup.path.data());
  }
  return FALSE;  // the next handler, in the end the system's, ends the program
}

}  // namespace

bool DisarmCleanup() {
  int state = g_cleanup.state.load();
  while (state != ConsoleCleanup::kRemoving &&
         !g_cleanup.state.compare_exchange_weak(state, ConsoleCleanup::kIdle)) {
  }
  return state != ConsoleCleanup::kRemoving;
}

void ArmCleanup(const std::wstring& path) {
  if (!DisarmCleanup() || path.size() >= g_cleanup.path.size()) return;
  std::copy(path.begin(), path.end(), g_cleanup.path.begin());
  g_cleanup.path[path.size()] = L'\0';
  g_cleanup.state.store(ConsoleCleanup::kArmed);
}

}  // namespace windows

// Ctrl-C, Ctrl-Break and closing the console remove the temporary file of
// the replace under way. Ctrl-C that the process was started to ignore stays
// ignored: the system then calls no handler for it.
void RemoveTemporaryFileOnSignals() { SetConsoleCtrlHandler(windows::OnConsoleEnd, TRUE); }

}  // namespace pellamar
