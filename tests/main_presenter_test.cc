// SPDX-License-Identifier: Apache-2.0
// The main window's decisions without a toolkit: a view that records what
// it is told, over real databases. Both the Qt and the Win32 window only
// forward to this logic, so what is pinned down here holds for both.

#include "forms/main_presenter.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "install/installer.h"
#include "install/presence.h"
#include "test_util.h"
#include "util/error_message.h"

namespace {

// Records every call as one line, and behaves like a window: setting the
// path box notifies the presenter, as a change notification would. A box is
// recorded as "information|title|text" (or "warning|...").
struct RecordingView : afc::MainView {
  std::string PathText() override { return path; }
  void SetPathText(const std::string& text) override {
    path = text;
    if (presenter) presenter->txtPath_Change();
  }
  void SetActionEnabled(bool enabled) override { action_enabled = enabled; }
  void SetStatusText(const std::string& text) override {
    status = text;
    log.push_back("status " + text);
  }
  void ShowMessageBox(afc::BoxIcon icon, const std::string& title,
                      const std::string& text) override {
    const char* kinds[] = {"none|", "critical|", "question|", "warning|", "information|"};
    boxes.push_back(kinds[int(icon)] + title + "|" + text);
    log.push_back("box " + title + " over " + (cursors.empty() ? "none" : cursors.back()));
    if (throw_in_box && title == afc::kSuccessBoxTitle) throw std::runtime_error("no box");
  }
  std::optional<std::string> AskForFile(const std::string& title, const std::string& filter,
                                        const std::string& pattern) override {
    asked.push_back(title + "|" + filter + "|" + pattern);
    return answer;
  }
  void PushCursor(afc::Cursor cursor) override {
    cursors.push_back(cursor == afc::Cursor::kWait ? "wait" : "arrow");
    log.push_back("push " + cursors.back());
  }
  void PopCursor() override {
    log.push_back("pop " + cursors.back());
    cursors.pop_back();
  }

  afc::MainPresenter* presenter = nullptr;
  std::string path, status;
  bool action_enabled = false, throw_in_box = false;
  std::vector<std::string> boxes, log, cursors, asked;
  std::optional<std::string> answer;
};

// A view and its presenter, the path box preset to `path`, after Form_Load.
struct Window {
  explicit Window(const std::string& start, afc::InstallFunction install = {})
      : presenter(view, std::move(install)) {
    view.presenter = &presenter;
    view.path = start;
    presenter.Form_Load();
  }
  RecordingView view;
  afc::MainPresenter presenter;
};

// A copy of the sample database as Tallowin.mdb in a scratch folder.
struct MainPresenterTest : ::testing::Test {
  testutil::TempDir dir;
  const std::string db = testutil::CopyOf(dir, AFC_SAMPLE_DB);
};

TEST_F(MainPresenterTest, ActionButtonFollowsWhetherThePathNamesAFileThatBrowseCanFill) {
  Window missing(dir.File("gone.mdb"));
  EXPECT_EQ(missing.view.path, "");  // a missing start path is cleared
  EXPECT_FALSE(missing.view.action_enabled);
  Window present(db);
  EXPECT_EQ(present.view.path, db);
  EXPECT_TRUE(present.view.action_enabled);

  // Typed keystroke by keystroke: enabled exactly while the text is a file.
  for (size_t n = 1; n <= db.size(); ++n) {
    missing.view.SetPathText(db.substr(0, n));
    EXPECT_EQ(missing.view.action_enabled, n == db.size()) << n;
  }
  // Browse asks for Tallowin.mdb; a cancel leaves the box, a file fills it.
  missing.view.SetPathText("typed by hand");
  missing.presenter.cmdCD_Click();
  EXPECT_EQ(missing.view.asked, std::vector<std::string>{"Locate Tallowin.mdb|Tallowin Database "
                                                         "(Tallowin.mdb)|Tallowin.mdb"});
  EXPECT_EQ(missing.view.path, "typed by hand");
  missing.view.answer = db;
  missing.presenter.cmdCD_Click();
  EXPECT_TRUE(missing.view.path == db && missing.view.action_enabled);
}

TEST_F(MainPresenterTest, SuccessShowsTheBoxUnderTheArrowThenTheStatusTwice) {
  Window w(db);
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    w.view.log.clear();
    w.view.boxes.clear();
    w.presenter.cmdTremlock_Click();
    EXPECT_EQ(
        w.view.boxes,
        std::vector<std::string>{
            "information|Add Service|USPS First-Class Mail service was added successfully !"});
    // The hourglass for the whole click, the arrow over the box, and the
    // outcome in the status bar only after the box was closed.
    const std::vector<std::string> tail = {"push arrow", "box Add Service over arrow", "pop arrow",
                                           "status Finished successfully !", "pop wait"};
    ASSERT_GE(w.view.log.size(), tail.size() + 1);
    EXPECT_EQ(w.view.log.front(), "push wait");
    EXPECT_EQ(std::vector<std::string>(w.view.log.end() - long(tail.size()), w.view.log.end()),
              tail);
    EXPECT_EQ(w.view.log[1], run == 0 ? "status Adding service settings 0 of 24" : tail[0]);
    EXPECT_TRUE(w.view.cursors.empty());
  }
  EXPECT_EQ(afc::ServiceExistsInMaster(afc::kServiceCode, db), afc::kTrue);
  EXPECT_EQ(afc::ServiceExistsInPanel(afc::kServiceCode, db), afc::kTrue);
}

TEST_F(MainPresenterTest, FailuresShowAWarningAndNeverKeepTheHourglass) {
  testutil::WriteFile(db, std::string(4096, 'x'));
  Window w(db);
  w.presenter.cmdTremlock_Click();
  ASSERT_EQ(w.view.boxes.size(), 1u);
  // Line breaks reach the view as newlines.
  EXPECT_EQ(w.view.boxes[0].find('\r'), std::string::npos);
  EXPECT_TRUE(testutil::StartsWith(w.view.boxes[0],
                                   "warning|Process has failed !|Failed to add USPS 'FirstClass' "
                                   "service to Master table...\n\n"
                                   "The following error has occurred:\n"));
  EXPECT_EQ(w.view.status, afc::kFailedStatus);
  EXPECT_TRUE(w.view.cursors.empty());
  EXPECT_EQ(testutil::ReadFile(db), std::string(4096, 'x'));

  // A failure of the click itself, here the success box, is reported as
  // the service's failure, and the outcome is not claimed.
  Window thrown(db, [](afc::UserInterface&, const std::string&) { return afc::kTrue; });
  thrown.view.throw_in_box = true;
  EXPECT_NO_THROW(thrown.presenter.cmdTremlock_Click());
  EXPECT_NE(thrown.view.status, afc::kFinishedStatus);
  EXPECT_TRUE(thrown.view.cursors.empty());

  Window throwing(db, [](afc::UserInterface&, const std::string&) -> afc::Boolean {
    throw std::runtime_error("out of memory");
  });
  throwing.presenter.cmdTremlock_Click();
  EXPECT_EQ(throwing.view.boxes,
            std::vector<std::string>{"warning|Process has failed !|Failed to add the service...\n\n"
                                     "The following error has occurred:\nout of memory"});
  EXPECT_TRUE(throwing.view.cursors.empty());
}

}  // namespace
