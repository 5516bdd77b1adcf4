// Start-up with its settings file and command line, the automatic run before
// the window appears, and the settings written when the window closes.
#include <gtest/gtest.h>

#include <optional>

#include "config/settings.h"
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

// The settings file start-up reads, written for one test and put back as it
// was afterwards.
class SettingsFileForTest {
 public:
  explicit SettingsFileForTest(const std::string& text) : path_(SettingsFilePath()) {
    if (Exists(path_)) old_ = ReadFile(path_);
    Write(text);
  }
  ~SettingsFileForTest() {
    if (old_) {
      WriteFile(path_, *old_, 0);
    } else {
      std::remove(path_.c_str());
    }
  }
  const std::string& path() const { return path_; }
  void Write(const std::string& text) { WriteFile(path_, text, 0); }

 private:
  std::string path_;
  std::optional<std::string> old_;
};

// One test, so that no other start-up reads this settings file meanwhile.
TEST(FormStartUp, LoadsAppliesRunsBeforeShowingSavesOnCloseAndKeepsARefusalsFocus) {
  TempFolder root;
  TempFolder work;
  testing::CurrentFolder in_work(work.path());
  const std::string source = root.slash() + "in" + kSep;
  const std::string target = root.slash() + "out" + kSep;
  std::filesystem::create_directory(source);
  std::filesystem::create_directory(target);
  WriteFile(source + "a" + kSep + "x.txt", "x", UtcSeconds(2021, 6, 15));
  WriteFile(source + "y.txt", "y", UtcSeconds(2021, 6, 14));
  SettingsFileForTest settings("[Servers]\r\nSource=" + source + "\r\nTarget=" + target +
                               "\r\nAddDate=0\r\nRekurse=1\r\nDelMov=2\r\nDay=1\r\nMonth=1\r\n"
                               "Year=2000\r\n");

  const struct {
    const char* arguments;
    bool runs;
  } starts[] = {{"/D15 /M6 /Y2021", false}, {"/D15 /M6 /Y2021 auto", true}};
  for (const auto& start : starts) {
    SCOPED_TRACE(start.arguments);
    test::FakeView view;
    frmMain form(view);
    // What start-up has done by the time the automatic run reports.
    struct AtMessage {
      bool shown;
      std::vector<int> icons;
      std::string day;
      bool recurse;
    };
    std::optional<AtMessage> at_message;
    view.answer = [&](const test::FakeView::Message& message) {
      at_message = AtMessage{view.shown, view.icons, form.DateText(kDayBox), form.Params().Recurse};
      EXPECT_EQ(message.title, "DONE moving");
      return MessageAnswer::Ok;
    };

    form.Form_Load(start.arguments);

    EXPECT_EQ(form.PathText(kSourceBox), source);
    EXPECT_EQ(form.CheckValue(CheckBox::DelFolderMove), 2);
    EXPECT_FALSE(form.Params().DeleteEmpty);
    EXPECT_EQ(form.DateText(kDayBox), "15");
    EXPECT_EQ(form.CurrentIconFrame(), 1);
    EXPECT_FALSE(view.shown);
    ASSERT_EQ(at_message.has_value(), start.runs);
    EXPECT_EQ(Exists(target + "a" + kSep + "x.txt"), start.runs);
    if (start.runs) {
      EXPECT_FALSE(at_message->shown);
      EXPECT_EQ(at_message->icons, (std::vector<int>{2, 1})) << "the unlit lamp before the run";
      EXPECT_EQ(at_message->day, "15");
      EXPECT_TRUE(at_message->recurse);
      EXPECT_EQ(view.State(Control::lblNumber1).text, "1");
      EXPECT_FALSE(form.IsRunActive());
    }

    form.ShowAfterStartUp();
    EXPECT_TRUE(view.shown);
    EXPECT_EQ(view.focus, Control::btnGo);

    // An idle close asks nothing and keeps the inputs for the next start.
    form.SetDateText(kMonthBox, "7");
    view.messages.clear();
    EXPECT_TRUE(view.RequestClose(CloseReason::UserCommand));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(ReadSetting(settings.path(), "Month"), "7");
    EXPECT_EQ(ReadSetting(settings.path(), "DelMov"), "2");
  }

  // An automatic run that a check refuses leaves the focus on the box it
  // names, for when the window appears.
  settings.Write("[Servers]\r\nSource=\r\n");
  test::FakeView view;
  frmMain form(view);

  form.Form_Load("/D15 /M6 /Y2021 auto");

  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0].prompt, "No Source path given");
  EXPECT_FALSE(view.focus.has_value());
  form.ShowAfterStartUp();
  EXPECT_EQ(view.focus, Control::txtPath0);
}

}  // namespace
}  // namespace qor
