// The main window driven as a person would: the path box at start, typed
// keystroke by keystroke and filled by the "..." button; the action button
// on a real database, twice, and on a file that is not one; what the boxes
// say, in which order, and that the hourglass never outlives the click.
// Dialogs are answered by the test.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "dialogs.h"
#include "error_message.h"
#include "frm_main.h"
#include "installer.h"
#include "presence.h"

namespace {

// Records every box, with what the window showed while it was open.
class RecordingMessageBox : public afc::MessageBoxPresenter {
 public:
  struct Box {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QString status;  // the status panel while the box was open
    bool arrow;      // the override cursor was the arrow
  };

  void Show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
            const QString& text) override {
    const QCursor* cursor = QApplication::overrideCursor();
    boxes.push_back({icon, title, text, parent->findChild<QLabel*>("SBarStatus")->text(),
                     cursor != nullptr && cursor->shape() == Qt::ArrowCursor});
    if (throw_on_success && title == afc::kSuccessBoxTitle) {
      throw std::runtime_error("the box could not be shown");
    }
  }

  std::vector<Box> boxes;
  bool throw_on_success = false;
};

// Answers the file dialog with `answer` and remembers how it was asked.
class ScriptedFileDialog : public afc::FileDialog {
 public:
  std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title,
                                         const QString& filter) override {
    ++calls;
    asked_parent = parent;
    asked_title = title;
    asked_filter = filter;
    return answer;
  }

  std::optional<QString> answer;
  int calls = 0;
  QWidget* asked_parent = nullptr;
  QString asked_title;
  QString asked_filter;
};

// A window with the test's dialogs, and its controls.
struct Window {
  explicit Window(const QString& path) : form(path) {
    auto box = std::make_unique<RecordingMessageBox>();
    boxes = box.get();
    form.SetMessageBoxPresenter(std::move(box));
    auto dialog = std::make_unique<ScriptedFileDialog>();
    file_dialog = dialog.get();
    form.SetFileDialog(std::move(dialog));
    action = form.findChild<QPushButton*>("cmdTremlock");
    path_box = form.findChild<QLineEdit*>("txtPath");
    browse = form.findChild<QPushButton*>("cmdCD");
    status = form.findChild<QLabel*>("SBarStatus");
  }

  afc::frmMain form;
  RecordingMessageBox* boxes;
  ScriptedFileDialog* file_dialog;
  QPushButton* action;
  QLineEdit* path_box;
  QPushButton* browse;
  QLabel* status;
};

QString SourceDatabase() {
  return QFile::exists(AFC_SAMPLE_DB) ? QString(AFC_SAMPLE_DB) : QString(AFC_HOST_DB);
}

void WriteFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  QCOMPARE(f.write(bytes), bytes.size());
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }

  void cleanup() {
    // No click may leave its hourglass (or a box's arrow) behind.
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void KeepsAnExistingStartingPathAndClearsAMissingOne() {
    const QString file = dir_->filePath("Tallowin.mdb");
    WriteFile(file, "x");
    {
      Window w(file);
      QCOMPARE(w.path_box->text(), file);
      QVERIFY(w.action->isEnabled());
      QCOMPARE(w.status->text(), QString());
      QCOMPARE(w.form.findChild<QLabel*>("SBarCaption")->text(), QString("Status:"));
      QVERIFY(w.form.windowIcon().availableSizes().contains(QSize(32, 32)));
    }
    for (const QString& start : {dir_->filePath("missing.mdb"), dir_->path(), QString()}) {
      Window w(start);
      QCOMPARE(w.path_box->text(), QString());
      QVERIFY(!w.action->isEnabled());
      QVERIFY(w.boxes->boxes.empty());
    }
  }

  void EnablesTheButtonExactlyWhileTheTypedTextNamesAFile() {
    const QString file = dir_->filePath("Tallowin.mdb");
    WriteFile(file, "x");
    WriteFile(dir_->filePath("Tallowin.md"), "x");
    Window w{QString()};
    w.form.show();
    for (int i = 0; i < file.size(); ++i) {
      QTest::keyClicks(w.path_box, file.mid(i, 1));
      const QString typed = file.left(i + 1);
      QCOMPARE(w.path_box->text(), typed);
      const bool names_a_file = typed == file || typed == dir_->filePath("Tallowin.md");
      QVERIFY2(w.action->isEnabled() == names_a_file, qPrintable(typed));
    }
    QTest::keyClick(w.path_box, Qt::Key_Backspace);
    QVERIFY(w.action->isEnabled());  // Tallowin.md
    QTest::keyClick(w.path_box, Qt::Key_Backspace);
    QVERIFY(!w.action->isEnabled());
    // Enter in the path box does not press the action button.
    QTest::keyClicks(w.path_box, "db");
    QVERIFY(w.action->isEnabled());
    QTest::keyClick(w.path_box, Qt::Key_Return);
    QVERIFY(w.boxes->boxes.empty());
    QCOMPARE(w.status->text(), QString());
    // Patterns that match the files are not file names.
    for (const QString& pattern : {dir_->filePath("*.mdb"), dir_->filePath("Tallowin.md?"),
                                   dir_->filePath("*"), dir_->path()}) {
      w.path_box->setText(pattern);
      QVERIFY2(!w.action->isEnabled(), qPrintable(pattern));
    }
  }

  void TabMovesFromTheActionButtonToThePathAndTheBrowseButton() {
    const QString file = dir_->filePath("Tallowin.mdb");
    WriteFile(file, "x");
    Window w(file);
    w.form.show();
    QVERIFY(QTest::qWaitForWindowActive(&w.form));
    w.action->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.path_box);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w.browse);
  }

  void BrowseFillsThePathOnlyWhenConfirmed() {
    const QString file = dir_->filePath("Tallowin.mdb");
    WriteFile(file, "x");
    Window w{QString()};
    w.file_dialog->answer = file;
    QTest::mouseClick(w.browse, Qt::LeftButton);
    QCOMPARE(w.file_dialog->calls, 1);
    QCOMPARE(w.file_dialog->asked_parent, &w.form);
    QCOMPARE(w.file_dialog->asked_title, QString("Locate Tallowin.mdb"));
    QCOMPARE(w.file_dialog->asked_filter, QString("Tallowin Database (Tallowin.mdb)"));
    QCOMPARE(w.path_box->text(), QDir::toNativeSeparators(file));
    QVERIFY(w.action->isEnabled());

    w.file_dialog->answer.reset();
    QTest::mouseClick(w.browse, Qt::LeftButton);
    QCOMPARE(w.file_dialog->calls, 2);
    QCOMPARE(w.path_box->text(), QDir::toNativeSeparators(file));
    QVERIFY(w.action->isEnabled());
  }

  void AddsTheServiceAndSucceedsAgainOnASecondRun() {
    const QString path = dir_->filePath("Tallowin.mdb");
    QVERIFY(QFile::copy(SourceDatabase(), path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    Window w(path);
    QVERIFY(w.action->isEnabled());
    for (int run = 0; run < 2; ++run) {
      w.boxes->boxes.clear();
      QTest::mouseClick(w.action, Qt::LeftButton);
      QCOMPARE(w.boxes->boxes.size(), size_t{1});
      const RecordingMessageBox::Box& box = w.boxes->boxes[0];
      QCOMPARE(box.text, QString(afc::kSuccessBoxText));
      QCOMPARE(box.title, QString(afc::kSuccessBoxTitle));
      QCOMPARE(box.icon, QMessageBox::Information);
      QVERIFY(box.arrow);
      // The finished text comes only once the box has been closed (a second
      // run writes nothing and leaves the first one's text up meanwhile).
      if (run == 0) QVERIFY(box.status != QString(afc::kFinishedStatus));
      QCOMPARE(w.status->text(), QString(afc::kFinishedStatus));
      QCOMPARE(QApplication::overrideCursor(), nullptr);
    }
    const std::string db = path.toStdString();
    QCOMPARE(afc::ServiceExistsInMaster(afc::kServiceCode, db), afc::kTrue);
    QCOMPARE(afc::ServiceExistsInPanel(afc::kServiceCode, db), afc::kTrue);
  }

  void ReportsAFileThatIsNotADatabase() {
    const QString path = dir_->filePath("Tallowin.mdb");
    const QByteArray junk(8192, 'x');
    WriteFile(path, junk);
    Window w(path);
    QVERIFY(w.action->isEnabled());
    QTest::mouseClick(w.action, Qt::LeftButton);
    QVERIFY(!w.boxes->boxes.empty());
    const RecordingMessageBox::Box& box = w.boxes->boxes[0];
    QVERIFY2(box.text.startsWith("Failed to add USPS 'FirstClass' service to Master table...\n\n"
                                 "The following error has occurred:\n"),
             qPrintable(box.text));
    QVERIFY(!box.text.contains('\r'));
    QCOMPARE(box.title, QString(afc::kProcessFailed));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(box.arrow);
    for (const RecordingMessageBox::Box& b : w.boxes->boxes) {
      QVERIFY(b.title != QString(afc::kSuccessBoxTitle));
    }
    QCOMPARE(w.status->text(), QString(afc::kFailedStatus));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), junk);
  }

  void ReportsAFailureOfTheClickItself() {
    const QString path = dir_->filePath("Tallowin.mdb");
    QVERIFY(QFile::copy(SourceDatabase(), path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    Window w(path);
    w.boxes->throw_on_success = true;
    QTest::mouseClick(w.action, Qt::LeftButton);
    QCOMPARE(w.boxes->boxes.size(), size_t{2});
    const RecordingMessageBox::Box& box = w.boxes->boxes[1];
    QCOMPARE(box.text, QString(afc::kFailedToAddService) +
                           "\n\nThe following error has occurred:\nthe box could not be shown");
    QCOMPARE(box.title, QString(afc::kProcessFailed));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY(box.arrow);
    QVERIFY(w.status->text() != QString(afc::kFinishedStatus));
  }

  // The real box, answered by a timer: OK only, and text that is never
  // taken for markup.
  void ShowsPlainTextInAWarningBoxWithOnlyOk() {
    QWidget parent;
    // What the open box showed; read by the timer, which always closes it.
    struct Seen {
      Qt::TextFormat format;
      QString text;
      QString title;
      QMessageBox::Icon icon;
      QMessageBox::StandardButtons buttons;
    };
    std::optional<Seen> seen;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = Seen{box->textFormat(), box->text(), box->windowTitle(), box->icon(),
                  box->standardButtons()};
      box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    afc::QtMessageBoxPresenter().Show(&parent, afc::IconForStyle(afc::kVbExclamation), "Title",
                                      afc::PromptText("<b>C:\\a</b>\rnext"));
    QVERIFY(seen.has_value());
    QCOMPARE(seen->format, Qt::PlainText);
    QCOMPARE(seen->text, QString("<b>C:\\a</b>\nnext"));
    QCOMPARE(seen->title, QString("Title"));
    QCOMPARE(seen->icon, QMessageBox::Warning);
    QCOMPARE(seen->buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(afc::IconForStyle(afc::kVbInformation), QMessageBox::Information);
    QCOMPARE(afc::PromptText("a\r\rb\r\nc\n"), QString("a\n\nb\nc\n"));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
