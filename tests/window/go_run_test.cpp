// Whole runs started with the GO button of the real window, messages read and
// answered by the tests.
#include <gtest/gtest.h>
#include <qpa/qwindowsysteminterface.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QPushButton>
#include <QTimer>
#include <deque>
#include <vector>

#include "qt_app.h"
#include "support/temp_tree.h"

namespace qor {
namespace {

using testing::Exists;
using testing::ReadFile;
using testing::TempFolder;
using testing::UtcSeconds;
using testing::WriteFile;

int CountFiles(const std::string& folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    count += entry.is_regular_file() ? 1 : 0;
  }
  return count;
}

std::size_t CountLines(const std::string& text) {
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  return lines;
}

class GoRun : public test::WithApp, public ::testing::Test {
 protected:
  GoRun() {
    window.SetMessagePresenter([this](const MessageRequest& request) {
      shown.push_back(request);
      if (on_message) return on_message(request);
      return request.buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
    });
  }
  void SetUp() override {
    source_ = root_.slash() + "in/";
    target_ = root_.slash() + "out/";
    ::mkdir(source_.c_str(), 0777);
    ::mkdir(target_.c_str(), 0777);
    window.SetPathText(kSourceBox, source_);
    window.SetPathText(kTargetBox, target_);
    window.SetDateText(kDayBox, "15");
    window.SetDateText(kMonthBox, "6");
    window.SetDateText(kYearBox, "2021");
    window.show();
  }

  void PressGo() { test::Find<QPushButton>(window, "btnGo").click(); }
  QString Counter(int index) {
    return test::Find<QLabel>(window, ("lblNumber(" + std::to_string(index) + ")").c_str()).text();
  }
  std::string LogPath() const { return work_.slash() + "FileFind20210615.txt"; }

  frmMain window;
  std::vector<MessageRequest> shown;
  std::function<MessageAnswer(const MessageRequest&)> on_message;
  TempFolder root_;
  TempFolder work_;
  testing::CurrentFolder in_work_{work_.path()};
  std::string source_;
  std::string target_;
};

TEST_F(GoRun, MovesIntoTheSameRelativeFoldersLogsAndReports) {
  window.SetCheckValue(CheckBox::Rekurse, 1);
  WriteFile(source_ + "top.txt", std::string(1536, 't'), UtcSeconds(2021, 6, 15));
  WriteFile(source_ + "a/b/deep.txt", "deep", UtcSeconds(2021, 6, 15));
  WriteFile(source_ + "a/stay.txt", "stay", UtcSeconds(2021, 6, 14));

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QStringLiteral("2"));
  EXPECT_EQ(shown[0].title, QStringLiteral("DONE moving"));
  EXPECT_EQ(ReadFile(target_ + "a/b/deep.txt"), "deep");
  EXPECT_EQ(ReadFile(target_ + "top.txt").size(), 1536u);
  EXPECT_TRUE(Exists(source_ + "a/stay.txt"));
  const std::string log = ReadFile(LogPath());
  EXPECT_EQ(log.size(), ("top.txt      MOVED to   " + target_ + "\r\n").size() +
                            ("a/b/deep.txt      MOVED to   " + target_ + "\r\n").size());
  EXPECT_NE(log.find("a/b/deep.txt      MOVED to   " + target_ + "\r\n"), std::string::npos);
  // in: . .. top.txt a; a: . .. stay.txt b; b: . .. deep.txt
  EXPECT_EQ(Counter(0), QStringLiteral("11"));
  EXPECT_EQ(Counter(1), QStringLiteral("2"));
  EXPECT_EQ(Counter(2), QStringLiteral("2"));
  auto& go = test::Find<QPushButton>(window, "btnGo");
  EXPECT_TRUE(go.isEnabled());
  EXPECT_EQ(go.text(), QStringLiteral("GO"));
  EXPECT_FALSE(window.IsRunActive());
  EXPECT_FALSE(window.IsTimerRunning());
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

