// SPDX-License-Identifier: Apache-2.0
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
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>
#include <vector>

#include "forms/dialogs.h"
#include "forms/frm_main.h"
#include "install/installer.h"
#include "util/error_message.h"

namespace {

// Records every box, with the status panel's text while it was open and
// whether the override cursor was the arrow; answers the file dialog with
// `answer` and remembers how it was asked.
struct Recorder : afc::MessageBoxPresenter, afc::FileDialog {
  void Show(QWidget* parent, QMessageBox::Icon icon, const QString& title,
            const QString& text) override {
    const QCursor* cursor = QApplication::overrideCursor();
    boxes.push_back({icon, title, text, parent->findChild<QLabel*>("SBarStatus")->text(),
                     cursor != nullptr && cursor->shape() == Qt::ArrowCursor});
  }
  std::optional<QString> GetOpenFileName(QWidget* parent, const QString& title,
                                         const QString& filter) override {
    asked.push_back({parent, title + "|" + filter});
    return answer;
  }
  struct Box {
    QMessageBox::Icon icon;
    QString title, text, status;
    bool arrow;
  };
  std::vector<Box> boxes;
  std::vector<std::pair<QWidget*, QString>> asked;
  std::optional<QString> answer;
};

// A window with the test's dialogs, and its controls.
struct Window {
  explicit Window(const QString& path) : form(path) {
    auto boxes = std::make_unique<Recorder>();
    auto dialog = std::make_unique<Recorder>();
    box = boxes.get();
    file_dialog = dialog.get();
    form.SetMessageBoxPresenter(std::move(boxes));
    form.SetFileDialog(std::move(dialog));
  }
  afc::frmMain form;
  Recorder* box;
  Recorder* file_dialog;
  QPushButton* action = form.findChild<QPushButton*>("cmdTremlock");
  QLineEdit* path_box = form.findChild<QLineEdit*>("txtPath");
  QPushButton* browse = form.findChild<QPushButton*>("cmdCD");
  QLabel* status = form.findChild<QLabel*>("SBarStatus");
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    file_ = dir_->filePath("Tallowin.mdb");
    QFile f(file_);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
  }

  void cleanup() {
    // No click may leave its hourglass (or a box's arrow) behind.
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

  void ShowsTheStartingPathAndForwardsKeystrokesTabAndBrowse() {
    {
      Window w(file_);
      QCOMPARE(w.path_box->text(), file_);
      QVERIFY(w.action->isEnabled());
      QCOMPARE(w.status->text(), QString());
      QCOMPARE(w.form.findChild<QLabel*>("SBarCaption")->text(), QString("Status:"));
      QVERIFY(w.form.windowIcon().availableSizes().contains(QSize(32, 32)));
      // Tab moves from the action button to the path and the browse button.
      w.form.show();
      QVERIFY(QTest::qWaitForWindowActive(&w.form));
      w.action->setFocus();
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), w.path_box);
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), w.browse);
    }
    Window w(dir_->filePath("missing.mdb"));
    QCOMPARE(w.path_box->text(), QString());
    QVERIFY(!w.action->isEnabled());
    w.form.show();
    QTest::keyClicks(w.path_box, file_);
    QVERIFY(w.action->isEnabled());
    // Enter in the path box does not press the action button.
    QTest::keyClick(w.path_box, Qt::Key_Return);
    QVERIFY(w.box->boxes.empty());
    QCOMPARE(w.status->text(), QString());
    // Browse asks over the window and fills the path.
    w.file_dialog->answer = file_;
    QTest::mouseClick(w.browse, Qt::LeftButton);
    QCOMPARE(w.file_dialog->asked.size(), size_t{1});
    QCOMPARE(w.file_dialog->asked[0].first, &w.form);
    QCOMPARE(w.file_dialog->asked[0].second,
             QString("Locate Tallowin.mdb|Tallowin Database (Tallowin.mdb)"));
    QCOMPARE(w.path_box->text(), QDir::toNativeSeparators(file_));
    QVERIFY(w.action->isEnabled());
  }

  // A click on a real database: the box comes up under the arrow, the
  // finished text after it, and no cursor is left behind (see cleanup).
  void AddsTheServiceWithTheBoxUnderTheArrow() {
    QVERIFY(QFile::remove(file_));
    QVERIFY(QFile::copy(QFile::exists(AFC_SAMPLE_DB) ? AFC_SAMPLE_DB : AFC_HOST_DB, file_));
    QVERIFY(QFile::setPermissions(file_, QFile::ReadOwner | QFile::WriteOwner));
    Window w(file_);
    QTest::mouseClick(w.action, Qt::LeftButton);
    QCOMPARE(w.box->boxes.size(), size_t{1});
    const Recorder::Box& box = w.box->boxes[0];
    QCOMPARE(box.text, QString(afc::kSuccessBoxText));
    QCOMPARE(box.icon, QMessageBox::Information);
    QVERIFY(box.arrow && box.status != QString(afc::kFinishedStatus));
    QCOMPARE(w.status->text(), QString(afc::kFinishedStatus));
  }

  // The real box, answered by a timer: OK only, and text that is never
  // taken for markup.
  void ShowsPlainTextInAWarningBoxWithOnlyOk() {
    QWidget parent;
    std::optional<Recorder::Box> seen;  // what the open box showed
    QMessageBox::StandardButtons buttons;
    Qt::TextFormat format = Qt::RichText;
    QTimer answer;
    answer.setInterval(20);
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = Recorder::Box{box->icon(), box->windowTitle(), box->text(), "", false};
      buttons = box->standardButtons();
      format = box->textFormat();
      box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    afc::QtMessageBoxPresenter().Show(&parent, afc::IconForStyle(afc::kVbExclamation), "Title",
                                      afc::PromptText("<b>C:\\a</b>\rnext"));
    QVERIFY(seen.has_value());
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(seen->text, QString("<b>C:\\a</b>\nnext"));
    QCOMPARE(seen->title, QString("Title"));
    QCOMPARE(seen->icon, QMessageBox::Warning);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(afc::PromptText("a\r\rb\r\nc\n"), QString("a\n\nb\nc\n"));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  QString file_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
