// The open and save dialogs: how a filter string and a start folder become
// a Qt dialog, what the test seam answers, and Qt's own dialog driven for
// real, with its refusals and prompts.
#include <fnmatch.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>

#include "tests/ui/fake_desktop_calls.h"
#include "tests/ui/modal_steps.h"
#include "ui/qt/file_dialog.h"

using pellamar::testing::FakeDesktopCalls;
using pellamar::testing::ModalRescue;
using pellamar::testing::WhenModal;
using pellamar::ui::FileDialogRequest;

namespace {

constexpr char kCardFilter[] = "Bleem Memory Cards (*.mcd)|*.mcd|All files (*.*)|*.*";

// What a test saw of a Qt file dialog while it was up.
struct SeenDialog {
  QString title;
  QString folder;
  QStringList name_filters;
  QStringList shown_file_types;  // as the file-type list shows them
  QString name_filter_in_force;
  QString proposed_name;
  QFileDialog::FileMode file_mode = QFileDialog::AnyFile;
};

SeenDialog Look(QFileDialog* dialog) {
  QStringList shown;
  const auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
  for (int i = 0; i < types->count(); ++i) shown << types->itemText(i);
  return {dialog->windowTitle(),
          dialog->directory().absolutePath(),
          dialog->nameFilters(),
          shown,
          dialog->selectedNameFilter(),
          dialog->findChild<QLineEdit*>("fileNameEdit")->text(),
          dialog->fileMode()};
}

// Confirms the name in the dialog, as its Open or Save button does.
void Confirm(QFileDialog* dialog) { QMetaObject::invokeMethod(dialog, "accept"); }

// Types `name` into the dialog and confirms it.
void Confirm(QFileDialog* dialog, const QString& name) {
  dialog->findChild<QLineEdit*>("fileNameEdit")->setText(name);
  Confirm(dialog);
}

// What a test saw of a message box.
struct SeenBox {
  QString text;
  QWidget* owner = nullptr;
};

// Answers the next message box with `answer`, keeping its text.
void AnswerNextBox(QMessageBox::StandardButton answer, QStringList* texts,
                   QList<SeenBox>* boxes = nullptr) {
  WhenModal<QMessageBox>([answer, texts, boxes](QMessageBox* box) {
    texts->append(box->text());
    if (boxes != nullptr) boxes->append({box->text(), box->parentWidget()});
    box->button(answer)->click();
  });
}

}  // namespace

class TestFileDialog : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void init();
  void cleanup();
  void nameFiltersFollowTheFilterString_data();
  void nameFiltersFollowTheFilterString();
  void everyDialogOffersCardsInAnyCaseAndAllFiles();
  void driveLetterFoldersStandForTheHomeFolder_data();
  void driveLetterFoldersStandForTheHomeFolder();
  void argumentsReachTheDialogAndTheFilterIsConverted();
  void queuedAnswersComeBackInOrder();
  void qtOpenDialogAcceptsOnlyAnExistingFile();
  void qtSaveDialogAsksBeforeCreatingAndBeforeReplacing();

 private:
  QTemporaryDir home_;
  QWidget owner_;
  std::unique_ptr<ModalRescue> rescue_;
  pellamar::ui::QtDesktopCalls qt_dialogs_{true};
};

void TestFileDialog::initTestCase() {
  QVERIFY(home_.isValid());
  qputenv("HOME", QFile::encodeName(home_.path()));
  QVERIFY(QFile::copy(PELLAMAR_TEST_DATA_DIR "/m1.mcd", home_.filePath("m1.mcd")));
  owner_.show();
}

void TestFileDialog::init() { rescue_ = std::make_unique<ModalRescue>(10); }

void TestFileDialog::cleanup() { QVERIFY2(!rescue_->rescued(), "a dialog was left open"); }

void TestFileDialog::nameFiltersFollowTheFilterString_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  const QStringList cards = {"Bleem Memory Cards (*.mcd) (*.[mM][cC][dD])", "All files (*.*) (*)"};
  QTest::newRow("the program's own") << kCardFilter << cards;
  QTest::newRow("a final bar changes nothing") << QString(kCardFilter) + "|" << cards;
  QTest::newRow("several patterns")
      << "Cards|*.mcd;*.gme" << QStringList{"Cards (*.[mM][cC][dD] *.[gG][mM][eE])"};
  QTest::newRow("digits and brackets stay")
      << "Slots|slot?1.m[0-9]" << QStringList{"Slots (slot?1.m[0-9])"};
  QTest::newRow("a description without a pattern")
      << "Cards|*.mcd|Other" << QStringList{"Cards (*.[mM][cC][dD])", "Other ()"};
  QTest::newRow("empty") << "" << QStringList{};
}

