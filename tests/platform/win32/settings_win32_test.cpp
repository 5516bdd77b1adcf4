#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/ini.h"
#include "platform/win32/argument_text.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using testing::ReadFile;
using testing::TempFolder;

void WriteBytes(const std::string& path, const std::string& bytes) {
  testing::WriteFile(path, bytes, 0);
}

TEST(SettingsWin32Test, AFileInEachEncodingReadsBack) {
  // "Zürich" in each encoding a settings file may come in.
  const struct {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"UTF-16LE with mark",
       std::string("\xFF\xFE[\0S\0]\0\r\0\n\0K\0=\0Z\0\xFC\0r\0i\0c\0h\0\r\0\n\0", 34)},
      {"UTF-8", "[S]\r\nK=Z\xC3\xBCrich\r\n"},
      {"UTF-8 with mark", "\xEF\xBB\xBF[S]\r\nK=Z\xC3\xBCrich\r\n"},
      {"ANSI code page 1252", "[S]\r\nK=Z\xFCrich\r\n"},
  };
  if (::GetACP() != 1252) GTEST_SKIP() << "the ANSI case needs code page 1252, not " << ::GetACP();
  TempFolder folder;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    WriteBytes(folder.slash() + "qro.ini", c.bytes);
    EXPECT_EQ(ReadIniValue(folder.slash() + "qro.ini", "s", "k"), "Z\xC3\xBCrich");
  }
}

TEST(SettingsWin32Test, AsciiValuesAreWrittenByteForByte) {
  TempFolder folder;
  const std::string file = folder.slash() + "qro.ini";
  ASSERT_TRUE(WriteIniValues(file, "Servers", {{"Source", R"(C:\in\)"}, {"Day", "15"}}));
  EXPECT_EQ(ReadFile(file), "[Servers]\r\nSource=C:\\in\\\r\nDay=15\r\n");
}

TEST(SettingsWin32Test, OtherValuesAreWrittenInUtf16ThatWindowsReads) {
  TempFolder folder;
  const std::string file = folder.slash() + "qro.ini";
  ASSERT_TRUE(WriteIniValue(file, "Servers", "Target", "D:\\\xE5\x87\xBA\\"));  // D:\出\ in UTF-8
  EXPECT_EQ(ReadFile(file).substr(0, 2), "\xFF\xFE");
  wchar_t value[64] = {};
  ::GetPrivateProfileStringW(L"Servers", L"Target", L"", value, 64,
                             testing::FsPath(file).wstring().c_str());
  EXPECT_EQ(std::wstring(value), L"D:\\\x51FA\\");
  EXPECT_EQ(ReadIniValue(file, "Servers", "Target"), "D:\\\xE5\x87\xBA\\");
}

TEST(ArgumentTextWin32Test, TheRawTextAfterTheProgramNameStaysExact) {
  const struct {
    const wchar_t* command_line;
    const wchar_t* arguments;
  } cases[] = {
      {LR"("C:\Program Files\qor\qor.exe" /D1  /M2 auto)", L"/D1  /M2 auto"},
      {LR"(qor.exe   /D1  /M2 )", L"/D1  /M2 "},
      {L"qor.exe\t/Y2021", L"/Y2021"},
      {LR"("C:\qor.exe")", L""},
      {L"qor.exe", L""},
      {LR"("C:\a b\qor.exe"/D1)", L"/D1"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ArgumentsAfterProgramName(c.command_line), c.arguments);
  }
}

}  // namespace
}  // namespace qor::platform
