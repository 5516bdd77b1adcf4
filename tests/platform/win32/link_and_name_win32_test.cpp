#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/win32/listing.h"
#include "platform/win32/wide.h"

namespace qor::platform {
namespace {

TEST(LinkAndNameWin32Test, OnlyANameSurrogateIsALink) {
  // A folder with another kind of reparse point is a folder: moved as one
  // entry it would take everything in it along.
  const struct {
    const char* label;
    DWORD attributes;
    DWORD tag;
    bool link;
  } cases[] = {
      {"folder", FILE_ATTRIBUTE_DIRECTORY, 0, false},
      {"junction", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
       IO_REPARSE_TAG_MOUNT_POINT, true},
      {"link to a folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
       IO_REPARSE_TAG_SYMLINK, true},
      {"cloud placeholder folder", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
       0x9000601A, false},
      {"deduplicated file", FILE_ATTRIBUTE_REPARSE_POINT, 0x80000013, false},
      {"tag without the attribute", FILE_ATTRIBUTE_DIRECTORY, IO_REPARSE_TAG_SYMLINK, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsLinkReparsePoint(c.attributes, c.tag), c.link) << c.label;
  }
}

TEST(LinkAndNameWin32Test, ANameWithALoneSurrogateHasNoUtf8Form) {
  const struct {
    std::wstring name;
    bool well_formed;
  } cases[] = {
      {L"plain.txt", true},   {L"\xD83D\xDE00.txt", true}, {L"\xD83D.txt", false},
      {L"\xDE00.txt", false}, {L"a\xD83D", false},         {L"\xDE00\xD83D", false},
      {L"\xFFFD.txt", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsWellFormedUtf16(c.name), c.well_formed) << Narrow(c.name);
    // Exactly what is well formed comes back unchanged from UTF-8.
    if (c.well_formed) {
      EXPECT_EQ(Widen(Narrow(c.name)), c.name);
    } else {
      EXPECT_NE(Widen(Narrow(c.name)), c.name);
    }
  }
}

}  // namespace
}  // namespace qor::platform