void TestFileDialog::nameFiltersFollowTheFilterString() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  QCOMPARE(pellamar::ui::QtNameFilters(filter.toStdString()), expected);
}

// The names a dialog that matches its patterns as case-sensitive globs
// (GTK's chooser, the desktop portal) offers under each entry.
void TestFileDialog::everyDialogOffersCardsInAnyCaseAndAllFiles() {
  const QStringList names = {"a.mcd", "B.MCD", "c.Mcd", "README", "x.bin"};
  QList<QStringList> offered;
  for (const QString& name_filter : pellamar::ui::QtNameFilters(kCardFilter)) {
    const QString patterns = name_filter.section('(', -1).chopped(1);
    QStringList matching;
    for (const QString& name : names) {
      for (const QString& pattern : patterns.split(' ')) {
        if (fnmatch(qPrintable(pattern), qPrintable(name), 0) == 0) {
          matching << name;
          break;
        }
      }
    }
    offered << matching;
  }
  QCOMPARE(offered, QList<QStringList>({{"a.mcd", "B.MCD", "c.Mcd"}, names}));
}

void TestFileDialog::driveLetterFoldersStandForTheHomeFolder_data() {
  QTest::addColumn<QString>("init_dir");
  QTest::addColumn<QString>("expected");
  const QString home = home_.path();
  QTest::newRow("c:\\") << "c:\\" << home;
  QTest::newRow("C:\\") << "C:\\" << home;
  QTest::newRow("a bare drive") << "d:" << home;
  QTest::newRow("below a drive") << "c:\\cards\\old\\" << home + "/cards/old";
  QTest::newRow("a local path") << "/media/cards"
                                << "/media/cards";
}

void TestFileDialog::driveLetterFoldersStandForTheHomeFolder() {
  QFETCH(QString, init_dir);
  QFETCH(QString, expected);
  QCOMPARE(pellamar::ui::LocalFolderFor(init_dir.toStdString()), expected);
}

void TestFileDialog::argumentsReachTheDialogAndTheFilterIsConverted() {
  const QByteArray converted("Cards\0*.mcd\0All\0*.*\0", 20);

  FakeDesktopCalls desktop;
  desktop.ConfirmNextDialog("/cards/a.mcd");
  std::string filter = "Cards|*.mcd|All|*.*";
  pellamar::ui::OpenDialog(desktop, owner_, filter, "Pick", "c:\\");
  QCOMPARE(QByteArray::fromStdString(filter), converted);
  FileDialogRequest open = desktop.requests.at(0);
  QVERIFY(!open.save);
  QCOMPARE(open.owner, &owner_);
  QCOMPARE(open.title, "Pick");
  QCOMPARE(open.folder, home_.path());
  QCOMPARE(open.name_filters, pellamar::ui::QtNameFilters("Cards|*.mcd|All|*.*"));

  desktop.ConfirmNextDialog("/cards/b.mem");
  filter = "Cards|*.mcd|All|*.*|";
  pellamar::ui::SaveDialog(desktop, owner_, filter, "Keep", "/media", std::string(300, 'n'));
  QCOMPARE(QByteArray::fromStdString(filter), converted);
  FileDialogRequest save = desktop.requests.at(1);
  QVERIFY(save.save);
  QCOMPARE(save.title, "Keep");
  QCOMPARE(save.folder, "/media");
  QCOMPARE(save.file_name, QString(254, 'n'));
}

void TestFileDialog::queuedAnswersComeBackInOrder() {
  FakeDesktopCalls desktop;
  desktop.ConfirmNextDialog("/cards/Kärtchen.mcd");
  desktop.CancelNextDialog();
  std::string filter = kCardFilter;
  QCOMPARE(pellamar::ui::OpenDialog(desktop, owner_, filter, "Pick", "c:\\"),
           "/cards/Kärtchen.mcd");
  filter = kCardFilter;
  QCOMPARE(pellamar::ui::OpenDialog(desktop, owner_, filter, "Pick", "c:\\"), "");
}

