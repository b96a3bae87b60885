#include "ui/qt/frm_pellamar.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDropEvent>
#include <QFile>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QScopedValueRollback>
#include <QUrl>
#include <filesystem>
#include <limits>
#include <optional>

#include "ui/common/form_layout.h"
#include "ui/common/message_text.h"
#include "ui/qt/controls.h"
#include "ui/qt/file_dialog.h"

namespace pellamar::ui {
namespace {

// How long a run keeps the thread before the window answers the window
// system again.
constexpr int kAnswerIntervalMs = 200;

// A small dialog font: every caption fits its control with it.
constexpr char kStandardFontFamily[] = "Liberation Sans";
constexpr int kStandardFontPixels = 11;

// A fixed dialog frame with a close box only. (Qt::Tool would look closer
// to a tool window, but Qt does not end the program when the last window
// closed is a tool window.)
constexpr Qt::WindowFlags kFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont StandardFont() {
  QFont font(kStandardFontFamily);
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kStandardFontPixels);
  return font;
}

QFont CreditFont() {
  QFont font(kCreditFontFace);
  font.setPointSizeF(kCreditFontPoints);
  font.setWeight(static_cast<QFont::Weight>(kCreditFontWeight));
  font.setUnderline(true);
  font.setItalic(false);
  font.setStrikeOut(false);
  return font;
}

QColor CreditColour() {
  return QColor((kCreditColourRgb >> 16) & 0xFF, (kCreditColourRgb >> 8) & 0xFF,
                kCreditColourRgb & 0xFF);
}

// Names the control after its row of the control table and puts it where
// the row says.
template <typename Control>
Control* Place(Control* control, const ControlSpec& row) {
  control->setObjectName(ToQString(row.name));
  control->setGeometry(TwipsToPixels(row.left), TwipsToPixels(row.top), TwipsToPixels(row.width),
                       TwipsToPixels(row.height));
  return control;
}

// A borderless label whose caption starts top left and wraps at word
// boundaries; what does not fit the label is cut off.
template <typename Label = QLabel>
Label* MakeLabel(const ControlSpec& row, QWidget* parent) {
  auto* label = Place(new Label(ToQString(row.caption), parent), row);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setWordWrap(true);
  return label;
}

// Swallows every key, click and other input event, and every request to
// close a window, delivered while it is installed.
class InputSwallow : public QObject {
 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    return dynamic_cast<QInputEvent*>(event) != nullptr || event->type() == QEvent::Close;
  }
};

// Handles what `flags` lets through of what is queued, with any input in it
// dropped.
void HandleQueuedWithoutInput(QEventLoop::ProcessEventsFlags flags) {
  InputSwallow swallow;
  QCoreApplication::instance()->installEventFilter(&swallow);
  QCoreApplication::processEvents(flags);
  QCoreApplication::instance()->removeEventFilter(&swallow);
}

// Keys and clicks that arrived while a run kept the thread were meant for
// the window; none of them may answer the message box about to appear, so
// whatever is queued is handled now with its input dropped.
void DropQueuedInput() { HandleQueuedWithoutInput(QEventLoop::AllEvents); }

// What the window system asks of a window that keeps the thread: the window
// manager's ping, which Qt's X11 platform answers as it reads it (else the
// desktop offers to kill a window it takes for hung), and exposures. Input
// and timers stay queued.
void AnswerWindowSystem() {
  HandleQueuedWithoutInput(QEventLoop::ExcludeUserInputEvents | QEventLoop::X11ExcludeTimers);
}

// What a drop of `data` puts into the source field: the first item, when it
// is a local file or folder, a folder with its separator at the end.
std::optional<std::string> DroppedSource(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls() || data->urls().isEmpty()) return std::nullopt;
  std::optional<std::string> path = LocalPathOf(data->urls().first());
  if (!path) return std::nullopt;
  std::error_code error;
  if (std::filesystem::is_directory(*path, error) && !path->ends_with('/')) *path += '/';
  return path;
}

QMessageBox::Icon IconFor(int style) {
  if (style == kStyleWarning) return QMessageBox::Warning;
  if (style == kStyleInformation) return QMessageBox::Information;
  return QMessageBox::NoIcon;
}

}  // namespace

frmPellamar::frmPellamar(DesktopCalls& desktop, FileSystem& fs, QWidget* parent)
    : QDialog(parent, kFrame), desktop_(desktop), fs_(fs) {
  SetUpWindow();
  CreateControls();
  SetUpKeyboard();
  ConnectHandlers();
}

frmPellamar::~frmPellamar() = default;

void frmPellamar::SetUpWindow() {
  setAcceptDrops(true);
  setWindowTitle(kWindowCaption);
  setWindowIcon(QIcon(":/pellamar.ico"));
  setFixedSize(TwipsToPixels(kClientWidthTwips), TwipsToPixels(kClientHeightTwips));
  setFont(StandardFont());
}

void frmPellamar::CreateControls() {
  InstallAccessibleControls();
  txtSource = Place(new QLineEdit(this), kTxtSource);
  txtSource->setAcceptDrops(false);                          // a drop on the field is the window's
  txtSource->setMaxLength(std::numeric_limits<int>::max());  // no limit of its own
  btnSource = Place(new QPushButton(ToQString(kBtnSource.caption), this), kBtnSource);
  btnSource->setAccessibleName(kPickCardTitle);  // named after the dialog it opens
  btnStart = Place(new PictureButton(QPixmap(":/convert.gif"), ToQString(kBtnStart.caption), this),
                   kBtnStart);
  Label1 = MakeLabel(kLabel1, this);
  Label1->setBuddy(txtSource);  // names the field for screen readers
  Label3 = MakeLabel<ProgressLabel>(kLabel3, this);
  Label2 = MakeLabel<ClickableLabel>(kLabel2, this);
  Label2->setFont(CreditFont());
  QPalette credit_palette = Label2->palette();
  credit_palette.setColor(QPalette::WindowText, CreditColour());
  Label2->setPalette(credit_palette);
  Label2->setToolTip(ToQString(HomePage()));
  Image1 = Place(new DecorativePicture(this), kImage1);
  Image1->setPixmap(QPixmap(":/image1.gif"));
}

