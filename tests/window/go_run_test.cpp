// Whole runs started with the GO button, messages read and answered by the
// tests, the window's events delivered at the run's yields.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <vector>

#include "fake_view.h"
#include "support/temp_tree.h"
#include "window/frm_main.h"

namespace qor {
namespace {

using test::kSep;

using testing::Exists;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

// The user's files, not the run's journal.
int CountFiles(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    count +=
        entry.is_regular_file() && !entry.path().filename().string().starts_with(".qor-") ? 1 : 0;
  }
  return count;
}

std::size_t CountLines(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  return lines;
}

using Message = test::FakeView::Message;

class GoRun : public ::testing::Test {
 protected:
  GoRun() {
    view.answer = [this](const Message& message) {
      if (on_message) return on_message(message);
      return message.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    };
  }
  void SetUp() override {
    source_ = root_.slash() + "in" + kSep;
    target_ = root_.slash() + "out" + kSep;
    std::filesystem::create_directory(source_);
    std::filesystem::create_directory(target_);
    window.SetPathText(kSourceBox, source_);
    window.SetPathText(kTargetBox, target_);
    window.SetDateText(kDayBox, "15");
    window.SetDateText(kMonthBox, "6");
    window.SetDateText(kYearBox, "2021");
    window.ShowAfterStartUp();
  }

  void PressGo() { view.Click(Control::btnGo); }
  std::string Counter(int index) { return view.State(CounterLabel(index)).text; }
  std::string LogPath() const { return work_.slash() + "FileFind20210615.txt"; }

  test::FakeView view;
  frmMain window{view};
  std::vector<Message>& shown = view.messages;
  std::function<MessageAnswer(const Message&)> on_message;
  TempFolder root_;
  TempFolder work_;
  testing::CurrentFolder in_work_{work_.path()};
  std::string source_;
  std::string target_;
};

TEST_F(GoRun, MovesIntoTheSameRelativeFoldersLogsAndReports) {
  window.SetCheckValue(CheckBox::Rekurse, 1);
  WriteFile(source_ + "top.txt", std::string(1536, 't'), UtcSeconds(2021, 6, 15));
  WriteFile(source_ + "a" + kSep + "b" + kSep + "deep.txt", "deep", UtcSeconds(2021, 6, 15));
  WriteFile(source_ + "a" + kSep + "stay.txt", "stay", UtcSeconds(2021, 6, 14));

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt, "2");
  EXPECT_EQ(shown[0].title, "DONE moving");
  EXPECT_EQ(ReadFile(target_ + "a" + kSep + "b" + kSep + "deep.txt"), "deep");
  EXPECT_EQ(ReadFile(target_ + "top.txt").size(), 1536u);
  EXPECT_TRUE(Exists(source_ + "a" + kSep + "stay.txt"));
  const std::string log = ReadFile(LogPath());
  EXPECT_EQ(log.size(),
            ("top.txt      MOVED to   " + target_ + "\r\n").size() +
                ("a" + kSep + "b" + kSep + "deep.txt      MOVED to   " + target_ + "\r\n").size());
  EXPECT_NE(log.find("a" + kSep + "b" + kSep + "deep.txt      MOVED to   " + target_ + "\r\n"),
            std::string::npos);
  // in: . .. top.txt a; a: . .. stay.txt b; b: . .. deep.txt
  EXPECT_EQ(Counter(0), "11");
  EXPECT_EQ(Counter(1), "2");
  EXPECT_EQ(Counter(2), "2");
  EXPECT_TRUE(view.State(Control::btnGo).enabled);
  EXPECT_EQ(view.State(Control::btnGo).text, "GO");
  EXPECT_FALSE(window.IsRunActive());
  EXPECT_FALSE(view.timer_running);
}

TEST_F(GoRun, LocksForTheWalkAndUnlocksBeforeTheClosingMessage) {
  WriteFile(source_ + "x.txt", "x", UtcSeconds(2021, 6, 15));
  window.SetCheckValue(CheckBox::Rekurse, 1);
  view.State(Control::lblNumber0).text = "99";
  // What the window looks like at every yield of the walk and while the
  // closing message is open.
  struct Look {
    bool go_enabled;
    std::string go_caption;
    bool options_enabled;
    bool boxes_read_only;
    bool timer_running;
    bool run_active;
  };
  const auto look = [this] {
    return Look{view.State(Control::btnGo).enabled,
                view.State(Control::btnGo).text,
                view.State(Control::optEqual2).enabled && view.State(Control::chkrekurse).enabled,
                view.State(Control::txtPath0).read_only && view.State(Control::txtDate2).read_only,
                view.timer_running,
                window.IsRunActive()};
  };
  std::vector<Look> during_walk;
  std::vector<std::string> first_counter;
  view.on_events = [&] {
    during_walk.push_back(look());
    first_counter.push_back(Counter(0));
  };
  std::optional<Look> at_message;
  on_message = [&](const Message&) {
    at_message = look();
    return MessageAnswer::Ok;
  };

  PressGo();

  ASSERT_FALSE(during_walk.empty());
  for (const Look& seen : during_walk) {
    EXPECT_FALSE(seen.go_enabled);
    EXPECT_EQ(seen.go_caption, "working...");
    EXPECT_FALSE(seen.options_enabled);
    EXPECT_TRUE(seen.boxes_read_only);
    EXPECT_TRUE(seen.timer_running);
    EXPECT_TRUE(seen.run_active);
  }
  EXPECT_NE(first_counter.front(), "99") << "counters start from 0";
  ASSERT_TRUE(at_message.has_value());
  EXPECT_TRUE(at_message->go_enabled);
  EXPECT_EQ(at_message->go_caption, "GO");
  EXPECT_TRUE(at_message->options_enabled);
  EXPECT_FALSE(at_message->boxes_read_only);
  EXPECT_FALSE(at_message->timer_running);
  EXPECT_TRUE(at_message->run_active) << "the run lasts until its message is answered";
  EXPECT_FALSE(window.IsRunActive());
}

