// The copies a batch hands to its workers: a worker's exception fails its
// file, not the program, and a copy made on the caller's thread for lack of
// threads still hears a stop.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <stdexcept>
#include <thread>

#include "platform/files.h"
#include "platform/move_batch.h"
#include "support/file_systems.h"
#include "support/temp_tree.h"
#include "syscall_seam.h"

namespace {

// While set, no thread can be had.
std::atomic<bool> refuse_threads = false;
// While set, the next look for data in a file waits 150 ms first: long
// enough for a copy under way to ask whether to go on.
std::atomic<bool> slow_seek = false;

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  static const auto real =
      reinterpret_cast<decltype(&pthread_create)>(::dlsym(RTLD_NEXT, "pthread_create"));
  return refuse_threads ? EAGAIN : real(thread, attributes, start, argument);
}

extern "C" off_t lseek(int fd, off_t offset, int whence) {
  if (whence == SEEK_DATA && slow_seek.exchange(false)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
  static const auto real = reinterpret_cast<decltype(&lseek)>(::dlsym(RTLD_NEXT, "lseek"));
  return real(fd, offset, whence);
}

namespace qor::platform {
namespace {

using qor::testing::BuildParent;
using qor::testing::Exists;
using qor::testing::NamesIn;
using qor::testing::SameFileSystem;
using qor::testing::SyscallSeam;
using qor::testing::TempFolder;
using qor::testing::UtcSeconds;
using qor::testing::WriteFile;

class BatchWorkersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (SameFileSystem(BuildParent(), "/dev/shm")) {
      GTEST_SKIP() << "/dev/shm and the build folder share a file system here";
    }
    for (const char* name : {"a", "b", "c"}) {
      WriteFile(source_.slash() + name, std::string("bytes of ") + name, UtcSeconds(2020, 1, 1));
    }
  }

  // Hands `name` to `batch`; false when the batch heard a stop.
  bool Move(MoveBatch& batch, const std::string& name) {
    MoveBatch::Steps steps;
    steps.begin = [] { return true; };
    steps.end = [this, name](Outcome outcome, FileIdentity) { outcomes_[name] = outcome; };
    return batch.Move(listing_, name, target_folder_, std::move(steps));
  }

  TempFolder source_{BuildParent()};
  TempFolder target_{"/dev/shm"};
  FolderListing listing_{source_.path()};
  TargetFolder target_folder_{target_.path()};
  std::map<std::string, Outcome> outcomes_;
};

TEST_F(BatchWorkersTest, AnExceptionOnAWorkerFailsItsFileOnly) {
  ASSERT_TRUE(target_folder_.Enter("").ok());
  SyscallSeam seam;
  seam.remote = true;  // each copy synced by itself, on its worker
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<bool> thrown = false;
  seam.before = [&](const testing::SyscallEvent& event) {
    if (event.call == "fsync" && std::this_thread::get_id() != caller && !thrown.exchange(true)) {
      throw std::runtime_error("unexpected");
    }
  };
  MoveBatch batch([] { return true; });
  batch.SetJobs(3);
  for (const std::string name : {"a", "b", "c"}) EXPECT_TRUE(Move(batch, name));
  EXPECT_TRUE(batch.Finish());
  ASSERT_TRUE(thrown);

  ASSERT_EQ(outcomes_.size(), 3u);
  int failed = 0;
  for (const auto& [name, outcome] : outcomes_) {
    SCOPED_TRACE(name);
    if (!outcome.ok()) {
      ++failed;
      EXPECT_EQ(outcome.error, EIO);
    }
    EXPECT_EQ(Exists(source_.slash() + name), !outcome.ok());
    EXPECT_EQ(Exists(target_.slash() + name), outcome.ok());
  }
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(NamesIn(target_.path()).size(), 2u) << "a copy of the failed file is left";
}

TEST_F(BatchWorkersTest, ACopyMadeOnTheCallersThreadForLackOfThreadsHearsAStop) {
  ASSERT_TRUE(target_folder_.Enter("").ok());
  int asked = 0;
  MoveBatch batch([&asked] {
    ++asked;
    return false;
  });
  batch.SetJobs(4);
  refuse_threads = true;
  slow_seek = true;
  const bool went_on = Move(batch, "a");
  refuse_threads = false;
  slow_seek = false;

  EXPECT_GT(asked, 0) << "the copy never asked";
  EXPECT_FALSE(went_on);
  EXPECT_TRUE(outcomes_.empty());
  EXPECT_TRUE(Exists(source_.slash() + "a"));
  EXPECT_TRUE(NamesIn(target_.path()).empty());
}

}  // namespace
}  // namespace qor::platform
