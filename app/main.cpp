// The program's entry: shows the one window and serves its events until the
// window is closed, which ends the program.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/file_system.h"
#include "ui/qt/frm_pellamar.h"

namespace {

// Whether Qt can be expected to find a display: a desktop session (X11's
// DISPLAY or WAYLAND_DISPLAY), or a platform chosen by QT_QPA_PLATFORM or
// -platform (offscreen, for one), which is then Qt's to judge.
bool DisplayOrPlatformGiven(int argc, char* argv[]) {
  for (const char* variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return true;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-platform" || arg == "--platform") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (!DisplayOrPlatformGiven(argc, argv)) {
    // Qt's own words here would blame its plugins and suggest reinstalling.
    std::fputs(
        "pellamar: the window needs a desktop session, and none was found "
        "(neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
        "Start it from a desktop, or convert from this terminal with pellamar-cli:\n"
        "  pellamar-cli FOLDER   (pellamar-cli --help says more)\n",
        stderr);
    return 1;
  }
  pellamar::RemoveTemporaryFileOnSignals();
  QApplication app(argc, argv);
  const auto fs = pellamar::NewPlatformFileSystem();
  pellamar::ui::frmPellamar window(pellamar::ui::SystemDesktopCalls(), *fs);
  window.show();
  return app.exec();
}
