// The window as a user meets it: its controls and keyboard, and the flows
// of "...", "Convert" and the credit label, with dialogs, message boxes and
// the browser replaced by the test seams.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <filesystem>
#include <memory>

#include "core/batch_run.h"
#include "core/file_system.h"
#include "tests/ui/fake_desktop_calls.h"
#include "tests/ui/modal_steps.h"
#include "ui/common/form_layout.h"
#include "ui/qt/controls.h"
#include "ui/qt/file_dialog.h"
#include "ui/qt/frm_pellamar.h"

using pellamar::testing::FakeDesktopCalls;
using pellamar::testing::ModalRescue;
using pellamar::testing::SeenMessage;
using pellamar::ui::PictureButton;

namespace {

const QString kCaption = "Pellamar [Batch Conversion]";
const QString kDescription = pellamar::kDescriptionText;
const QStringList kCards = {"MemoryCard2-1.mcd", "blank.mcd", "m1.mcd"};  // by QDir::Name
constexpr qint64 kConvertedSize = 131072 + 64;

// Records Label3's caption each time the label is painted.
class PaintLog : public QObject {
 public:
  explicit PaintLog(QLabel* label, std::function<void()> on_paint = {})
      : label_(label), on_paint_(std::move(on_paint)) {
    label_->installEventFilter(this);
  }
  QStringList captions;

 protected:
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() != QEvent::Paint) return false;
    captions.append(label_->text());
    if (on_paint_) on_paint_();
    return false;
  }

 private:
  QLabel* label_;
  std::function<void()> on_paint_;
};

// Answers every real message box that comes up with OK, after keeping
// what it showed and running `while_up`. It acts from a timer of its own, so
// that a box opened by `while_up` is answered as well.
class MessageBoxWatch : public QObject {
 public:
  explicit MessageBoxWatch(std::function<void()> while_up) : while_up_(std::move(while_up)) {
    connect(&timer_, &QTimer::timeout, this, &MessageBoxWatch::Poll);
    timer_.start(10);
  }
  QList<SeenMessage> seen;
  QList<Qt::WindowModality> modality;
  QList<QWidget*> owners;
  QList<bool> within_screen;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || answering_.contains(box)) return;
    answering_.append(box);
    seen.append({box->parentWidget(), box->text(), box->icon(), box->windowTitle()});
    modality.append(box->windowModality());
    owners.append(box->parentWidget());
    within_screen.append(box->screen()->availableGeometry().contains(box->frameGeometry()));
    QTimer::singleShot(0, box, [this, box] {
      while_up_();
      box->button(QMessageBox::Ok)->click();
    });
  }

  QTimer timer_;
  std::function<void()> while_up_;
  QList<QPointer<QMessageBox>> answering_;
};

// Hands each key it is sent to the window that takes the keyboard when the
// key is delivered (a modal one first), as the window system does with a
// key typed ahead.
class TypedAhead : public QObject {
 protected:
  bool event(QEvent* event) override {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
      return QObject::event(event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    QKeyEvent copy(key->type(), key->key(), key->modifiers());
    QWidget* target = QApplication::activeModalWidget();
    if (target == nullptr) target = QApplication::focusWidget();
    if (target != nullptr) QApplication::sendEvent(target, &copy);
    return true;
  }
};

// How a test presses "Convert".
enum class PressBy { kClick, kSpace, kEnter };

}  // namespace

