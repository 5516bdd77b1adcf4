#include "config/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/fake_window_inputs.h"

namespace qor {
namespace {

class RecordingMessages : public MessageBoxes {
 public:
  struct Shown {
    std::string prompt;
    std::optional<std::string> title;
    MessageButtons buttons;
  };
  std::vector<Shown> shown;

  MessageAnswer ShowMessage(const std::string& prompt, const std::optional<std::string>& title,
                            MessageButtons buttons) override {
    shown.push_back({prompt, title, buttons});
    return MessageAnswer::Ok;
  }
};

struct CommandLineCase {
  std::string line;
  const char* day;  // what the date boxes show afterwards; they start as S, S, S
  const char* month;
  const char* year;
  bool auto_start;
  bool usage;
};

TEST(ApplyCommandLineTest, ReadsSwitchesAsTheUsageDescribes) {
  const std::string many_digits(400, '9');
  const CommandLineCase cases[] = {
      {"/D15 /M3 /Y2021 auto", "15", "3", "2021", true, false},
      {"/D15 /M3 /Y2021", "15", "3", "2021", false, false},
      {"/D15 /M3 /Y2021 auto ?", "S", "S", "S", false, true},
      {"?", "S", "S", "S", false, true},
      {"/D5?", "S", "S", "S", false, true},
      {"auto", "S", "S", "S", false, false},
      {"/D15", "S", "S", "S", false, false},
      {"auto ", "S", "S", "S", true, false},
      {"/D15 ", "15", "S", "S", false, false},
      {" /D15", "15", "S", "S", false, false},
      {"/D07 x", "7", "S", "S", false, false},
      {"/D x", "0", "S", "S", false, false},
      {"/Dx x", "0", "S", "S", false, false},
      {"/D2.5 x", "2", "S", "S", false, false},
      {"/D3.5 x", "4", "S", "S", false, false},
      {"/D-1 x", "-1", "S", "S", false, false},
      {"/M13 x", "S", "13", "S", false, false},
      {"/d15 AUTO", "S", "S", "S", false, false},
      {"/D15 Auto autox", "15", "S", "S", false, false},
      {"/D15  /M3", "15", "3", "S", false, false},
      {"/D1 /D2", "2", "S", "S", false, false},
      {"/Y2021 /Day9 /Month", "0", "0", "2021", false, false},
      {"", "S", "S", "S", false, false},
      {"   ", "S", "S", "S", false, false},
      {"/D1\t/M2", "S", "S", "S", false, false},
      {"/D99999999999 x", "2147483647", "S", "S", false, false},
      {"/D-99999999999 x", "-2147483648", "S", "S", false, false},
      {"/Y" + many_digits + " x", "S", "S", "2147483647", false, false},
      {"/D2147483647.4 x", "2147483647", "S", "S", false, false},
  };
  for (const CommandLineCase& c : cases) {
    SCOPED_TRACE("command line [" + c.line + "]");
    testing::FakeWindowInputs inputs;
    inputs.date[0] = inputs.date[1] = inputs.date[2] = "S";
    RecordingMessages messages;
    EXPECT_EQ(ApplyCommandLine(c.line, inputs, messages), c.auto_start);
    EXPECT_EQ(inputs.date[0], c.day);
    EXPECT_EQ(inputs.date[1], c.month);
    EXPECT_EQ(inputs.date[2], c.year);
    ASSERT_EQ(messages.shown.size(), c.usage ? 1u : 0u);
    if (c.usage) {
      EXPECT_EQ(messages.shown[0].prompt, "qor /D<day> /M<month> /Y<year> [auto]");
      EXPECT_EQ(messages.shown[0].title, "Usage of QoR");
      EXPECT_EQ(messages.shown[0].buttons, MessageButtons::Ok);
    }
  }
}

TEST(EvalCommandLineTest, SplitsAtEverySingleBlank) {
  const struct {
    const char* line;
    std::vector<std::string> tokens;
  } cases[] = {
      {"a b", {"a", "b"}}, {"/D15  /M3", {"/D15", "", "/M3"}}, {" a", {"", "a"}}, {"a ", {"a", ""}},
      {" ", {"", ""}},     {"a\tb c", {"a\tb", "c"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> sparms = {"old", "tokens", "here"};
    EXPECT_EQ(EvalCommandLine(c.line, sparms), static_cast<int>(c.tokens.size()));
    EXPECT_EQ(sparms, c.tokens);
  }
}

TEST(EvalCommandLineTest, TextWithoutBlankGivesNoTokensAndLeavesThemUntouched) {
  for (const char* line : {"", "auto", "/D15", "a\tb"}) {
    SCOPED_TRACE(line);
    std::vector<std::string> sparms = {"kept"};
    EXPECT_EQ(EvalCommandLine(line, sparms), 0);
    EXPECT_EQ(sparms, std::vector<std::string>{"kept"});
  }
}

}  // namespace
}  // namespace qor
