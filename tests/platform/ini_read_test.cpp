#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/ini.h"
#include "platform/ini_text.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

class IniReadTest : public ::testing::Test {
 protected:
  std::string WriteFile(const std::string& content) {
    const std::string path = folder_ + "/qro.ini";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  testing::TempFolder temp_;
  std::string folder_ = temp_.path();
};

struct ReadCase {
  const char* name;
  std::string content;
  const char* section;
  const char* key;
  std::optional<std::string> expected;
};

TEST_F(IniReadTest, FindsValuesByTheWindowsRules) {
  const std::string long_value(1000, 'p');
  const ReadCase cases[] = {
      {"crlf", "[Servers]\r\nSource=/in/\r\nTarget=/out/\r\n", "Servers", "Target", "/out/"},
      {"lf only", "[Servers]\nSource=/in/\nTarget=/out/\n", "Servers", "Source", "/in/"},
      {"no final line end", "[Servers]\r\nDay=15", "Servers", "Day", "15"},
      {"section case", "[SERVERS]\r\nDay=1\r\n", "Servers", "Day", "1"},
      {"key case", "[Servers]\r\nrEkUrSe=1\r\n", "Servers", "Rekurse", "1"},
      {"blanks around value", "[Servers]\r\nSource = \t /a b/ \t\r\n", "Servers", "Source",
       "/a b/"},
      {"blanks before lines", "  [Servers]\r\n\tDay=4\r\n", "Servers", "Day", "4"},
      {"equals inside value", "[Servers]\r\nSource=/a=b/\r\n", "Servers", "Source", "/a=b/"},
      {"empty value", "[Servers]\r\nSource=\r\n", "Servers", "Source", ""},
      {"value longer than 254", "[Servers]\r\nSource=" + long_value + "\r\n", "Servers", "Source",
       long_value},
      {"byte-order mark", "\xEF\xBB\xBF[Servers]\r\nDay=2\r\n", "Servers", "Day", "2"},
      {"key of another section", "[Other]\r\nDay=1\r\n[Servers]\r\nMonth=2\r\n", "Servers", "Day",
       std::nullopt},
      {"key after another section", "[Servers]\r\nMonth=2\r\n[Other]\r\nDay=1\r\n", "Servers",
       "Day", std::nullopt},
      {"key before any section", "Day=1\r\n[Servers]\r\n", "Servers", "Day", std::nullopt},
      {"longer section name", "[Servers2]\r\nDay=1\r\n", "Servers", "Day", std::nullopt},
      {"longer key name", "[Servers]\r\nDayX=1\r\n", "Servers", "Day", std::nullopt},
      {"comment line", "[Servers]\r\n;Day=1\r\n#Day=2\r\n", "Servers", "Day", std::nullopt},
      {"line without equals", "[Servers]\r\nDay\r\n", "Servers", "Day", std::nullopt},
      {"first of two keys", "[Servers]\r\nDay=1\r\nday=2\r\n", "Servers", "Day", "1"},
      {"first of two sections", "[Servers]\r\nDay=1\r\n[servers]\r\nMonth=2\r\n", "Servers",
       "Month", std::nullopt},
      {"empty file", "", "Servers", "Day", std::nullopt},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadIniValue(WriteFile(c.content), c.section, c.key), c.expected);
  }
}

TEST_F(IniReadTest, FileThatCannotBeReadReadsAsMissingKeys) {
  std::ofstream(folder_ + "/plain") << "x";
  std::filesystem::create_directory(folder_ + "/folder");
  const std::string paths[] = {folder_ + "/missing.ini", folder_ + "/plain/qro.ini",
                               folder_ + "/folder"};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ReadIniValue(path, "Servers", "Source"), std::nullopt);
  }
}

}  // namespace
}  // namespace qor::platform

namespace qor::platform {
namespace {

// A folder name may end in a blank, and a typed text may carry quotes: every
// such value must read back exactly as it was stored.
TEST(IniValueTest, EveryStorableValueReadsBackExactly) {
  const std::string values[] = {"/data/x ",    " /lead", "\t/tab\t", "\"quoted\"", "\"",    "\"\"",
                                "a \"mid\" b", "plain",  "",         " ",          "\"half"};
  for (const std::string& value : values) {
    SCOPED_TRACE("[" + value + "]");
    std::vector<std::string> lines = SplitIniLines("[Servers]\r\nSource=old\r\n");
    ASSERT_TRUE(SetIniValue(lines, "Servers", "Source", value));
    const std::vector<std::string> reread = SplitIniLines(JoinIniLines(lines));
    EXPECT_EQ(FindIniValue(reread, "Servers", "Source"), value);
  }
}

TEST(IniValueTest, OnePairOfQuotesAroundAHandWrittenValueIsDropped) {
  const std::vector<std::string> lines =
      SplitIniLines("[Servers]\nSource=\"/in \"\nTarget= \"/out\" \nDay=\"\"7\"\"\n");
  EXPECT_EQ(FindIniValue(lines, "Servers", "Source"), "/in ");
  EXPECT_EQ(FindIniValue(lines, "Servers", "Target"), "/out");
  EXPECT_EQ(FindIniValue(lines, "Servers", "Day"), "\"7\"");
}

}  // namespace
}  // namespace qor::platform
