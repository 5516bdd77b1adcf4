#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/fake_window_inputs.h"
#include "config/settings.h"
#include "config/temp_folder.h"

namespace qor {
namespace {

using testing::FakeWindowInputs;

class LoadSettingsTest : public ::testing::Test {
 protected:
  std::string File(const std::string& content) {
    testing::WriteFile(file_, content);
    return file_;
  }

  testing::TempFolder folder_;
  std::string file_ = folder_.path() + "/qro.ini";
};

TEST_F(LoadSettingsTest, ClearsCheckBoxesFirstThenFillsInputsInOrder) {
  FakeWindowInputs inputs;
  LoadSettings(inputs, File("[Servers]\r\nYear=2021\r\nMonth=6\r\nDay=15\r\nDelMov=2\r\n"
                            "Rekurse=1\r\nAddDate=1\r\nTarget=/out/\r\nSource=/in/\r\n"));
  const std::vector<std::string> expected = {"check Rekurse 0", "check DelMov 0", "check AddDate 0",
                                             "path 0",          "path 1",         "check AddDate 1",
                                             "check Rekurse 1", "check DelMov 2", "date 0 15",
                                             "date 1 6",        "date 2 2021"};
  EXPECT_EQ(inputs.calls, expected);
  EXPECT_EQ(inputs.path[0], "/in/");
  EXPECT_EQ(inputs.path[1], "/out/");
}

TEST_F(LoadSettingsTest, MissingFileGivesEmptyFoldersUncheckedBoxesAndZeroDates) {
  FakeWindowInputs inputs;
  inputs.path[0] = "/was/";
  inputs.date[1] = "9";
  inputs.check[1] = 1;
  inputs.recurse = true;
  LoadSettings(inputs, folder_.path() + "/missing.ini");
  EXPECT_EQ(inputs.path[0], "");
  EXPECT_EQ(inputs.path[1], "");
  for (int box = 0; box < 3; ++box) {
    EXPECT_EQ(inputs.check[box], 0);
    EXPECT_EQ(inputs.date[box], "0");
  }
  EXPECT_FALSE(inputs.recurse);
}

TEST_F(LoadSettingsTest, CheckBoxValueIsRoundedHalfToEvenAndOnlyZeroOneOrTwo) {
  const struct {
    const char* stored;
    int value;
  } cases[] = {
      {"0", 0},  {"1", 1},   {"2", 2},   {"1.5", 2},   {"0.5", 0},    {"2.5", 2},
      {"1x", 1}, {" 1 ", 1}, {"", 0},    {"abc", 0},   {"-0.4", 0},   {"7", 0},
      {"-1", 0}, {"3", 0},   {"2.6", 0}, {"65537", 0}, {"-65535", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    FakeWindowInputs inputs;
    const std::string value = c.stored;
    LoadSettings(inputs, File("[Servers]\r\nAddDate=" + value + "\r\nRekurse=" + value +
                              "\r\nDelMov=" + value + "\r\n"));
    for (int box = 0; box < 3; ++box) EXPECT_EQ(inputs.check[box], c.value);
  }
}

TEST_F(LoadSettingsTest, FlagsAgreeWithTheirBoxesWhateverTheBoxesHeldBefore) {
  for (int before : {0, 1, 2}) {
    for (const char* stored : {"0", "1", "2"}) {
      SCOPED_TRACE(std::string("before ") + std::to_string(before) + ", stored " + stored);
      FakeWindowInputs inputs;
      inputs.check[static_cast<int>(CheckBox::Rekurse)] = before;
      inputs.check[static_cast<int>(CheckBox::DelFolderMove)] = before;
      inputs.recurse = inputs.delete_empty = before == 1;
      LoadSettings(inputs, File(std::string("[Servers]\r\nRekurse=") + stored +
                                "\r\nDelMov=" + stored + "\r\n"));
      EXPECT_EQ(inputs.recurse, std::string(stored) == "1");
      EXPECT_EQ(inputs.delete_empty, std::string(stored) == "1");
    }
  }
}

TEST_F(LoadSettingsTest, DateTextIsTheStoredNumberWrittenBack) {
  // The tests run in the C locale, whose decimal point is ".".
  const struct {
    const char* stored;
    const char* shown;
  } cases[] = {
      {"07", "7"},   {"12abc", "12"}, {"abc", "0"},     {"", "0"},      {"3x", "3"},
      {"-3", "-3"},  {"-0", "0"},     {"2021", "2021"}, {"2.5", "2.5"}, {"15.0", "15"},
      {"1 5", "15"}, {"+4", "4"},     {".5", "0.5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    FakeWindowInputs inputs;
    const std::string value = c.stored;
    LoadSettings(inputs, File("[Servers]\r\nDay=" + value + "\r\nMonth=" + value +
                              "\r\nYear=" + value + "\r\n"));
    for (int box = 0; box < 3; ++box) EXPECT_EQ(inputs.date[box], c.shown);
  }
}

TEST_F(LoadSettingsTest, FolderTextLongerThan254ReadsBackWhole) {
  const std::string source = "/" + std::string(254, 's') + "/deeper/";
  FakeWindowInputs inputs;
  LoadSettings(inputs, File("[Servers]\r\nSource=" + source + "\r\n"));
  EXPECT_EQ(inputs.path[0], source);
  EXPECT_EQ(ReadSetting(file_, "Source"), source);
}

}  // namespace
}  // namespace qor
