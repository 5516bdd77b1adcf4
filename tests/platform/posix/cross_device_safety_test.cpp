// Moves onto another file system against what can happen to a file while it
// is copied, and against what a plain copy of its bytes would leave behind.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/posix/cross_device_move.h"
#include "support/file_systems.h"
#include "support/mounted_folder.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using qor::testing::BuildParent;
using qor::testing::Exists;
using qor::testing::MountedFolder;
using qor::testing::NamesIn;
using qor::testing::ReadFile;
using qor::testing::SameFileSystem;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

#define SKIP_UNLESS_TWO_FILE_SYSTEMS()           \
  if (SameFileSystem(BuildParent(), "/dev/shm")) \
  GTEST_SKIP() << "/dev/shm and the build folder share a file system here"

// Waits until this process holds a file in `folder` open, named or not,
// that is until the copy runs.
bool AwaitCopy(const std::string& folder) {
  const std::string inside = std::filesystem::canonical(folder).string() + "/";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < until) {
    std::error_code error;
    for (const auto& open : std::filesystem::directory_iterator("/proc/self/fd", error)) {
      const std::string file = std::filesystem::read_symlink(open.path(), error).string();
      if (!error && file.starts_with(inside)) return true;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

TEST(CrossDeviceSafetyTest, AFileSavedAgainDuringTheCopyKeepsItsNewVersion) {
  SKIP_UNLESS_TWO_FILE_SYSTEMS();
  struct Change {
    const char* label;
    std::function<void(const std::string& source)> apply;
    std::string expected_tail;
  };
  const std::vector<Change> changes = {
      {"saved by an editor (new file renamed over the name)",
       [](const std::string& source) {
         WriteFile(source + ".new", "the new version", UtcSeconds(2020, 3, 3));
         ASSERT_EQ(::rename((source + ".new").c_str(), source.c_str()), 0);
       },
       "the new version"},
      {"appended to",
       [](const std::string& source) {
         const int fd = ::open(source.c_str(), O_WRONLY | O_APPEND);
         ASSERT_GE(fd, 0);
         ASSERT_EQ(::write(fd, "appended", 8), 8);
         ::close(fd);
       },
       "appended"},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.label);
    // Large enough that the copy and its sync take a while.
    TempFolder from("/dev/shm"), to(BuildParent());
    const std::string source = from.slash() + "video.bin";
    WriteFile(source, std::string(32 << 20, 'v'), UtcSeconds(2020, 3, 3));

    auto changer = std::async(std::launch::async, [&] {
      const bool copying = AwaitCopy(to.path());
      if (copying) change.apply(source);
      return copying;
    });
    const Outcome moved = MoveFileNoReplace(source, to.slash() + "video.bin");
    if (!changer.get()) GTEST_SKIP() << "the copy ended before it could be changed";

    EXPECT_EQ(moved.error, kChangedDuringMove) << ErrorText(moved.error);
    EXPECT_EQ(ErrorText(moved.error), "changed during the move");
    const std::string now = ReadFile(source);
    ASSERT_GE(now.size(), change.expected_tail.size());
    EXPECT_EQ(now.substr(now.size() - change.expected_tail.size()), change.expected_tail);
    EXPECT_TRUE(NamesIn(to.path()).empty()) << "the stale copy or a temporary stayed";
    EXPECT_EQ(NamesIn(from.path()), std::set<std::string>{"video.bin"});
  }
}

std::string Attribute(const std::string& path, const char* name) {
  std::string value(4096, '\0');
  const ssize_t size = ::lgetxattr(path.c_str(), name, value.data(), value.size());
  return size < 0 ? std::string("<none>") : value.substr(0, static_cast<std::size_t>(size));
}

// An access ACL: owner rw, user 4321 rw, group r, mask rw, others r.
std::string AccessAcl() {
  std::string acl;
  auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  };
  put(2, 4);  // version
  const std::uint32_t kUndefined = 0xFFFFFFFF;
  const struct {
    std::uint16_t tag, perm;
    std::uint32_t id;
  } entries[] = {{0x01, 6, kUndefined},
                 {0x02, 6, 4321},
                 {0x04, 4, kUndefined},
                 {0x10, 6, kUndefined},
                 {0x20, 4, kUndefined}};
  for (const auto& e : entries) {
    put(e.tag, 2);
    put(e.perm, 2);
    put(e.id, 4);
  }
  return acl;
}

