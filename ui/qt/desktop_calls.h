// What the window asks of the desktop outside its own controls: the file
// dialogs, the message box and the browser. The window reaches them only
// through this class, so tests answer them instead of a user.
#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

class QWidget;

namespace pellamar::ui {

// What a file dialog is asked to show.
struct FileDialogRequest {
  bool save = false;
  QWidget* owner = nullptr;
  QString title;
  QString folder;
  QStringList name_filters;  // the first one in force
  QString file_name;         // proposed; save dialogs only
};

class DesktopCalls {
 public:
  virtual ~DesktopCalls() = default;

  // Shows the dialog `request` describes, modal to its owner, and returns
  // the file the user confirmed, or an empty address on cancel, once it
  // has closed. (An address keeps a name's bytes that are not UTF-8.)
  virtual QUrl RunFileDialog(const FileDialogRequest& request) = 0;

  // Shows `text` under `title` with `icon` and an OK button, modal to
  // `owner`; returns when the user dismisses it.
  virtual void ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon,
                           const QString& title) = 0;

  // Asks the desktop to open `url`; whether it does is not reported.
  virtual void OpenUrl(const QUrl& url) = 0;
};

// The real calls, with the platform's native file dialog where there is
// one, Qt's own where there is none or when `qt_dialogs` is set.
class QtDesktopCalls : public DesktopCalls {
 public:
  explicit QtDesktopCalls(bool qt_dialogs = false) : qt_dialogs_(qt_dialogs) {}

  QUrl RunFileDialog(const FileDialogRequest& request) override;
  void ShowMessage(QWidget& owner, const QString& text, QMessageBox::Icon icon,
                   const QString& title) override;
  void OpenUrl(const QUrl& url) override;

 private:
  bool qt_dialogs_;
};

// The real calls with native dialogs, for the program.
DesktopCalls& SystemDesktopCalls();

}  // namespace pellamar::ui