class TestFrmPellamar : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void opensReadyWithTheFocusOnConvert();
  void controlsSitWhereTheLayoutSays_data();
  void controlsSitWhereTheLayoutSays();
  void tabCyclesConvertPickAndField();
  void screenReadersMeetAWindowALinkAndNamedControls();
  void everyCaptionFitsItsControl();
  void creditLabelIsASmallBlueLink();
  void pickingACardFillsTheSourceField_data();
  void pickingACardFillsTheSourceField();
  void convertWithAnEmptyFieldOnlyOpensThePicker_data();
  void convertWithAnEmptyFieldOnlyOpensThePicker();
  void convertPaintsEachCountThenReportsTheTotal();
  void theProgressLineLooksAsAPlainLabelShowsIt();
  void enterInTheSourceFieldConverts();
  void enterPressesTheFocusedButtonElseConvert_data();
  void enterPressesTheFocusedButtonElseConvert();
  void aCardNotConvertedTurnsTheMessageIntoAWarning();
  void clicksDuringARunStartNoSecondRun();
  void keysTypedDuringARunDoNotAnswerItsMessageBox();
  void aLongRunAnswersTheWindowSystemButTakesNoInput();
  void theMessageBoxStaysWithinTheScreen_data();
  void theMessageBoxStaysWithinTheScreen();
  void creditLabelAsksForTheHomePageAndChangesNothing();
  void dropPutsTheFirstLocalItemIntoTheField_data();
  void dropPutsTheFirstLocalItemIntoTheField();
  void aFolderNamedInLatin1IsConverted_data();
  void aFolderNamedInLatin1IsConverted();
  void closingTheWindowEndsTheProgram();

 private:
  // Copies the real cards into a fresh folder and returns its path.
  QString FolderOfCards();
  void PressConvert(PressBy how);

  QTemporaryDir home_;
  std::unique_ptr<QTemporaryDir> folder_;
  std::unique_ptr<pellamar::FileSystem> fs_ = pellamar::NewPlatformFileSystem();
  std::unique_ptr<FakeDesktopCalls> desktop_;
  std::unique_ptr<pellamar::ui::frmPellamar> window_;
  std::unique_ptr<ModalRescue> rescue_;
  QLineEdit* txtSource = nullptr;
  QPushButton* btnSource = nullptr;
  PictureButton* btnStart = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Image1 = nullptr;
};

void TestFrmPellamar::initTestCase() {
  QVERIFY(home_.isValid());
  qputenv("HOME", QFile::encodeName(home_.path()));
}

template <typename T>
static T* Find(QWidget* window, const char* name) {
  T* control = window->findChild<T*>(name);
  if (control == nullptr) qWarning("control %s is missing or of another kind", name);
  return control;
}

