#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ini.h"
#include "support/full_disk.h"

namespace qor::platform {
namespace {

using qor::testing::FileSizeLimit;
using KeyValues = std::vector<std::pair<std::string, std::string>>;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class IniWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qor-ini-write-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    file_ = folder_ + "/qro.ini";
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  void WriteFile(const std::string& content) { std::ofstream(file_, std::ios::binary) << content; }

  std::set<std::string> FolderNames() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }

  std::string folder_;
  std::string file_;
};

struct WriteCase {
  const char* name;
  std::optional<std::string> before;  // nullopt: no file
  KeyValues writes;
  std::string after;
};

TEST_F(IniWriteTest, KeepsEveryOtherLineAndEndsLinesWithCrLf) {
  const WriteCase cases[] = {
      {"new file keeps the order of the writes",
       std::nullopt,
       {{"Source", "/in/"}, {"Target", "/out/"}, {"Day", "3x"}},
       "[Servers]\r\nSource=/in/\r\nTarget=/out/\r\nDay=3x\r\n"},
      {"empty file", "", {{"Day", "1"}}, "[Servers]\r\nDay=1\r\n"},
      {"key replaced in place, comments and other sections kept, LF made CR LF",
       "; my settings\n[Other]\nSource=x\n\n[Servers]\nsource = old\nDay=1\n",
       {{"Source", "new"}},
       "; my settings\r\n[Other]\r\nSource=x\r\n\r\n[Servers]\r\nsource=new\r\nDay=1\r\n"},
      {"section and key in other letter case",
       "[SERVERS]\r\nDAY=1\r\n",
       {{"Day", "2"}},
       "[SERVERS]\r\nDAY=2\r\n"},
      {"new key after the section's last line, before the blank line",
       "[Servers]\r\nDay=1\r\n; note\r\n\r\n[Other]\r\nB=2\r\n",
       {{"Month", "3"}},
       "[Servers]\r\nDay=1\r\n; note\r\nMonth=3\r\n\r\n[Other]\r\nB=2\r\n"},
      {"new section appended to a file without a final line end",
       "[Other]\nB=2",
       {{"Day", "1"}},
       "[Other]\r\nB=2\r\n\r\n[Servers]\r\nDay=1\r\n"},
      {"only the first of two same sections is written",
       "[Servers]\r\nDay=1\r\n[servers]\r\nDay=9\r\n",
       {{"Day", "2"}},
       "[Servers]\r\nDay=2\r\n[servers]\r\nDay=9\r\n"},
      {"value stored exactly as given",
       "[Servers]\r\n",
       {{"Source", "/a b=c/\t;#[x]"}},
       "[Servers]\r\nSource=/a b=c/\t;#[x]\r\n"},
      {"byte-order mark kept",
       "\xEF\xBB\xBF[Servers]\r\nDay=1\r\n",
       {{"Day", "2"}},
       "\xEF\xBB\xBF[Servers]\r\nDay=2\r\n"},
  };
  for (const WriteCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(file_);
    if (c.before) WriteFile(*c.before);
    EXPECT_TRUE(WriteIniValues(file_, "Servers", c.writes));
    EXPECT_EQ(ReadFile(file_), c.after);
    EXPECT_EQ(FolderNames(), std::set<std::string>{"qro.ini"}) << "a temporary was left behind";
  }
}

TEST_F(IniWriteTest, OneKeyAtATimeGivesTheSameFileAsAllAtOnce) {
  const KeyValues writes = {{"Source", "/in/"}, {"Day", "1"}, {"Source", "/in2/"}, {"Year", "9"}};
  for (const auto& [key, value] : writes) ASSERT_TRUE(WriteIniValue(file_, "Servers", key, value));
  const std::string one_by_one = ReadFile(file_);
  std::filesystem::remove(file_);
  ASSERT_TRUE(WriteIniValues(file_, "Servers", writes));
  EXPECT_EQ(ReadFile(file_), one_by_one);
  EXPECT_EQ(one_by_one, "[Servers]\r\nSource=/in2/\r\nDay=1\r\nYear=9\r\n");
}

TEST_F(IniWriteTest, LongValueReadsBackWhole) {
  const std::string path = "/" + std::string(300, 'a') + "/" + std::string(300, 'b') + "/";
  ASSERT_TRUE(WriteIniValue(file_, "Servers", "Source", path));
  EXPECT_EQ(ReadIniValue(file_, "Servers", "Source"), path);
}

TEST_F(IniWriteTest, ValueWithLineBreakIsNotStoredAndCannotAddKeys) {
  WriteFile("[Servers]\r\nSource=/old/\r\nRekurse=0\r\n");
  const std::string injected[] = {"/a\nRekurse=1", "/a\r\n[Other]", std::string("/a\0b", 4)};
  for (const std::string& value : injected) {
    EXPECT_FALSE(WriteIniValue(file_, "Servers", "Source", value));
  }
  EXPECT_EQ(ReadFile(file_), "[Servers]\r\nSource=/old/\r\nRekurse=0\r\n");
  // The other keys of the same write are still stored.
  EXPECT_FALSE(WriteIniValues(file_, "Servers", {{"Source", "/a\nb"}, {"Day", "5"}}));
  EXPECT_EQ(ReadFile(file_), "[Servers]\r\nSource=/old/\r\nRekurse=0\r\nDay=5\r\n");
}

