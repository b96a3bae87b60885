// The program's one window: a source field with its "..." button, the
// "Convert" button, three labels and a picture. "Convert" hands the batch
// run to the core, which works the window through WindowOperations;
// dialogs, message boxes and the browser are reached through DesktopCalls.
#pragma once

#include <QDeadlineTimer>
#include <QDialog>
#include <string>

#include "core/batch_run.h"
#include "core/file_system.h"
#include "ui/qt/desktop_calls.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace pellamar::ui {

class ClickableLabel;
class PictureButton;

class frmPellamar : public QDialog, public WindowOperations {
  Q_OBJECT

 public:
  // Creates the window with its controls in their initial state: the source
  // field empty, the description in Label3, the focus on "Convert".
  frmPellamar(DesktopCalls& desktop, FileSystem& fs, QWidget* parent = nullptr);
  ~frmPellamar() override;

  // See OpenDialog and SaveDialog in ui/qt/file_dialog.h; they are shown
  // through the window's DesktopCalls.
  std::string SaveDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                         const std::string& InitDir, const std::string& DefaultFilename);
  std::string OpenDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                         const std::string& InitDir);
  // "...": puts the card the user picks into the source field, or empties
  // the field when the user cancels.
  void btnSource_Click() override;
  // "Convert": converts the cards of the folder the source field names.
  void btnStart_Click();

 private:
  // True when the file at `path` has a length that can be read and is not 0.
  bool FileHasData(const std::string& path);

 public:
  // The credit label: asks the desktop to open the home page.
  void Label2_Click();

  // What the batch run asks of the window.
  std::string SourceText() override;
  void SetLabel3Caption(const std::string& caption) override;
  void RepaintNow() override;
  std::string Caption() override;
  void ShowMessageBox(const std::string& text, int style, const std::string& title) override;

 protected:
  // The keys of a dialog window, but for Esc, which does not close this one.
  void keyPressEvent(QKeyEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void SetUpWindow();
  void CreateControls();
  void SetUpKeyboard();
  void ConnectHandlers();
  // Puts `path`, a path as the file system spells it, into the source field.
  void ShowSourcePath(const std::string& path);
  // Runs one click handler to its end; see the definition.
  void RunHandler(void (frmPellamar::*handler)());

  QLineEdit* txtSource = nullptr;
  QPushButton* btnSource = nullptr;
  PictureButton* btnStart = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  ClickableLabel* Label2 = nullptr;
  QLabel* Image1 = nullptr;

  DesktopCalls& desktop_;
  FileSystem& fs_;
  // The path last put into the field by "..." or a drop, as the file system
  // spells it, and the field's text that shows it.
  std::string source_path_;
  QString shown_source_;
  bool handler_running_ = false;
  // When a handler that keeps the thread answers the window system next.
  QDeadlineTimer answer_by_;
};

}  // namespace pellamar::ui
