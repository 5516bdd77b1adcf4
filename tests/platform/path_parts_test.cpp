#include "platform/path_parts.h"

#include <gtest/gtest.h>

#include "platform/temporary_names.h"

namespace qor::platform {
namespace {

TEST(PathParts, SplitKeepsEmptyPartsAndFolderNamesDropThem) {
  struct Case {
    std::string_view path;
    std::vector<std::string_view> parts;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", {""}, {}},
      {"a", {"a"}, {"a"}},
      {"a/b/", {"a", "b", ""}, {"a", "b"}},
      {"/a//b", {"", "a", "", "b"}, {"a", "b"}},
      {"//", {"", "", ""}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitPath(c.path, '/'), c.parts) << c.path;
    EXPECT_EQ(FolderNames(c.path, '/'), c.names) << c.path;
  }
  const std::wstring_view wide = L"C:\\x\\y";
  EXPECT_EQ(FolderNames(wide, L'\\'), (std::vector<std::wstring>{L"C:", L"x", L"y"}));
}

TEST(PathParts, PlainNameRefusesWhatLeadsElsewhere) {
  for (const char separator : {'/', '\\'}) {
    for (const char* bad : {"", ".", "..", "a/b", "/"}) {
      EXPECT_FALSE(IsPlainName(bad, separator)) << bad;
    }
    for (const char* good : {"a", ".hidden", "...", "a..b", "20210615"}) {
      EXPECT_TRUE(IsPlainName(good, separator)) << good;
    }
  }
  EXPECT_FALSE(IsPlainName("..\\x", '\\'));
  EXPECT_TRUE(IsPlainName("back\\slash", '/'));
}

TEST(TemporaryNames, RandomNamesAreRecognisedAndNothingElse) {
  const std::string made = RandomName(kTemporaryPrefix);
  EXPECT_TRUE(IsRandomName(made, kTemporaryPrefix));
  EXPECT_FALSE(IsRandomName(made, kTakenPrefix));
  EXPECT_NE(made, RandomName(kTemporaryPrefix));
  for (const char* other :
       {".qor-part-0123456789a", ".qor-part-0123456789abc", ".qor-part-0123456789aB",
        ".qor-part-0123456789ag", "qor-part-0123456789ab"}) {
    EXPECT_FALSE(IsRandomName(other, kTemporaryPrefix)) << other;
  }
  EXPECT_TRUE(IsRandomName(".qor-part-0123456789ab", kTemporaryPrefix));
}

}  // namespace
}  // namespace qor::platform