    EXPECT_EQ(ReadFile(target_ + "20210615/" + name), "x");
    // A second run with the same date replaces the log of the first.
    EXPECT_EQ(ReadFile(LogPath()), name + "      MOVED to   " + target_ + "20210615/\r\n");
  }
}

TEST_F(GoRun, ARefusedStartChangesNothing) {
  WriteFile(source_ + "x.txt", "x", UtcSeconds(2021, 6, 15));
  PressGo();  // a first run leaves counters behind
  ASSERT_EQ(Counter(0), QStringLiteral("3"));
  WriteFile(source_ + "y.txt", "y", UtcSeconds(2021, 6, 15));
  ::unlink(LogPath().c_str());
  shown.clear();
  window.SetDateText(kMonthBox, "");

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QStringLiteral("no valid date given"));
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_TRUE(Exists(source_ + "y.txt"));
  EXPECT_EQ(Counter(0), QStringLiteral("3"));
  EXPECT_TRUE(test::Find<QPushButton>(window, "btnGo").isEnabled());
  EXPECT_FALSE(window.IsRunActive());
}

TEST_F(GoRun, ATargetFolderThatCannotBeMadeIsReported) {
  WriteFile(target_ + "20210615", "a file where the date folder would go", 0);
  WriteFile(source_ + "x.txt", "x", UtcSeconds(2021, 6, 15));
  window.SetCheckValue(CheckBox::AddDateTarget, 1);

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, QString::fromStdString("fail\n" + target_ + "20210615/"));
  EXPECT_EQ(shown[0].title, QStringLiteral("Target create"));
  EXPECT_FALSE(Exists(LogPath()));
  EXPECT_TRUE(Exists(source_ + "x.txt"));
  EXPECT_TRUE(test::Find<QPushButton>(window, "btnGo").isEnabled());
}

TEST_F(GoRun, MovesThatFailAreCountedAndReported) {
  for (const char* name : {"a", "b", "c"})
    WriteFile(source_ + name, "new", UtcSeconds(2021, 6, 15));
  WriteFile(target_ + "a", "old", 0);

  PressGo();

  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text,
            QStringLiteral("3\n1 of them could not be moved; see FileFind20210615.txt"));
  EXPECT_EQ(ReadFile(target_ + "a"), "old");
  EXPECT_NE(ReadFile(LogPath()).find("a      NOT MOVED: File exists\r\n"), std::string::npos);
}

// Asks the window to close the way the window system does when the user
// presses the close box.
void UserCloses(frmMain& window) {
  QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(
      window.windowHandle());
}

TEST_F(GoRun, ClosingDuringARunAnsweredNoGoesOnAndYesStopsAtOnce) {
  const int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) {
    WriteFile(source_ + "f" + std::to_string(i), "x", UtcSeconds(2021, 6, 15));
  }
  std::deque<MessageAnswer> answers = {MessageAnswer::No, MessageAnswer::Yes};
  int moved_at_yes = -1;
  on_message = [&](const MessageRequest& request) {
    if (request.title != QStringLiteral("Search active ")) return MessageAnswer::Ok;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    if (answer == MessageAnswer::Yes) moved_at_yes = CountFiles(target_);
    return answer;
  };
  // Each yield of the walk lets this timer fire once.
  int ticks = 0;
  QTimer ticker;
  ticker.setInterval(0);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    ++ticks;
    if (ticks == 2 || ticks == 6) UserCloses(window);
    if (ticks == 6) ticker.stop();
  });
  ticker.start();

  PressGo();

  ASSERT_EQ(shown.size(), 2u) << "the question twice, no closing message";
  EXPECT_EQ(shown[0].title, QStringLiteral("Search active "));
  EXPECT_EQ(shown[1].title, QStringLiteral("Search active "));
  EXPECT_TRUE(window.IsClosing());
  EXPECT_FALSE(window.isVisible());
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