TEST(CrossDeviceSafetyTest, CarriesAclsAndExtendedAttributesOrKeepsTheFile) {
  SKIP_UNLESS_TWO_FILE_SYSTEMS();
  TempFolder from(BuildParent()), to("/dev/shm");
  const std::string source = from.slash() + "tool";
  WriteFile(source, "#!/bin/sh\n", UtcSeconds(2020, 4, 4));
  std::vector<std::pair<const char*, std::string>> attributes = {
      {"user.origin", "camera 7"}, {"system.posix_acl_access", AccessAcl()}};
  // A capability set (bind to low ports); only root may give one.
  const std::string capability(
      "\x00\x00\x00\x02\x00\x04\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00",
      20);
  if (::geteuid() == 0) attributes.push_back({"security.capability", capability});
  for (const auto& [name, value] : attributes) {
    ASSERT_EQ(::setxattr(source.c_str(), name, value.data(), value.size(), 0), 0) << name;
  }
  struct stat before;
  ASSERT_EQ(::stat(source.c_str(), &before), 0);

  const Outcome moved = MoveFileNoReplace(source, to.slash() + "tool");

  ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
  const std::string copy = to.slash() + "tool";
  for (const auto& [name, value] : attributes) EXPECT_EQ(Attribute(copy, name), value) << name;
  struct stat after;
  ASSERT_EQ(::stat(copy.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode, before.st_mode) << "the group must not gain the mask's rights";

  // A file system that holds no user attribute does not get the file.
  MountedFolder bare("ramfs", "");
  if (!bare.mounted()) GTEST_SKIP() << "cannot mount a ramfs here (not root?)";
  const Outcome refused = MoveFileNoReplace(copy, bare.slash() + "tool");
  EXPECT_EQ(refused.error, kAttributesNotKept) << ErrorText(refused.error);
  EXPECT_EQ(Attribute(copy, "user.origin"), "camera 7");
  EXPECT_TRUE(NamesIn(bare.path()).empty()) << "a copy or temporary stayed";
}

TEST(CrossDeviceSafetyTest, KeepsOwnerGroupAndModeWhateverTheyAre) {
  SKIP_UNLESS_TWO_FILE_SYSTEMS();
  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a file away";
  struct Case {
    uid_t uid;
    gid_t gid;
    mode_t mode;
  };
  // The run's own, another's with set-user-ID (which a change of owner
  // clears), and the run's own with the bits a new file starts with.
  for (const Case c : {Case{::geteuid(), ::getegid(), 0640}, Case{1234, 5678, 04755},
                       Case{::geteuid(), ::getegid(), 0600}}) {
    TempFolder from(BuildParent()), to("/dev/shm");
    const std::string source = from.slash() + "f";
    WriteFile(source, "data", UtcSeconds(2020, 1, 1));
    ASSERT_EQ(::chown(source.c_str(), c.uid, c.gid), 0);
    ASSERT_EQ(::chmod(source.c_str(), c.mode), 0);

    ASSERT_TRUE(MoveFileNoReplace(source, to.slash() + "f").ok());
    struct stat copy;
    ASSERT_EQ(::stat((to.slash() + "f").c_str(), &copy), 0);
    EXPECT_EQ(copy.st_uid, c.uid);
    EXPECT_EQ(copy.st_gid, c.gid);
    EXPECT_EQ(copy.st_mode & 07777, c.mode) << std::oct << c.mode;
  }
}

TEST(CrossDeviceSafetyTest, KeepsTheHolesOfASparseFile) {
  // 16 MiB with two small islands of data, onto 1 MiB of room.
  MountedFolder small("tmpfs", "size=1m");
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (not root?)";
  TempFolder from(BuildParent());
  const std::string source = from.slash() + "disk.img";
  const off_t size = 16 << 20;
  {
    const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, "head", 4, 4096), 4);
    ASSERT_EQ(::pwrite(fd, "middle", 6, size / 2), 6);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
  }
  const std::string content = ReadFile(source);

  const Outcome moved = MoveFileNoReplace(source, small.slash() + "disk.img");

  ASSERT_TRUE(moved.ok()) << ErrorText(moved.error);
  EXPECT_FALSE(Exists(source));
  EXPECT_TRUE(ReadFile(small.slash() + "disk.img") == content);
}

TEST(CrossDeviceSafetyTest, APipeSwappedInForTheFileNeverHoldsTheMove) {
  SKIP_UNLESS_TWO_FILE_SYSTEMS();
  // The working folder lies on the other file system, where no source may go.
  TempFolder from(BuildParent()), to("/dev/shm"), elsewhere("/dev/shm");
  const std::string name = std::filesystem::absolute(from.slash() + "f").string();
  // The moves run in a child, so that one held on a pipe can be ended.
  const pid_t mover = ::fork();
  if (mover == 0) {
    if (::chdir(elsewhere.path().c_str()) != 0) ::_exit(2);
    int moved = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int i = 0; moved < 1000 && std::chrono::steady_clock::now() < until; ++i) {
      moved += MoveFileNoReplace(name, to.slash() + std::to_string(i)).ok() ? 1 : 0;
    }
    ::_exit(moved > 0 ? 0 : 1);
  }
  ASSERT_GT(mover, 0);
  // Puts a pipe and a file by turns under one name while the moves go on.
  int status = 0;
  bool finished = false;
  int round = 0;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!finished && std::chrono::steady_clock::now() < until) {
    const std::string fifo = from.slash() + ".fifo", file = from.slash() + ".file";
    ::mkfifo(fifo.c_str(), 0644);
    ::rename(fifo.c_str(), name.c_str());
    WriteFile(file, "data", UtcSeconds(2020, 1, 1));
    ::rename(file.c_str(), name.c_str());
    // Now and then the file stays a moment, or on a loaded machine no move may get through.
    if (++round % 8 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));
    finished = ::waitpid(mover, &status, WNOHANG) == mover;
  }
  if (!finished) {
    ::kill(mover, SIGKILL);
    ::waitpid(mover, &status, 0);
  }
  ASSERT_TRUE(finished) << "a move waits on a pipe";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "no file moved at all";
  EXPECT_TRUE(NamesIn(elsewhere.path()).empty()) << "a source was put in the working folder";
  for (const std::string& moved : NamesIn(to.path())) {
    struct stat st;
    ASSERT_EQ(::lstat((to.slash() + moved).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << moved;
    EXPECT_EQ(ReadFile(to.slash() + moved), "data");
  }
}

}  // namespace
}  // namespace qor::platform
