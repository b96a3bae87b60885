// The program's entry: shows the one window and serves its events until the
// window is closed, which ends the program.
#include <QApplication>

#include "core/file_system.h"
#include "ui/qt/frm_pellamar.h"

int main(int argc, char* argv[]) {
  pellamar::RemoveTemporaryFileOnSignals();
  QApplication app(argc, argv);
  const auto fs = pellamar::NewPlatformFileSystem();
  pellamar::ui::frmPellamar window(pellamar::ui::SystemDesktopCalls(), *fs);
  window.show();
  return app.exec();
}
