#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "config/fake_window_inputs.h"
#include "config/settings.h"
#include "config/temp_folder.h"
#include "platform/files.h"

namespace qor {
namespace {

using testing::FakeWindowInputs;
using testing::ReadFile;
using testing::WriteFile;

FakeWindowInputs TypicalInputs() {
  FakeWindowInputs inputs;
  inputs.path[0] = "/in/";
  inputs.path[1] = "/out/";
  inputs.check[static_cast<int>(CheckBox::AddDateTarget)] = 1;
  inputs.check[static_cast<int>(CheckBox::Rekurse)] = 2;
  inputs.check[static_cast<int>(CheckBox::DelFolderMove)] = 0;
  inputs.date[0] = "3x";
  inputs.date[1] = "06";
  inputs.date[2] = "2021";
  return inputs;
}

class SaveSettingsTest : public ::testing::Test {
 protected:
  testing::TempFolder folder_;
  std::string file_ = folder_.path() + "/qro.ini";
};

TEST_F(SaveSettingsTest, NewFileHoldsTheEightKeysInOrderAsTyped) {
  FakeWindowInputs inputs = TypicalInputs();
  SaveSettings(inputs, file_);
  EXPECT_EQ(ReadFile(file_),
            "[Servers]\r\nSource=/in/\r\nTarget=/out/\r\nAddDate=1\r\nRekurse=2\r\nDelMov=0\r\n"
            "Day=3x\r\nMonth=06\r\nYear=2021\r\n");
}

TEST_F(SaveSettingsTest, ExistingFileKeepsItsOtherLinesAndKeyPlaces) {
  WriteFile(file_,
            "; hand made\n[Window]\nLeft=10\n\n[servers]\nyear=1999\nSOURCE=/old/\nExtra=x\n");
  FakeWindowInputs inputs = TypicalInputs();
  SaveSettings(inputs, file_);
  EXPECT_EQ(ReadFile(file_),
            "; hand made\r\n[Window]\r\nLeft=10\r\n\r\n[servers]\r\nyear=2021\r\nSOURCE=/in/\r\n"
            "Extra=x\r\nTarget=/out/\r\nAddDate=1\r\nRekurse=2\r\nDelMov=0\r\nDay=3x\r\n"
            "Month=06\r\n");
}

TEST_F(SaveSettingsTest, SavedInputsComeBackAtTheNextStart) {
  FakeWindowInputs saved = TypicalInputs();
  saved.path[0] = "/" + std::string(300, 'a') + "/";
  saved.path[1] = "/with blanks and = signs/";
  SaveSettings(saved, file_);
  FakeWindowInputs loaded;
  LoadSettings(loaded, file_);
  EXPECT_EQ(loaded.path[0], saved.path[0]);
  EXPECT_EQ(loaded.path[1], saved.path[1]);
  for (int box = 0; box < 3; ++box) EXPECT_EQ(loaded.check[box], saved.check[box]);
  EXPECT_EQ(loaded.date[0], "3");
  EXPECT_EQ(loaded.date[1], "6");
  EXPECT_EQ(loaded.date[2], "2021");
}

TEST_F(SaveSettingsTest, CreatesTheSettingsFolderWhenMissing) {
  const std::string sep(1, platform::kSeparator);
  const std::string file = folder_.path() + sep + "config" + sep + "qor" + sep + "qro.ini";
  FakeWindowInputs inputs = TypicalInputs();
  SaveSettings(inputs, file);
  EXPECT_EQ(ReadSetting(file, "Target"), "/out/");
}

TEST_F(SaveSettingsTest, UnwritablePlaceIsLeftAloneWithoutComplaint) {
  WriteFile(folder_.path() + "/plain", "x");
  FakeWindowInputs inputs = TypicalInputs();
  SaveSettings(inputs, folder_.path() + "/plain/qro.ini");
  EXPECT_EQ(ReadFile(folder_.path() + "/plain"), "x");
}

TEST_F(SaveSettingsTest, FolderTextWithLineBreakCannotSetOtherKeys) {
  WriteFile(file_, "[Servers]\r\nSource=/old/\r\n");
  FakeWindowInputs inputs = TypicalInputs();
  inputs.path[0] = "/in\nRekurse=1\n[Other]";
  SaveSettings(inputs, file_);
  EXPECT_EQ(ReadSetting(file_, "Source"), "/old/");
  EXPECT_EQ(ReadSetting(file_, "Rekurse"), "2");
  EXPECT_EQ(ReadSetting(file_, "Target"), "/out/");
}

}  // namespace
}  // namespace qor