void TestFrmPellamar::init() {
  rescue_ = std::make_unique<ModalRescue>(10);
  folder_ = std::make_unique<QTemporaryDir>(home_.filePath("cards-XXXXXX"));
  desktop_ = std::make_unique<FakeDesktopCalls>();
  window_ = std::make_unique<pellamar::ui::frmPellamar>(*desktop_, *fs_);
  txtSource = Find<QLineEdit>(window_.get(), "txtSource");
  btnSource = Find<QPushButton>(window_.get(), "btnSource");
  btnStart = Find<PictureButton>(window_.get(), "btnStart");
  Label1 = Find<QLabel>(window_.get(), "Label1");
  Label3 = Find<QLabel>(window_.get(), "Label3");
  Label2 = Find<QLabel>(window_.get(), "Label2");
  Image1 = Find<QLabel>(window_.get(), "Image1");
  QVERIFY(txtSource && btnSource && btnStart && Label1 && Label3 && Label2 && Image1);
  window_->show();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

void TestFrmPellamar::cleanup() {
  window_.reset();
  desktop_.reset();
  QVERIFY2(!rescue_->rescued(), "a dialog or message box was left open");
}

QString TestFrmPellamar::FolderOfCards() {
  for (const QString& card : kCards) {
    QFile::copy(QString(PELLAMAR_TEST_DATA_DIR) + "/" + card, folder_->filePath(card));
  }
  return folder_->path();
}

void TestFrmPellamar::PressConvert(PressBy how) {
  if (how == PressBy::kClick) QTest::mouseClick(btnStart, Qt::LeftButton);
  if (how == PressBy::kSpace) QTest::keyClick(btnStart, Qt::Key_Space);
  if (how == PressBy::kEnter) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

void TestFrmPellamar::opensReadyWithTheFocusOnConvert() {
  QVERIFY(txtSource->text().isEmpty());
  QCOMPARE(Label3->text(), kDescription);
  QCOMPARE(QApplication::focusWidget(), btnStart);
  QCOMPARE(window_->windowTitle(), kCaption);
  QCOMPARE(window_->size(), QSize(285, 114));
  QCOMPARE(window_->minimumSize(), window_->maximumSize());
  QCOMPARE(window_->windowType(), Qt::Dialog);
  QVERIFY(window_->windowFlags().testFlag(Qt::WindowCloseButtonHint));
  QVERIFY(!window_->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  QVERIFY(!window_->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  QVERIFY(window_->windowIcon().availableSizes().contains(QSize(32, 32)));
  QCOMPARE(Image1->pixmap().size(), QSize(37, 35));
  QCOMPARE(btnStart->picture().size(), QSize(43, 44));
  QCOMPARE(btnSource->text(), "...");  // no access keys anywhere
  QCOMPARE(btnStart->text(), "Convert");
  QCOMPARE(Label1->text(), "Bleem Memory Cards Directory:");
  QCOMPARE(Label2->text(), "Created By Orrinwald");
  for (QWidget* control : window_->findChildren<QWidget*>()) {
    if (control == txtSource) continue;  // the platform's text cursor, as any field has
    QVERIFY2(!control->testAttribute(Qt::WA_SetCursor), qPrintable(control->objectName()));
  }
  QCOMPARE(txtSource->cursor().shape(), Qt::IBeamCursor);
}

void TestFrmPellamar::controlsSitWhereTheLayoutSays_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QRect>("pixels");
  QTest::newRow("txtSource") << "txtSource" << QRect(46, 22, 204, 20);
  QTest::newRow("btnSource") << "btnSource" << QRect(249, 21, 18, 21);
  QTest::newRow("btnStart") << "btnStart" << QRect(180, 51, 89, 62);
  QTest::newRow("Label1") << "Label1" << QRect(47, 6, 198, 16);
  QTest::newRow("Label3") << "Label3" << QRect(4, 52, 157, 39);
  QTest::newRow("Label2") << "Label2" << QRect(3, 97, 112, 13);
  QTest::newRow("Image1") << "Image1" << QRect(2, 1, 37, 35);
}

void TestFrmPellamar::controlsSitWhereTheLayoutSays() {
  QFETCH(QString, name);
  QFETCH(QRect, pixels);
  QWidget* control = window_->findChild<QWidget*>(name);
  QVERIFY(control);
  QCOMPARE(control->geometry(), pixels);
  const bool takes_focus = name.startsWith("txt") || name.startsWith("btn");
  QCOMPARE(control->focusPolicy() != Qt::NoFocus, takes_focus);
}

void TestFrmPellamar::tabCyclesConvertPickAndField() {
  const QList<QWidget*> order = {btnStart, btnSource, txtSource};
  for (int i = 1; i <= order.size(); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), order[i % order.size()]);
  }
  for (int i = order.size() - 1; i >= 0; --i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), order[i]);
  }
}