void TestFileDialog::qtOpenDialogAcceptsOnlyAnExistingFile() {
  SeenDialog seen;
  QStringList refusals;
  bool open_after_refusal = false;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    seen = Look(dialog);
    AnswerNextBox(QMessageBox::Ok, &refusals);
    Confirm(dialog, "missing.mcd");
    open_after_refusal = dialog->isVisible();
    Confirm(dialog, "m1.mcd");
  });
  std::string filter = kCardFilter;
  const std::string chosen =
      pellamar::ui::OpenDialog(qt_dialogs_, owner_, filter, "Select a memory card", "c:\\");

  QCOMPARE(chosen, QFile::encodeName(home_.filePath("m1.mcd")).toStdString());
  QCOMPARE(seen.title, "Select a memory card");
  QCOMPARE(seen.folder, home_.path());
  QCOMPARE(seen.shown_file_types, QStringList({"Bleem Memory Cards (*.mcd)", "All files (*.*)"}));
  QCOMPARE(seen.name_filter_in_force, "Bleem Memory Cards (*.mcd)");
  QCOMPARE(seen.file_mode, QFileDialog::ExistingFile);
  QCOMPARE(refusals.size(), 1);
  QVERIFY2(refusals[0].contains("missing.mcd"), qPrintable(refusals[0]));
  QVERIFY(open_after_refusal);
}

void TestFileDialog::qtSaveDialogAsksBeforeCreatingAndBeforeReplacing() {
  std::string filter = kCardFilter;
  // A new file: the dialog closes, the prompt comes up over the owner (a
  // native dialog would hide one over itself), and on No the dialog comes
  // back with the name given; then Yes.
  QList<SeenDialog> seen;
  QStringList prompts;
  QList<SeenBox> create_prompts;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    seen.append(Look(dialog));
    AnswerNextBox(QMessageBox::No, &prompts, &create_prompts);
    Confirm(dialog, "new.mem");
    WhenModal<QFileDialog>([&](QFileDialog* again) {
      seen.append(Look(again));
      AnswerNextBox(QMessageBox::Yes, &prompts, &create_prompts);
      Confirm(again);
    });
  });
  const std::string created =
      pellamar::ui::SaveDialog(qt_dialogs_, owner_, filter, "Save", "c:\\", "new.mem");
  QCOMPARE(created, QFile::encodeName(home_.filePath("new.mem")).toStdString());
  QCOMPARE(seen.size(), 2);
  for (const SeenDialog& dialog : seen) {
    QCOMPARE(dialog.proposed_name, "new.mem");
    QCOMPARE(dialog.folder, home_.path());
    QCOMPARE(dialog.name_filter_in_force, "Bleem Memory Cards (*.mcd)");
  }
  QCOMPARE(create_prompts.size(), 2);
  for (const SeenBox& box : create_prompts) {
    QVERIFY2(box.text.contains("create"), qPrintable(box.text));
    QCOMPARE(box.owner, &owner_);
  }
  QVERIFY(!QFile::exists(home_.filePath("new.mem")));  // asking is not creating

  // An existing file: the dialog asks itself and stays open on No.
  bool open_after_no = false;
  WhenModal<QFileDialog>([&](QFileDialog* dialog) {
    AnswerNextBox(QMessageBox::No, &prompts);
    Confirm(dialog);
    open_after_no = dialog->isVisible();
    AnswerNextBox(QMessageBox::Yes, &prompts);
    Confirm(dialog);
  });
  filter = kCardFilter;
  const std::string replaced =
      pellamar::ui::SaveDialog(qt_dialogs_, owner_, filter, "Save", "c:\\", "m1.mcd");
  QCOMPARE(replaced, QFile::encodeName(home_.filePath("m1.mcd")).toStdString());
  QVERIFY(open_after_no);
  QCOMPARE(prompts.size(), 4);
  for (int i : {2, 3}) QVERIFY2(prompts[i].contains("replace"), qPrintable(prompts[i]));
}

QTEST_MAIN(TestFileDialog)
#include "file_dialog_test.moc"
