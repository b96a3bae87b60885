// Opening a web address with the desktop's default handler.
#pragma once

#include <QList>
#include <QUrl>

namespace pellamar::ui {

// Asks the desktop to open `url`; whether it does is not reported.
void OpenUrl(const QUrl& url);

// Test seam: records the addresses instead of starting a browser.
class UrlLaunchSeam {
 public:
  static void RecordInsteadOfOpening(bool on);
  // The addresses recorded since the last Reset, oldest first.
  static const QList<QUrl>& Requested();
  // Opens addresses for real again and forgets the recorded ones.
  static void Reset();
};

}  // namespace pellamar::ui