void frmPellamar::SetUpKeyboard() {
  // Tab visits the controls in the order of the control table's tab
  // indexes: "Convert", "...", the source field; labels take no focus.
  const auto order = InTabOrder();
  for (std::size_t i = 1; i < order.size(); ++i) {
    setTabOrder(findChild<QWidget*>(ToQString(order[i - 1]->name)),
                findChild<QWidget*>(ToQString(order[i]->name)));
  }
  // Enter presses the push button that has the focus, and "Convert" from
  // anywhere else: QDialog moves the default-button frame to where Enter
  // will act, and back to "Convert" when the focus leaves the buttons.
  for (QPushButton* button : {btnSource, static_cast<QPushButton*>(btnStart)}) {
    button->setAutoDefault(true);
  }
  btnStart->setDefault(true);
  btnStart->setFocus();
}

// A card or folder dragged from the file manager goes into the source field
// as if picked with "..."; nothing converts until "Convert" is pressed.
// Anything else is refused, and so is every drop while a handler runs.
void frmPellamar::dragEnterEvent(QDragEnterEvent* event) {
  if (!handler_running_ && DroppedSource(event->mimeData())) event->acceptProposedAction();
}

void frmPellamar::dropEvent(QDropEvent* event) {
  const std::optional<std::string> path = DroppedSource(event->mimeData());
  if (handler_running_ || !path) return;
  ShowSourcePath(*path);
  event->acceptProposedAction();
}

void frmPellamar::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    QWidget::keyPressEvent(event);
    return;
  }
  QDialog::keyPressEvent(event);
}

void frmPellamar::ConnectHandlers() {
  connect(btnSource, &QPushButton::clicked, this,
          [this] { RunHandler(&frmPellamar::btnSource_Click); });
  connect(btnStart, &QPushButton::clicked, this,
          [this] { RunHandler(&frmPellamar::btnStart_Click); });
  connect(Label2, &ClickableLabel::clicked, this,
          [this] { RunHandler(&frmPellamar::Label2_Click); });
}

// A handler keeps the thread until it ends, but the modal loops of its
// dialog and message box still deliver clicks queued for the window. Such
// a click is dropped, so that no handler, above all no second run, ever
// starts inside another.
void frmPellamar::RunHandler(void (frmPellamar::*handler)()) {
  if (handler_running_) return;
  const QScopedValueRollback<bool> running(handler_running_, true);
  answer_by_.setRemainingTime(kAnswerIntervalMs);
  (this->*handler)();
}

std::string frmPellamar::SaveDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                                    const std::string& InitDir,
                                    const std::string& DefaultFilename) {
  return ui::SaveDialog(desktop_, Form1, Filter, Title, InitDir, DefaultFilename);
}

std::string frmPellamar::OpenDialog(QWidget& Form1, std::string& Filter, const std::string& Title,
                                    const std::string& InitDir) {
  return ui::OpenDialog(desktop_, Form1, Filter, Title, InitDir);
}

void frmPellamar::btnSource_Click() {
  std::string filter = kSourceFilter;
  const std::string title = kPickCardTitle;
  const std::string init_dir = kPickCardInitialDir;
  ShowSourcePath(OpenDialog(*this, filter, title, init_dir));
}

// The field shows the path decoded; a name that is not UTF-8 shows with
// U+FFFD in it. Until the user edits the field, the run gets the path's own
// bytes, so such a folder is converted all the same.
void frmPellamar::ShowSourcePath(const std::string& path) {
  txtSource->setText(QFile::decodeName(QByteArray::fromStdString(path)));
  source_path_ = path;
  shown_source_ = txtSource->text();
}

void frmPellamar::btnStart_Click() { pellamar::btnStart_Click(*this, fs_); }

bool frmPellamar::FileHasData(const std::string& path) { return pellamar::FileHasData(fs_, path); }

void frmPellamar::Label2_Click() { desktop_.OpenUrl(QUrl(ToQString(HomePage()))); }

std::string frmPellamar::SourceText() {
  const QString text = txtSource->text();
  if (text == shown_source_) return source_path_;
  return QFile::encodeName(text).toStdString();
}

void frmPellamar::SetLabel3Caption(const std::string& caption) {
  Label3->setText(QString::fromStdString(caption));
}

// Paints at once what changed since the last paint: the progress line, and
// whatever else of the window waits for a paint. Only paint events are
// delivered, never input, so the run keeps the thread. Every so often the
// window system's own requests are answered too, so that a long run does
// not look hung.
void frmPellamar::RepaintNow() {
  Label3->repaint();
  if (!answer_by_.hasExpired()) return;
  AnswerWindowSystem();
  answer_by_.setRemainingTime(kAnswerIntervalMs);
}

std::string frmPellamar::Caption() { return windowTitle().toStdString(); }

void frmPellamar::ShowMessageBox(const std::string& text, int style, const std::string& title) {
  DropQueuedInput();
  desktop_.ShowMessage(*this, QString::fromStdString(FitMessageText(text)), IconFor(style),
                       QString::fromStdString(title));
}

}  // namespace pellamar::ui