void TestFrmPellamar::screenReadersMeetAWindowALinkAndNamedControls() {
  const auto accessible = [](QWidget* widget) {
    QAccessibleInterface* found = QAccessible::queryAccessibleInterface(widget);
    if (found == nullptr) qWarning("%s is not accessible", qPrintable(widget->objectName()));
    return found;
  };
  QAccessibleInterface* window = accessible(window_.get());
  QAccessibleInterface* dots = accessible(btnSource);
  QAccessibleInterface* field = accessible(txtSource);
  QAccessibleInterface* link = accessible(Label2);
  QAccessibleInterface* picture = accessible(Image1);
  QVERIFY(window && dots && field && link && picture);

  QCOMPARE(window->role(), QAccessible::Dialog);
  QCOMPARE(window->text(QAccessible::Name), kCaption);
  QCOMPARE(dots->text(QAccessible::Name), "Select a memory card");
  QCOMPARE(field->text(QAccessible::Name), "Bleem Memory Cards Directory:");
  QCOMPARE(link->role(), QAccessible::Link);
  QCOMPARE(link->text(QAccessible::Name), "Created By Orrinwald");
  QAccessibleActionInterface* actions = link->actionInterface();
  QVERIFY(actions && actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
  actions->doAction(QAccessibleActionInterface::pressAction());
  QCOMPARE(desktop_->launches.size(), 1);
  QVERIFY(picture->state().invisible);
  QVERIFY(picture->text(QAccessible::Name).isEmpty());
}

void TestFrmPellamar::everyCaptionFitsItsControl() {
  const int kWrap = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
  for (QLabel* label : {Label1, Label2, Label3}) {
    const QFontMetrics metrics(label->font());
    const QRect box = label->contentsRect();
    const QRect text = metrics.boundingRect(box, kWrap, label->text());
    QVERIFY2(box.contains(text), qPrintable(label->objectName()));
  }
  QVERIFY(QFontMetrics(Label1->font()).horizontalAdvance(Label1->text()) <= Label1->width());
  QVERIFY(QFontMetrics(Label2->font()).horizontalAdvance(Label2->text()) <= Label2->width());
  const QFontMetrics label3(Label3->font());
  QVERIFY(label3.boundingRect(Label3->rect(), kWrap, kDescription).height() >=
          2 * label3.lineSpacing());
  QVERIFY(label3.horizontalAdvance("12345 Processed.") <= Label3->width());

  QStyleOptionButton option;
  option.initFrom(btnSource);
  const QRect inside_dots =
      btnSource->style()->subElementRect(QStyle::SE_PushButtonContents, &option, btnSource);
  QVERIFY(QFontMetrics(btnSource->font()).horizontalAdvance("...") <= inside_dots.width());

  option.initFrom(btnStart);
  const QRect inside_convert =
      btnStart->style()->subElementRect(QStyle::SE_PushButtonContents, &option, btnStart);
  QVERIFY(inside_convert.contains(btnStart->PictureRect()));
  QVERIFY(inside_convert.contains(btnStart->CaptionRect()));
  QVERIFY(btnStart->PictureRect().bottom() < btnStart->CaptionRect().top());

  const QFontMetrics field(txtSource->font());
  QVERIFY(txtSource->minimumSizeHint().height() <= txtSource->height());
  QVERIFY(field.height() < txtSource->height());
}

void TestFrmPellamar::creditLabelIsASmallBlueLink() {
  const QFont font = Label2->font();
  QCOMPARE(font.family(), "Arial");
  QCOMPARE(font.pointSizeF(), 6.75);
  QCOMPARE(font.weight(), QFont::Normal);
  QVERIFY(font.underline());
  QVERIFY(!font.italic());
  QVERIFY(!font.strikeOut());
  QCOMPARE(Label2->palette().color(QPalette::WindowText), QColor(0, 0, 255));
  QCOMPARE(Label2->toolTip(), QString::fromUtf8(pellamar::ui::HomePage().data()));
  QVERIFY(Label1->font() != font);  // the credit font is the label's own

  const QImage painted = Label2->grab().toImage();  // the underline is pure blue
  int blue = 0;
  for (int y = 0; y < painted.height(); ++y) {
    for (int x = 0; x < painted.width(); ++x) blue += painted.pixel(x, y) == qRgb(0, 0, 255);
  }
  QVERIFY(blue >= 20);
}

void TestFrmPellamar::pickingACardFillsTheSourceField_data() {
  QTest::addColumn<QString>("before");
  QTest::addColumn<QString>("answer");
  QTest::newRow("a card into an empty field") << ""
                                              << "/cards/slot1.mcd";
  QTest::newRow("a card over a path") << "/old/x.mcd"
                                      << "/cards/slot1.mcd";
  QTest::newRow("a name beyond ASCII") << ""
                                       << "/cards/Kärtchen.mcd";
  QTest::newRow("longer than QLineEdit's default limit")
      << ""
      << "/cards/" + QString(40000, 'n') + ".mcd";
  QTest::newRow("cancel on an empty field") << ""
                                            << "";
  QTest::newRow("cancel empties a path") << "/old/x.mcd"
                                         << "";
}

void TestFrmPellamar::pickingACardFillsTheSourceField() {
  QFETCH(QString, before);
  QFETCH(QString, answer);
  txtSource->setText(before);
  desktop_->ConfirmNextDialog(answer);

  QTest::mouseClick(btnSource, Qt::LeftButton);

  QCOMPARE(txtSource->text(), answer);
  QCOMPARE(Label3->text(), kDescription);
  QVERIFY(desktop_->messages.empty());
  QCOMPARE(desktop_->requests.size(), 1u);
  const pellamar::ui::FileDialogRequest request = desktop_->requests[0];
  QVERIFY(!request.save);
  QCOMPARE(request.owner, window_.get());
  QCOMPARE(request.title, "Select a memory card");
  QCOMPARE(request.folder, QDir::homePath());
  QCOMPARE(request.name_filters, pellamar::ui::QtNameFilters(pellamar::ui::kSourceFilter));
}

void TestFrmPellamar::convertWithAnEmptyFieldOnlyOpensThePicker_data() {
  QTest::addColumn<PressBy>("how");
  QTest::newRow("click") << PressBy::kClick;
  QTest::newRow("Space") << PressBy::kSpace;
  QTest::newRow("Enter") << PressBy::kEnter;
}

void TestFrmPellamar::convertWithAnEmptyFieldOnlyOpensThePicker() {
  QFETCH(PressBy, how);
  const QString folder = FolderOfCards();
  desktop_->CancelNextDialog();
  PaintLog painted(Label3);

  PressConvert(how);

  QCOMPARE(desktop_->requests.size(), 1u);
  QCOMPARE(desktop_->requests[0].title, "Select a memory card");
  QVERIFY(txtSource->text().isEmpty());
  QCOMPARE(Label3->text(), kDescription);
  QVERIFY(painted.captions.isEmpty());
  QVERIFY(desktop_->messages.empty());
  QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), kCards);
}

