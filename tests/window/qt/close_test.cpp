// The real close event and the real message boxes.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>

#include <QMessageBox>
#include <QTimer>
#include <vector>

#include "qt_app.h"

namespace qor {
namespace {

using test::App;

// Records every message and answers from a script.
class QtClose : public test::QtWindow, public ::testing::Test {
 protected:
  QtClose() {
    view.SetMessagePresenter([this](const MessageRequest& request) {
      shown.push_back(request);
      return answer;
    });
  }
  std::vector<MessageRequest> shown;
  MessageAnswer answer = MessageAnswer::No;
};

TEST(QtMessageText, LineBreaksAndBytesBecomeWhatTheBoxShows) {
  const struct {
    std::string prompt;
    std::string title;
    QString text;
    QString shown_title;
  } cases[] = {
      {"7", "Sorvane", "7", "Sorvane"},
      {"fail\r\n/out/20240305/", "Target create", "fail\n/out/20240305/", "Target create"},
      {"a\r\nb\r\nc", "uups   ", "a\nb\nc", "uups   "},
      {"fail\r\n/tmp/caf\xc3\xa9/", "Arrgh", QString::fromUtf8("fail\n/tmp/café/"), "Arrgh"},
  };
  for (const auto& message : cases) {
    SCOPED_TRACE(message.prompt);
    const MessageRequest request =
        MakeMessageRequest(message.prompt, message.title, MessageButtons::YesNo);
    EXPECT_EQ(request.text, message.text);
    EXPECT_EQ(request.title, message.shown_title);
    EXPECT_EQ(request.buttons, MessageButtons::YesNo);
  }
}

// Asks the window to close the way the window system does when the user
// presses the close box.
void UserCloses(QtFormView& window) {
  QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
      window.windowHandle());
}

TEST_F(QtClose, TheCloseBoxIsTheUsersOwnCommandAndCodeIsAnotherReason) {
  view.show();
  form.SetRunActive(true);
  UserCloses(view);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].title, QStringLiteral("Search active "));
  EXPECT_TRUE(view.isVisible()) << "No keeps the window";
  EXPECT_FALSE(view.IsClosing());
  EXPECT_TRUE(view.close());
  EXPECT_EQ(shown.size(), 1u) << "a close by code asks nothing";
  EXPECT_TRUE(view.IsClosing());
}

TEST_F(QtClose, IdleCloseAsksNothing) {
  view.show();
  UserCloses(view);
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(view.IsClosing());
  EXPECT_FALSE(view.isVisible());
}

TEST_F(QtClose, CloseDuringRunMakesTheWalkGiveUpAtItsYield) {
  view.show();
  form.SetRunActive(true);
  EXPECT_TRUE(form.Yield());
  QTimer::singleShot(0, &view, [this] { view.close(); });
  EXPECT_FALSE(form.Yield());
  EXPECT_TRUE(form.IsClosing());
  EXPECT_FALSE(view.isVisible());
  EXPECT_TRUE(shown.empty());
  // Nothing the run might still say reaches the user.
  EXPECT_EQ(form.ShowMessage("3", "DONE moving"), MessageAnswer::Ok);
  EXPECT_TRUE(shown.empty());
}

TEST(QtCloseBoxes, OpenMessageGoesAwayWhenWindowClosesDuringRun) {
  App();
  QtFormView view;
  frmMain form(view);
  view.show();
  form.SetRunActive(true);
  bool closed = false;
  QTimer::singleShot(50, &view, [&] {
    ASSERT_NE(QApplication::activeModalWidget(), nullptr);
    closed = view.close();
  });
  // Guard: a box that stays open would hang the test; take it down late.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* box = QApplication::activeModalWidget()) box->close();
  });
  guard.start(5000);
  EXPECT_EQ(form.ShowMessage("12", "DONE moving"), MessageAnswer::Ok);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(guard.isActive());
  EXPECT_TRUE(form.IsClosing());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The real boxes, looked at while they are open and then answered.
TEST(QtMessageBoxes, BoxesCarryTitleIconButtonsAndDefault) {
  App();
  QtFormView view;
  frmMain form(view);
  const struct {
    MessageButtons buttons;
    std::optional<std::string> title;
    QString shown_title;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons standard;
    QMessageBox::StandardButton press;
    MessageAnswer answer;
  } cases[] = {
      {MessageButtons::Ok, std::nullopt, "Sorvane", QMessageBox::NoIcon, QMessageBox::Ok,
       QMessageBox::Ok, MessageAnswer::Ok},
      {MessageButtons::YesNo, "Search active ", "Search active ", QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, MessageAnswer::Yes},
      {MessageButtons::YesNo, "Search active ", "Search active ", QMessageBox::Question,
       QMessageBox::Yes | QMessageBox::No, QMessageBox::No, MessageAnswer::No},
  };
  for (const auto& message : cases) {
    bool looked = false;
    QTimer::singleShot(20, &view, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      looked = true;
      EXPECT_EQ(box->windowTitle(), message.shown_title);
      EXPECT_EQ(box->text(), QStringLiteral("line one\nline two"));
      EXPECT_EQ(box->icon(), message.icon);
      EXPECT_EQ(box->standardButtons(), message.standard);
      if (message.buttons == MessageButtons::YesNo) {
        EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
      }
      box->button(message.press)->click();
    });
    EXPECT_EQ(form.ShowMessage("line one\r\nline two", message.title, message.buttons),
              message.answer);
    EXPECT_TRUE(looked);
  }
}

}  // namespace
}  // namespace qor
