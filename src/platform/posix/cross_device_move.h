#pragma once

#include <time.h>

#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/files.h"
#include "platform/posix/content_copy.h"
#include "platform/posix/fd.h"
#include "platform/posix/run_journal.h"
#include "platform/temporary_names.h"

namespace qor::platform {

// The move of a file or link onto another file system: copy into an unnamed
// file or a "."-prefixed temporary in the destination folder, carry over owner,
// permission bits, extended attributes, times and holes, sync, link into the
// final name without replacing, and only then remove the source, once it is
// known to be the very file copied, unchanged. On any failure the temporary
// (and a linked copy) is removed and the source is left as it was.
// `from` is a name in the folder `from_dir`, `name` one in `to_dir`.
// `journal`, when given, records each step a kill could leave half done,
// with `entry`, the run log's entry for the file once moved; only a move
// that keeps the file's name is recorded.
Outcome MoveAcrossFileSystems(int from_dir, const std::string& from, int to_dir,
                              const std::string& name, RunJournal* journal = nullptr,
                              const std::string& entry = {});

// Whether copies may be held open without a name (the default) or always
// get a temporary name, as on file systems that cannot make unnamed files.
void AllowUnnamedCopies(bool allow);

// The change times that a run's own removals gave files with more than one
// name: removing one name changes the file's link count and change time,
// which is no change of the file under its other names.
class OwnChanges {
 public:
  void Note(const FileIdentity& file, const struct timespec& change_time) {
    times_[{file.device, file.inode}] = change_time;
  }
  bool Explains(const FileIdentity& file, const struct timespec& change_time) const {
    const auto it = times_.find({file.device, file.inode});
    return it != times_.end() && it->second.tv_sec == change_time.tv_sec &&
           it->second.tv_nsec == change_time.tv_nsec;
  }

 private:
  std::map<std::pair<std::uint64_t, std::uint64_t>, struct timespec> times_;
};

// One file or link on its way to another file system, in steps that a batch
// of moves can take for many files at once: copy, put in place, remove the
// source.
class CrossCopy {
 public:
  CrossCopy() = default;
  CrossCopy(CrossCopy&&) noexcept = default;
  CrossCopy& operator=(CrossCopy&&) = delete;
  ~CrossCopy() { CloseUnnamed(); }

  // Copies `from` (a name in `from_dir`) into a file in `to_dir` meant for
  // `name`, with owner, mode, extended attributes, times and holes; synced
  // when `sync`. ECANCELED when `keep_going` said to stop. A regular file's
  // copy is held open without a name where the file system allows, else it
  // is a "."-prefixed temporary, or where the file system can neither rename
  // without replacing nor link, `name` itself, made exclusively.
  Outcome Make(int from_dir, const std::string& from, int to_dir, const std::string& name,
               bool sync, const KeepGoing* keep_going, RunJournal* journal = nullptr);
  // Puts the copy in place under `name`, never replacing anything.
  Outcome Place(int to_dir, const std::string& name);
  // Removes the source, once the copy is in place and durable, only if it is
  // still the very file copied, unchanged; otherwise the copy goes. A source
  // that cannot get its own name back is named in the outcome. `own`, when
  // given, knows and learns the changes the run's own removals made.
  Outcome RemoveSource(int from_dir, const std::string& from, int to_dir, const std::string& name,
                       OwnChanges* own = nullptr, RunJournal* journal = nullptr,
                       const std::string& entry = {});
  // Chooses the private name the source `name` will be taken away to before it is
  // removed, and holds its record in `journal`: a batch writes those of all
  // its files at once.
  void RecordTakingAway(int from_dir, int to_dir, const std::string& name, const std::string& entry,
                        RunJournal& journal);
  // Removes what there is of the copy: the unnamed file or temporary, or
  // the copy in place.
  void Discard(int to_dir, const std::string& name);
  FileIdentity PlacedIdentity() const;
  std::uint64_t Size() const;

 private:
  void CloseUnnamed();
  // Where the file system of `to_dir` can neither rename without replacing
  // nor link (rclone), the copy is made under `name` itself, exclusively.
  Outcome MakeInPlace(int from_dir, const std::string& from, int in, int to_dir,
                      const std::string& name, bool sync, Pacer& pacer, RunJournal* journal);

  struct stat source_ {};
  struct stat copy_ {};
  Fd unnamed_;
  std::shared_ptr<Fd> held_;  // the source's lock against other runs, while this one needs it
  std::string temp_;
  std::string taken_;  // recorded already
  bool placed_ = false;
  bool in_place_ = false;  // made under its name
};

}  // namespace qor::platform