TEST_F(GoRun, TheDateFolderIsAddedWhenTickedOrGreyed) {
  for (const int value : {1, 2}) {
    SCOPED_TRACE(value);
    shown.clear();
    window.SetPathText(kTargetBox, target_);
    window.SetCheckValue(CheckBox::AddDateTarget, value);
    const std::string name = "f" + std::to_string(value) + ".txt";
    WriteFile(source_ + name, "x", UtcSeconds(2021, 6, 15));

    PressGo();

    EXPECT_EQ(ReadFile(target_ + "20210615" + kSep + name), "x");
    // A second run with the same date writes the log's name; the first
    // run's log is kept beside it.
    EXPECT_EQ(ReadFile(LogPath()),
              name + "      MOVED to   " + target_ + "20210615" + kSep + "\r\n");
  }
  const std::string first = LogPath().substr(0, LogPath().size() - 4) + "-2.txt";
  EXPECT_EQ(ReadFile(first), "f1.txt      MOVED to   " + target_ + "20210615" + kSep + "\r\n");
}

TEST_F(GoRun, ARefusedStartChangesNothing) {
  WriteFile(source_ + "x.txt", "x", UtcSeconds(2021, 6, 15));
  PressGo();  // a first run leaves counters behind
  ASSERT_EQ(Counter(0), "3");
  WriteFile(source_ + "y.txt", "y", UtcSeconds(2021, 6, 15));
  ::unlink(LogPath().c_str());
  shown.clear();
  window.SetDateText(kMonthBox, "");

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt, "no valid date given");
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_TRUE(Exists(source_ + "y.txt"));
  EXPECT_EQ(Counter(0), "3");
  EXPECT_TRUE(view.State(Control::btnGo).enabled);
  EXPECT_FALSE(window.IsRunActive());
}

TEST_F(GoRun, ATargetFolderThatCannotBeMadeIsReported) {
  WriteFile(target_ + "20210615", "a file where the date folder would go", 0);
  WriteFile(source_ + "x.txt", "x", UtcSeconds(2021, 6, 15));
  window.SetCheckValue(CheckBox::AddDateTarget, 1);

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt, "fail\r\n" + target_ + "20210615" + kSep);
  EXPECT_EQ(shown[0].title, "Target create");
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_TRUE(Exists(source_ + "x.txt"));
  EXPECT_TRUE(view.State(Control::btnGo).enabled);
}

TEST_F(GoRun, MovesThatFailAreCountedAndReported) {
  for (const char* name : {"a", "b", "c"})
    WriteFile(source_ + name, "new", UtcSeconds(2021, 6, 15));
  WriteFile(target_ + "a", "old", 0);

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].prompt, "3\r\n1 of them could not be moved; see " + LogPath());
  EXPECT_EQ(ReadFile(target_ + "a"), "old");
#ifdef _WIN32
  const std::string taken = platform::ErrorText(183);  // ERROR_ALREADY_EXISTS
#else
  const std::string taken = "File exists";
#endif
  EXPECT_NE(ReadFile(LogPath()).find("a      NOT MOVED: " + taken + "\r\n"), std::string::npos);
}

TEST_F(GoRun, ClosingDuringARunAnsweredNoGoesOnAndYesStopsAtOnce) {
  const int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(source_ + "f" + std::to_string(i), "x", UtcSeconds(2021, 6, 15));
  }
  std::deque<MessageAnswer> answers = {MessageAnswer::No, MessageAnswer::Yes};
  int moved_at_yes = -1;
  on_message = [&](const Message& message) {
    if (message.title != "Search active ") return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    if (answer == MessageAnswer::Yes) moved_at_yes = CountFiles(target_);
    return answer;
  };
  // The user presses the close box while the walk waits at its 2nd and 12th
  // yield (about 500 entries in: the first batch of moves is done by then).
  int yields = 0;
  view.on_events = [&] {
    ++yields;
    if (yields == 2 || yields == 12) view.RequestClose(CloseReason::UserCommand);
  };

  PressGo();

  ASSERT_EQ(shown.size(), 2u) << "the question twice, no closing message";
  EXPECT_EQ(shown[0].title, "Search active ");
  EXPECT_EQ(shown[1].title, "Search active ");
  EXPECT_TRUE(window.IsClosing());
  ASSERT_GT(moved_at_yes, 0) << "the run went on after No";
  EXPECT_EQ(CountFiles(target_), moved_at_yes) << "no file moved after Yes";
  EXPECT_EQ(CountFiles(source_) + moved_at_yes, kFiles);
  const std::string log = ReadFile(LogPath());
  EXPECT_EQ(CountLines(log), static_cast<std::size_t>(moved_at_yes));
  EXPECT_EQ(log.substr(log.size() - 2), "\r\n");
  EXPECT_TRUE(window.IsRunActive()) << "an abandoned run touches the window no more";
}

}  // namespace
}  // namespace qor
