#include "ui/qt/url_launch.h"

#include <QDesktopServices>

namespace pellamar::ui {
namespace {

struct SeamState {
  bool recording = false;
  QList<QUrl> requested;
};

SeamState& Seam() {
  static SeamState state;
  return state;
}

}  // namespace

void OpenUrl(const QUrl& url) {
  if (Seam().recording) {
    Seam().requested.append(url);
    return;
  }
  QDesktopServices::openUrl(url);
}

void UrlLaunchSeam::RecordInsteadOfOpening(bool on) { Seam().recording = on; }

const QList<QUrl>& UrlLaunchSeam::Requested() { return Seam().requested; }

void UrlLaunchSeam::Reset() { Seam() = SeamState(); }

}  // namespace pellamar::ui
