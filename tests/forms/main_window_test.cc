// The Qt window driven as a person would: what it draws and what it
// forwards. What the window decides (which path enables the button, the
// texts of the boxes, their order against the status bar, a failure of the
// click itself, the second run) is the presenter's, pinned down in
// main_presenter_test for the Qt and the Win32 window alike; here, that Qt
// keystrokes, clicks, tab order, the file dialog, the cursor and the real
// message box carry it through. Dialogs are answered by the test.

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
  }

  std::vector<Box> boxes;
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

  void ShowsTheStartingPathAndForwardsKeystrokes() {
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
    Window w(dir_->filePath("missing.mdb"));
    QCOMPARE(w.path_box->text(), QString());
    QVERIFY(!w.action->isEnabled());
    w.form.show();
    QTest::keyClicks(w.path_box, file);
    QVERIFY(w.action->isEnabled());
    QTest::keyClick(w.path_box, Qt::Key_Backspace);
    QVERIFY(!w.action->isEnabled());
    // Enter in the path box does not press the action button.
    QTest::keyClicks(w.path_box, "b");
    QVERIFY(w.action->isEnabled());
    QTest::keyClick(w.path_box, Qt::Key_Return);
    QVERIFY(w.boxes->boxes.empty());
    QCOMPARE(w.status->text(), QString());
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

  void BrowseAsksOverTheWindowAndFillsThePath() {
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
  }

  // A click on a real database: the box comes up under the arrow, the
  // finished text after it, and no cursor is left behind (see cleanup).
  void AddsTheServiceWithTheBoxUnderTheArrow() {
    const QString path = dir_->filePath("Tallowin.mdb");
    QVERIFY(QFile::copy(SourceDatabase(), path));
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner));
    Window w(path);
    QTest::mouseClick(w.action, Qt::LeftButton);
    QCOMPARE(w.boxes->boxes.size(), size_t{1});
    const RecordingMessageBox::Box& box = w.boxes->boxes[0];
    QCOMPARE(box.text, QString(afc::kSuccessBoxText));
    QCOMPARE(box.title, QString(afc::kSuccessBoxTitle));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.arrow);
    QVERIFY(box.status != QString(afc::kFinishedStatus));
    QCOMPARE(w.status->text(), QString(afc::kFinishedStatus));
    QCOMPARE(afc::ServiceExistsInMaster(afc::kServiceCode, path.toStdString()), afc::kTrue);
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
