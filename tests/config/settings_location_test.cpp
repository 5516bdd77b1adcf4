#include "config/settings_location.h"

#include <gtest/gtest.h>

#include <string>

#include "config/temp_folder.h"

namespace qor {
namespace {

TEST(SettingsLocationTest, AnInstalledCopyKeepsItsSettingsInTheUsersFolder) {
  const std::string user = UserSettingsFilePath();
  if (user.empty()) GTEST_SKIP() << "no user settings folder is known here";
  const struct {
    bool installed;
    bool settings_beside;
    bool expect_beside;
  } cases[] = {
      {false, false, true},
      {false, true, true},
      {true, false, false},
      // One left there by hand, or by an older version, is not read.
      {true, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "installed " << c.installed << ", qro.ini beside " << c.settings_beside);
    testing::TempFolder folder;
    if (c.installed) testing::WriteFile(folder.slash() + kInstalledMarker, "installed\r\n");
    if (c.settings_beside) testing::WriteFile(folder.slash() + "qro.ini", "[Servers]\r\n");
    EXPECT_EQ(SettingsFilePathFor(folder.path()),
              c.expect_beside ? folder.slash() + "qro.ini" : user);
  }
}

}  // namespace
}  // namespace qor