TEST_F(IniWriteTest, KeepsPermissionsAndLinks) {
  WriteFile("[Servers]\r\nDay=1\r\n");
  ASSERT_EQ(::chmod(file_.c_str(), 0640), 0);
  ASSERT_TRUE(WriteIniValue(file_, "Servers", "Day", "2"));
  struct stat info {};
  ASSERT_EQ(::stat(file_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);

  const std::string link = folder_ + "/link.ini";
  ASSERT_EQ(::symlink("qro.ini", link.c_str()), 0);
  ASSERT_TRUE(WriteIniValue(link, "Servers", "Day", "3"));
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(file_), "[Servers]\r\nDay=3\r\n");
  EXPECT_EQ(FolderNames(), (std::set<std::string>{"qro.ini", "link.ini"}));
}

TEST_F(IniWriteTest, PlaceThatCannotHoldTheFileIsLeftAsItWas) {
  std::ofstream(folder_ + "/plain") << "x";
  const std::string folder_in_place = folder_ + "/folder";
  std::filesystem::create_directory(folder_in_place);
  std::ofstream(folder_in_place + "/inside") << "kept";

  EXPECT_FALSE(WriteIniValue(folder_ + "/plain/qro.ini", "Servers", "Day", "1"));
  EXPECT_FALSE(WriteIniValue(folder_ + "/missing/qro.ini", "Servers", "Day", "1"));
  EXPECT_FALSE(WriteIniValue(folder_in_place, "Servers", "Day", "1"));
  EXPECT_EQ(ReadFile(folder_ + "/plain"), "x");
  EXPECT_EQ(ReadFile(folder_in_place + "/inside"), "kept");
  EXPECT_EQ(FolderNames(), (std::set<std::string>{"plain", "folder"}));
}

TEST_F(IniWriteTest, ReadOnlyFileIsLeftAsItWas) {
  const std::string old_text = "[Servers]\r\nDay=1\r\n";
  WriteFile(old_text);
  ASSERT_EQ(::chmod(file_.c_str(), 0444), 0);
  EXPECT_FALSE(WriteIniValue(file_, "Servers", "Day", "2"));
  EXPECT_EQ(ReadFile(file_), old_text);
  EXPECT_EQ(FolderNames(), std::set<std::string>{"qro.ini"});
}

// Makes a folder refuse new files, even to root when the file system allows
// the immutable flag; undone when it goes out of scope.
class UnwritableFolder {
 public:
  explicit UnwritableFolder(const std::string& folder) : folder_(folder) {
    if (::geteuid() != 0) {
      done_ = ::chmod(folder_.c_str(), 0555) == 0;
      return;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags_) == 0) {
      int immutable = flags_ | FS_IMMUTABLE_FL;
      done_ = ::ioctl(fd, FS_IOC_SETFLAGS, &immutable) == 0;
    }
    ::close(fd);
  }
  ~UnwritableFolder() {
    if (!done_) return;
    if (::geteuid() != 0) {
      ::chmod(folder_.c_str(), 0755);
      return;
    }
    const int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY);
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags_);
    ::close(fd);
  }
  bool done() const { return done_; }

 private:
  std::string folder_;
  int flags_ = 0;
  bool done_ = false;
};

TEST_F(IniWriteTest, FileInUnwritableFolderIsLeftAsItWas) {
  const std::string old_text = "[Servers]\r\nDay=1\r\n";
  WriteFile(old_text);
  {
    UnwritableFolder unwritable(folder_);
    if (!unwritable.done()) GTEST_SKIP() << "cannot make a folder unwritable here";
    EXPECT_FALSE(WriteIniValue(file_, "Servers", "Day", "2"));
  }
  EXPECT_EQ(ReadFile(file_), old_text);
  EXPECT_EQ(FolderNames(), std::set<std::string>{"qro.ini"});
}

TEST_F(IniWriteTest, FailedWriteKeepsOldFileAndRemovesTemporary) {
  const std::string old_text = "; keep me\r\n[Servers]\r\nSource=/in/\r\nDay=1\r\n";
  WriteFile(old_text);
  {
    FileSizeLimit limit(old_text.size());
    EXPECT_FALSE(WriteIniValue(file_, "Servers", "Source", std::string(500, 'x')));
  }
  EXPECT_EQ(ReadFile(file_), old_text);
  EXPECT_EQ(FolderNames(), std::set<std::string>{"qro.ini"});
}

}  // namespace
}  // namespace qor::platform
