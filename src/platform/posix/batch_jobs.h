#pragma once

// How much of a batch is under way at once, by the file systems it goes
// between.

#include <cstddef>
#include <cstdint>

#include "platform/batch_limits.h"
#include "platform/files.h"

namespace qor::platform {

// Copies, or renames into different folders, under way at once where one of
// the two file systems answers over a network or through a process of its
// own: each operation there waits a round trip, and overlapping the waits is
// what pays. Between local disks copies side by side were slower than one
// at a time (measured on two processors), so there they are made one after
// the other.
inline constexpr std::size_t kRemoteJobs = 8;
inline constexpr std::size_t kLocalJobs = 1;

// Copies are handed to the workers ahead of the walk, so that they can
// spread them over the batch's folders; but once this many bytes of them are
// not yet made, the walk waits until fewer than the workers' number are
// under way: a batch of large files still ends by its age.
inline constexpr std::uint64_t kAheadBytes = 8 << 20;

// Where work goes side by side, a batch holds more files: the more folders
// it spans, the more of their creates and renames overlap (the system lets
// those in one folder wait for each other).
inline constexpr std::size_t kBatchFilesSideBySide = 4 * kBatchFiles;

class BatchJobs {
 public:
  // `jobs` at most; 0 (the default) chooses by the file systems.
  void Set(std::size_t jobs) { jobs_ = jobs; }
  // How many at once between the open folders `from` and `to`.
  std::size_t Between(int from, const FileIdentity& from_identity, int to,
                      const FileIdentity& to_identity);
  // Whether each copy into the open folder `to` is synced by itself as it
  // is made: so where it is remote, as a sync of a whole remote file system
  // may not reach the far side (FUSE passes none on, CIFS and 9p send no
  // flush).
  bool SyncsEachCopy(int to, const FileIdentity& to_identity);

 private:
  std::size_t jobs_ = 0;
  std::size_t chosen_ = 0;
  FileIdentity chosen_from_, chosen_to_;
  bool remote_to_ = false;
  FileIdentity remote_known_;  // the folder `remote_to_` was asked of
};

}  // namespace qor::platform