void TestFrmPellamar::convertPaintsEachCountThenReportsTheTotal() {
  const QString folder = FolderOfCards();
  txtSource->setText(folder + "/m1.mcd");
  PaintLog painted(Label3);
  QString label_while_up;
  desktop_->AnswerNextMessage([&] { label_while_up = Label3->text(); });

  QTest::mouseClick(btnStart, Qt::LeftButton);

  QCOMPARE(painted.captions, QStringList({"1 Processed.", "2 Processed.", "3 Processed."}));
  QCOMPARE(label_while_up, "3 Processed.");
  QCOMPARE(desktop_->messages.size(), 1u);
  const SeenMessage message = desktop_->messages[0];
  QCOMPARE(message.owner, window_.get());
  QCOMPARE(message.text, "3 Files Processed");
  QCOMPARE(message.icon, QMessageBox::Information);
  QCOMPARE(message.title, kCaption);
  QCOMPARE(Label3->text(), kDescription);
  for (const QString& card : kCards) {
    const QString target = folder + "/" + QFileInfo(card).completeBaseName() + ".mem";
    QCOMPARE(QFileInfo(target).size(), kConvertedSize);
  }
}

// Label3 draws a count from pieces it shaped before; what shows must be what
// a plain label shows, whatever it drew before, and a caption too long for
// one line must wrap as in a plain label.
void TestFrmPellamar::theProgressLineLooksAsAPlainLabelShowsIt() {
  QLabel plain(window_.get());
  plain.setGeometry(Label3->geometry());
  plain.setFont(Label3->font());
  plain.setTextFormat(Qt::PlainText);
  plain.setAlignment(Label3->alignment());
  plain.setWordWrap(true);
  const auto looks = [](QLabel* label, const QString& caption) {
    label->setText(caption);
    return label->grab().toImage().convertToFormat(QImage::Format_RGB32);
  };
  for (const QString& caption :
       {QString("1 Processed."), QString("21 Processed."), QString("12 Processed."),
        QString("1234567890 Processed."), kDescription, QString("12 Processed.")}) {
    QCOMPARE(looks(Label3, caption), looks(&plain, caption));
  }
}

void TestFrmPellamar::enterInTheSourceFieldConverts() {
  const QString folder = FolderOfCards();
  desktop_->AnswerNextMessage();
  txtSource->setFocus();
  QTest::keyClicks(txtSource, folder + "/");

  QTest::keyClick(txtSource, Qt::Key_Return);

  QCOMPARE(desktop_->messages.size(), 1u);
  QCOMPARE(desktop_->messages[0].text, "3 Files Processed");
  QVERIFY(QFile::exists(folder + "/m1.mem"));
  QCOMPARE(txtSource->text(), folder + "/");
}

// Where the focus is when Enter is pressed, and how it got there.
enum class FocusOn { kConvert, kDotsByTab, kDotsByClick, kFieldByTab };

