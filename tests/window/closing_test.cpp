#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <vector>

#include "qt_app.h"

namespace qor {
namespace {

using test::App;

// Records every message and answers from a script.
class WindowClosing : public test::WithApp, public ::testing::Test {
 protected:
  WindowClosing() {
    App();
    window.SetMessagePresenter([this](const MessageRequest& request) {
      shown.push_back(request);
      return answer;
    });
  }
  frmMain window;
  std::vector<MessageRequest> shown;
  MessageAnswer answer = MessageAnswer::No;
};

TEST_F(WindowClosing, MessagesGetTitleAndLineBreaks) {
  const struct {
    std::string prompt;
    std::optional<std::string> title;
    MessageButtons buttons;
    QString text;
    QString shown_title;
  } cases[] = {
      {"7", std::nullopt, MessageButtons::Ok, "7", "Sorvane"},
      {"fail\r\n/out/20240305/", "Target create", MessageButtons::Ok, "fail\n/out/20240305/",
       "Target create"},
      {"a\r\nb\r\nc", "uups   ", MessageButtons::YesNo, "a\nb\nc", "uups   "},
      {"Abort and quit anyway", "Search active ", MessageButtons::YesNo, "Abort and quit anyway",
       "Search active "},
  };
  for (const auto& message : cases) {
    SCOPED_TRACE(message.prompt);
    shown.clear();
    answer = message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
    EXPECT_EQ(window.ShowMessage(message.prompt, message.title, message.buttons), answer);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, message.text);
    EXPECT_EQ(shown[0].title, message.shown_title);
    EXPECT_EQ(shown[0].buttons, message.buttons);
  }
}

TEST_F(WindowClosing, QuestionOnlyForUsersOwnCloseDuringRun) {
  const struct {
    bool run_active;
    CloseReason reason;
    MessageAnswer answer;
    bool asked;
    bool cancelled;
  } cases[] = {
      {false, CloseReason::UserCommand, MessageAnswer::No, false, false},
      {false, CloseReason::Other, MessageAnswer::No, false, false},
      {true, CloseReason::Other, MessageAnswer::No, false, false},
      {true, CloseReason::UserCommand, MessageAnswer::No, true, true},
      {true, CloseReason::UserCommand, MessageAnswer::Yes, true, false},
  };
  for (const auto& close : cases) {
    SCOPED_TRACE(::testing::Message() << close.run_active << static_cast<int>(close.reason)
                                      << static_cast<int>(close.answer));
    shown.clear();
    answer = close.answer;
    window.SetRunActive(close.run_active);
    EXPECT_EQ(window.Form_QueryUnload(close.reason), close.cancelled);
    ASSERT_EQ(shown.size(), close.asked ? 1u : 0u);
    if (close.asked) {
      EXPECT_EQ(shown[0].text, QStringLiteral("Abort and quit anyway"));
      EXPECT_EQ(shown[0].title, QStringLiteral("Search active "));
      EXPECT_EQ(shown[0].buttons, MessageButtons::YesNo);
    }
  }
}

TEST_F(WindowClosing, AnsweringNoTwiceAsksTwiceAndRunGoesOn) {
  window.SetRunActive(true);
  EXPECT_TRUE(window.Form_QueryUnload(CloseReason::UserCommand));
  EXPECT_TRUE(window.Form_QueryUnload(CloseReason::UserCommand));
  EXPECT_EQ(shown.size(), 2u);
  EXPECT_FALSE(window.IsClosing());
  EXPECT_TRUE(window.Yield());
}

TEST_F(WindowClosing, IdleCloseAsksNothing) {
  window.show();
  EXPECT_TRUE(window.close());
  EXPECT_TRUE(shown.empty());
  EXPECT_TRUE(window.IsClosing());
}

TEST_F(WindowClosing, CloseDuringRunMakesTheWalkGiveUpAtItsYield) {
  window.show();
  window.SetRunActive(true);
  EXPECT_TRUE(window.Yield());
  QTimer::singleShot(0, &window, [this] { window.close(); });
  EXPECT_FALSE(window.Yield());
  EXPECT_TRUE(window.IsClosing());
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(shown.empty());
  // Nothing the run might still say reaches the user.
  EXPECT_EQ(window.ShowMessage("3", "DONE moving"), MessageAnswer::Ok);
  EXPECT_TRUE(shown.empty());
}

TEST(WindowClosingBoxes, OpenMessageGoesAwayWhenWindowClosesDuringRun) {
  App();
  frmMain window;
  window.show();
  window.SetRunActive(true);
  bool closed = false;
  QTimer::singleShot(50, &window, [&] {
    ASSERT_NE(QApplication::activeModalWidget(), nullptr);
    closed = window.close();
  });
  // Guard: a box that stays open would hang the test; take it down late.
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] {
    if (auto* box = QApplication::activeModalWidget()) box->close();
  });
  guard.start(5000);
  EXPECT_EQ(window.ShowMessage("12", "DONE moving"), MessageAnswer::Ok);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(guard.isActive());
  EXPECT_TRUE(window.IsClosing());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace qor

namespace qor {
namespace {

// The real boxes, looked at while they are open and then answered.
TEST(WindowMessageBoxes, BoxesCarryTitleIconButtonsAndDefault) {
  test::App();
  frmMain window;
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
    QTimer::singleShot(20, &window, [&] {
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
    EXPECT_EQ(window.ShowMessage("line one\r\nline two", message.title, message.buttons),
              message.answer);
    EXPECT_TRUE(looked);
  }
}

}  // namespace
}  // namespace qor
