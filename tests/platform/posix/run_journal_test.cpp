#include "platform/posix/run_journal.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/full_disk.h"
#include "support/temp_tree.h"

namespace qor::platform {
namespace {

using qor::testing::SmallFileSystem;
using qor::testing::TempFolder;

// A journal on a disk that the run's copies fill: the records of the batch
// made before still get written, into the room the journal set aside; once
// records find no room at all, or would make it larger than a later run
// reads, the journal is lost, and says so, so that no copy is placed that
// no record names.
TEST(RunJournalTest, KeepsRoomForABatchOnADiskThatFillsAndIsLostOnlyBeyondIt) {
  struct Case {
    const char* name;
    std::size_t records;
    std::size_t entry_size;  // 0: an ordinary entry
    int lost;
  };
  const Case cases[] = {{"a batch of ordinary records", 256, 0, 0},
                        {"records beyond any room", 4096, 0, ENOSPC},
                        {"records beyond the largest journal", 65, std::size_t{1} << 20, EFBIG}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallFileSystem disk(1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.why_not();
    TempFolder source;
    const int root = ::open(disk.slash().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int from = ::open(source.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(root, 0);
    ASSERT_GE(from, 0);
    {
      RunJournal journal(root, source.slash(), {});
      journal.Start();
      ASSERT_EQ(journal.Problem(), "");
      disk.Fill();
      for (std::size_t i = 0; i < c.records; ++i) {
        const std::string name = "file-" + std::to_string(i) + std::string(200, 'n');
        journal.Placing(from, root, name,
                        c.entry_size != 0 ? std::string(c.entry_size, 'e')
                                          : name + "      MOVED to   " + disk.slash(),
                        FileIdentity{1, i + 1});
      }
      EXPECT_EQ(journal.Sync(), c.lost);
      EXPECT_EQ(journal.Lost(), c.lost);
      EXPECT_EQ(journal.WriteHeld(), c.lost == 0);
      EXPECT_EQ(journal.Problem().find("no file was moved to another file system after that") !=
                    std::string::npos,
                c.lost != 0)
          << journal.Problem();
    }
    ::close(from);
    ::close(root);
  }
}

// A journal that could not be made at the start is not lost: the run goes
// on without one, as it says.
TEST(RunJournalTest, OneThatCouldNeverBeMadeIsNotLost) {
  TempFolder source;
  RunJournal journal(-1, source.slash(), {});
  journal.Start();
  EXPECT_NE(journal.Problem(), "");
  EXPECT_EQ(journal.Sync(), 0);
}

}  // namespace
}  // namespace qor::platform