void TestFrmPellamar::enterPressesTheFocusedButtonElseConvert_data() {
  QTest::addColumn<FocusOn>("focus");
  QTest::addColumn<bool>("converts");
  QTest::newRow("Convert") << FocusOn::kConvert << true;
  QTest::newRow("... reached by Tab") << FocusOn::kDotsByTab << false;
  QTest::newRow("... clicked and cancelled") << FocusOn::kDotsByClick << false;
  QTest::newRow("the field, through ...") << FocusOn::kFieldByTab << true;
}

void TestFrmPellamar::enterPressesTheFocusedButtonElseConvert() {
  QFETCH(FocusOn, focus);
  QFETCH(bool, converts);
  const QString folder = FolderOfCards() + "/";
  if (focus == FocusOn::kDotsByClick) {
    desktop_->CancelNextDialog();
    QTest::mouseClick(btnSource, Qt::LeftButton);
  }
  const int tabs = focus == FocusOn::kDotsByTab ? 1 : focus == FocusOn::kFieldByTab ? 2 : 0;
  for (int i = 0; i < tabs; ++i) QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  const bool on_dots = QApplication::focusWidget() == btnSource;
  QCOMPARE(on_dots, focus == FocusOn::kDotsByTab || focus == FocusOn::kDotsByClick);
  // The default-button frame is where Enter acts.
  QCOMPARE(btnSource->isDefault(), on_dots);
  QCOMPARE(btnStart->isDefault(), !on_dots);
  txtSource->setText(folder);
  desktop_->CancelNextDialog();  // for "...": Cancel, which empties the field
  desktop_->AnswerNextMessage();

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

  QCOMPARE(QFile::exists(folder + "m1.mem"), converts);
  QCOMPARE(desktop_->messages.size(), converts ? 1u : 0u);
  QCOMPARE(txtSource->text(), converts ? folder : QString());
}

void TestFrmPellamar::aCardNotConvertedTurnsTheMessageIntoAWarning() {
  const QString folder = FolderOfCards();
  QFile locked(folder + "/m1.mem");
  QVERIFY(locked.open(QIODevice::WriteOnly));
  locked.write("old");
  locked.close();
  QVERIFY(locked.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  txtSource->setText(folder + "/");
  desktop_->AnswerNextMessage();

  QTest::mouseClick(btnStart, Qt::LeftButton);

  QCOMPARE(desktop_->messages.size(), 1u);
  const SeenMessage message = desktop_->messages[0];
  QCOMPARE(message.icon, QMessageBox::Warning);
  QCOMPARE(message.title, kCaption);
  QVERIFY2(message.text.startsWith("2 Files Processed\n"), qPrintable(message.text));
  QVERIFY2(message.text.contains("m1.mem"), qPrintable(message.text));
  QCOMPARE(QFileInfo(locked).size(), 3);
}

void TestFrmPellamar::clicksDuringARunStartNoSecondRun() {
  txtSource->setText(FolderOfCards() + "/");
  const QPointF centre = QRectF(btnStart->rect()).center();
  // On the first count the run paints: a click that reaches the button at
  // once, and one queued for when the thread is free again.
  bool clicked_during_run = false;
  PaintLog painted(Label3, [&] {
    if (std::exchange(clicked_during_run, true)) return;
    btnStart->click();
    QCoreApplication::postEvent(
        btnStart, new QMouseEvent(QEvent::MouseButtonPress, centre, btnStart->mapToGlobal(centre),
                                  Qt::LeftButton, Qt::LeftButton, {}));
    QCoreApplication::postEvent(
        btnStart, new QMouseEvent(QEvent::MouseButtonRelease, centre, btnStart->mapToGlobal(centre),
                                  Qt::LeftButton, {}, {}));
  });
  // While the first real message box is up: another click and Enter.
  bool clicked_during_box = false;
  MessageBoxWatch boxes([&] {
    if (std::exchange(clicked_during_box, true)) return;
    btnStart->click();
    QTest::keyClick(window_.get(), Qt::Key_Return);
  });

  QTest::mouseClick(btnStart, Qt::LeftButton);
  QTest::qWait(100);

  QCOMPARE(boxes.seen.size(), 1);
  QCOMPARE(boxes.seen[0].text, "3 Files Processed");
  QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
  QCOMPARE(boxes.seen[0].title, kCaption);
  QCOMPARE(boxes.modality[0], Qt::WindowModal);
  QCOMPARE(boxes.owners[0], window_.get());
  QCOMPARE(painted.captions.mid(0, 3),
           QStringList({"1 Processed.", "2 Processed.", "3 Processed."}));
  QCOMPARE(painted.captions.count("1 Processed."), 1);
  QCOMPARE(Label3->text(), kDescription);
}

void TestFrmPellamar::keysTypedDuringARunDoNotAnswerItsMessageBox() {
  txtSource->setText(FolderOfCards() + "/");
  TypedAhead keyboard;
  // Enter typed while the run works waits in the queue behind it.
  PaintLog painted(Label3, [&] {
    if (painted.captions.size() != 1) return;
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QCoreApplication::postEvent(&keyboard, new QKeyEvent(type, Qt::Key_Return, {}));
    }
  });
  bool up_when_answered = false;
  MessageBoxWatch boxes([&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    up_when_answered = box != nullptr && box->isVisible();
  });

  QTest::mouseClick(btnStart, Qt::LeftButton);

  QCOMPARE(boxes.seen.size(), 1);
  QCOMPARE(boxes.seen[0].text, "3 Files Processed");
  QVERIFY(up_when_answered);
}

