// The message boxes and the close question, against a window without a
// toolkit.
#include <gtest/gtest.h>

#include "fake_view.h"
#include "window/frm_main.h"

namespace qor {
namespace {

class FormClosing : public ::testing::Test {
 protected:
  FormClosing() {
    view.answer = [this](const test::FakeView::Message&) { return answer; };
  }
  test::FakeView view;
  frmMain form{view};
  MessageAnswer answer = MessageAnswer::No;
};

TEST_F(FormClosing, MessagesWithoutATitleCarryTheWindowsCaption) {
  const struct {
    std::optional<std::string> title;
    MessageButtons buttons;
    std::string shown_title;
  } cases[] = {
      {std::nullopt, MessageButtons::Ok, "Sorvane"},
      {"Target create", MessageButtons::Ok, "Target create"},
      {"uups   ", MessageButtons::YesNo, "uups   "},
      {"", MessageButtons::Ok, ""},
  };
  for (const auto& message : cases) {
    SCOPED_TRACE(message.shown_title);
    view.messages.clear();
    answer = message.buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
    EXPECT_EQ(form.ShowMessage("fail\r\n/out/", message.title, message.buttons), answer);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].prompt, "fail\r\n/out/");
    EXPECT_EQ(view.messages[0].title, message.shown_title);
    EXPECT_EQ(view.messages[0].buttons, message.buttons);
  }
}

TEST_F(FormClosing, QuestionOnlyForUsersOwnCloseDuringRun) {
  const struct {
    bool run_active;
    CloseReason reason;
    MessageAnswer answer;
    bool asked;
    bool closes;
  } cases[] = {
      {false, CloseReason::UserCommand, MessageAnswer::No, false, true},
      {false, CloseReason::Other, MessageAnswer::No, false, true},
      {true, CloseReason::Other, MessageAnswer::No, false, true},
      {true, CloseReason::UserCommand, MessageAnswer::No, true, false},
      {true, CloseReason::UserCommand, MessageAnswer::Yes, true, true},
  };
  for (const auto& close : cases) {
    SCOPED_TRACE(::testing::Message() << close.run_active << static_cast<int>(close.reason)
                                      << static_cast<int>(close.answer));
    test::FakeView window;
    frmMain closing(window);
    window.answer = [&close](const test::FakeView::Message&) { return close.answer; };
    closing.SetRunActive(close.run_active);
    EXPECT_EQ(window.RequestClose(close.reason), close.closes);
    EXPECT_EQ(closing.IsClosing(), close.closes);
    EXPECT_EQ(closing.Yield(), !close.closes) << "a run gives up at its yield";
    ASSERT_EQ(window.messages.size(), close.asked ? 1u : 0u);
    if (close.asked) {
      EXPECT_EQ(window.messages[0].prompt, "Abort and quit anyway");
      EXPECT_EQ(window.messages[0].title, "Search active ");
      EXPECT_EQ(window.messages[0].buttons, MessageButtons::YesNo);
    }
  }
}

TEST_F(FormClosing, AnsweringNoTwiceAsksTwiceAndRunGoesOn) {
  form.SetRunActive(true);
  EXPECT_FALSE(view.RequestClose(CloseReason::UserCommand));
  EXPECT_FALSE(view.RequestClose(CloseReason::UserCommand));
  EXPECT_EQ(view.messages.size(), 2u);
  EXPECT_FALSE(form.IsClosing());
  EXPECT_TRUE(form.Yield());
}

TEST_F(FormClosing, OnceClosingNothingMoreReachesTheUser) {
  form.SetRunActive(true);
  answer = MessageAnswer::Yes;
  ASSERT_TRUE(view.RequestClose(CloseReason::UserCommand));
  view.messages.clear();
  EXPECT_EQ(form.ShowMessage("3", "DONE moving"), MessageAnswer::Ok);
  EXPECT_EQ(form.ShowMessage("?", "uups", MessageButtons::YesNo), MessageAnswer::No);
  EXPECT_TRUE(view.messages.empty());
}

}  // namespace
}  // namespace qor
