#include "config/settings_location.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "config/temp_folder.h"

namespace qor {
namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SettingsLocationTest, BesideTheProgramWhenThatFolderCanHoldIt) {
  testing::TempFolder folder;
  ScopedVariable config("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(SettingsFilePathFor(folder.path()), folder.path() + "/qro.ini");
  EXPECT_EQ(SettingsFilePathFor(folder.path() + "/"), folder.path() + "/qro.ini");
}

TEST(SettingsLocationTest, UserSettingsFolderWhenTheProgramsFolderCannotBeWritten) {
  testing::TempFolder folder;
  testing::WriteFile(folder.path() + "/plain", "x");
  // No file can ever be made below a regular file, not even by root.
  const std::string unwritable = folder.path() + "/plain/bin";
  const struct {
    const char* xdg_config_home;
    const char* home;
    const char* expected;
  } cases[] = {
      {"/cfg", "/home/u", "/cfg/qor/qro.ini"},
      {"/cfg/", "/home/u", "/cfg/qor/qro.ini"},
      {nullptr, "/home/u", "/home/u/.config/qor/qro.ini"},
      {"", "/home/u", "/home/u/.config/qor/qro.ini"},
      {"relative", "/home/u", "/home/u/.config/qor/qro.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.xdg_config_home ? c.xdg_config_home : "(unset)");
    ScopedVariable config("XDG_CONFIG_HOME", c.xdg_config_home);
    ScopedVariable home("HOME", c.home);
    EXPECT_EQ(SettingsFilePathFor(unwritable), c.expected);
  }
}

}  // namespace
}  // namespace qor