// Input that comes to a run is an object's key press; the window system's
// own requests are a queued call.
class KeyCount : public QObject {
 public:
  int keys = 0;

 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::KeyPress) ++keys;
    return QObject::event(event);
  }
};

void TestFrmPellamar::aLongRunAnswersTheWindowSystemButTakesNoInput() {
  txtSource->setText(FolderOfCards() + "/");
  KeyCount input;
  QString answered_while;
  // The first card takes a slow disk's while.
  PaintLog painted(Label3, [&] {
    if (painted.captions.size() != 1) return;
    QMetaObject::invokeMethod(
        window_.get(), [&] { answered_while = Label3->text(); }, Qt::QueuedConnection);
    QCoreApplication::postEvent(&input, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, {}));
    QThread::msleep(300);
  });
  desktop_->AnswerNextMessage();

  QTest::mouseClick(btnStart, Qt::LeftButton);
  QCoreApplication::processEvents();

  QCOMPARE(answered_while, "1 Processed.");
  QCOMPARE(input.keys, 0);
  QCOMPARE(desktop_->messages.size(), 1u);
  QCOMPARE(desktop_->messages[0].text, "3 Files Processed");
}

void TestFrmPellamar::theMessageBoxStaysWithinTheScreen_data() {
  QTest::addColumn<QString>("folder");  // one that cannot be read
  QTest::newRow("a long name") << "/missing/" + QString(3000, 'x') + "/";
  QTest::newRow("many words") << "/missing/" + QString("a few words ").repeated(400) + "/";
}

void TestFrmPellamar::theMessageBoxStaysWithinTheScreen() {
  QFETCH(QString, folder);
  txtSource->setText(folder);
  MessageBoxWatch boxes([] {});

  QTest::mouseClick(btnStart, Qt::LeftButton);

  QCOMPARE(boxes.seen.size(), 1);
  QVERIFY2(boxes.seen[0].text.startsWith("0 Files Processed\n"), qPrintable(boxes.seen[0].text));
  QVERIFY(boxes.within_screen[0]);
}

void TestFrmPellamar::creditLabelAsksForTheHomePageAndChangesNothing() {
  txtSource->setText("/cards/a.mcd");
  const QImage before = window_->grab().toImage();

  QTest::mousePress(Label2, Qt::LeftButton);
  QTest::mouseRelease(Label2, Qt::LeftButton, {}, QPoint(-4, -4));  // released elsewhere
  QVERIFY(desktop_->launches.isEmpty());
  QTest::mouseClick(Label2, Qt::LeftButton);

  QCOMPARE(desktop_->launches,
           QList<QUrl>{QUrl(QString::fromUtf8(pellamar::ui::HomePage().data()))});
  QCOMPARE(window_->grab().toImage(), before);
  QCOMPARE(QApplication::focusWidget(), btnStart);
  QVERIFY(desktop_->messages.empty());
}

void TestFrmPellamar::dropPutsTheFirstLocalItemIntoTheField_data() {
  // Items are names in the folder of cards ("" for the folder itself) or
  // whole addresses; `field` is what the field then holds, the folder's
  // path standing first, or null when the drop is refused.
  QTest::addColumn<QStringList>("items");
  QTest::addColumn<QString>("field");
  QTest::newRow("a card") << QStringList{"m1.mcd"} << "/m1.mcd";
  QTest::newRow("a folder, with its separator") << QStringList{""} << "/";
  QTest::newRow("several: the first") << QStringList{"blank.mcd", "m1.mcd"} << "/blank.mcd";
  QTest::newRow("a web address") << QStringList{"https://example.org/a.mcd"} << QString();
  QTest::newRow("another machine's file") << QStringList{"file://server/a.mcd"} << QString();
}

void TestFrmPellamar::dropPutsTheFirstLocalItemIntoTheField() {
  QFETCH(QStringList, items);
  QFETCH(QString, field);
  const QString folder = FolderOfCards();
  QList<QUrl> urls;
  for (const QString& item : items) {
    urls << (item.contains(':') ? QUrl(item) : QUrl::fromLocalFile(folder + "/" + item));
  }
  QMimeData data;
  data.setUrls(urls);
  txtSource->setText("/old/x.mcd");
  const QPoint on_field = txtSource->geometry().center();

  QDragEnterEvent enter(on_field, Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(window_.get(), &enter);
  QCOMPARE(enter.isAccepted(), !field.isNull());
  QDropEvent drop(on_field, Qt::CopyAction, &data, Qt::LeftButton, {});
  QApplication::sendEvent(window_.get(), &drop);

  QCOMPARE(txtSource->text(), field.isNull() ? "/old/x.mcd" : QDir::cleanPath(folder) + field);
  QVERIFY(!QFile::exists(folder + "/m1.mem"));
  QVERIFY(desktop_->messages.empty());
  QVERIFY(desktop_->requests.empty());
}

void TestFrmPellamar::aFolderNamedInLatin1IsConverted_data() {
  QTest::addColumn<bool>("dropped");
  QTest::newRow("picked with ...") << false;
  QTest::newRow("dropped") << true;
}

// "café" as an old system wrote it, in Latin-1: not UTF-8.
void TestFrmPellamar::aFolderNamedInLatin1IsConverted() {
  QFETCH(bool, dropped);
  const std::string folder = QFile::encodeName(folder_->path()).toStdString() + "/caf\xE9";
  QVERIFY(std::filesystem::create_directory(folder));
  // QTemporaryDir cannot remove what it cannot name.
  const auto remove = qScopeGuard([&] { std::filesystem::remove_all(folder); });
  std::filesystem::copy_file(PELLAMAR_TEST_DATA_DIR "/m1.mcd", folder + "/m1.mcd");
  const QUrl card = QUrl::fromEncoded(
      "file://" + QByteArray::fromStdString(folder + "/m1.mcd").toPercentEncoding("/"));
  if (dropped) {
    QMimeData data;
    data.setUrls({card});
    const QPoint on_field = txtSource->geometry().center();
    QDragEnterEvent enter(on_field, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &enter);
    QDropEvent drop(on_field, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(window_.get(), &drop);
  } else {
    desktop_->ConfirmNextDialog(card);
    QTest::mouseClick(btnSource, Qt::LeftButton);
  }
  desktop_->AnswerNextMessage();

  QTest::mouseClick(btnStart, Qt::LeftButton);

  QCOMPARE(desktop_->messages.size(), 1u);
  QCOMPARE(desktop_->messages[0].text, "1 Files Processed");
  QCOMPARE(std::filesystem::file_size(folder + "/m1.mem"), std::uintmax_t(kConvertedSize));
}

void TestFrmPellamar::closingTheWindowEndsTheProgram() {
  bool timed_out = false;
  QTimer::singleShot(0, window_.get(), &QWidget::close);
  QTimer::singleShot(5000, [&] {
    timed_out = true;
    QCoreApplication::exit(1);
  });
  QCOMPARE(QApplication::exec(), 0);
  QVERIFY(!timed_out);
}

QTEST_MAIN(TestFrmPellamar)
#include "frm_pellamar_test.moc"
