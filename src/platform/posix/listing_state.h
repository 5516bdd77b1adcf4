#pragma once

// The inner state of the listing and target folder types, shared by the
// files of the Linux layer that work on their descriptors.

#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/posix/fd.h"
#include "platform/posix/run_journal.h"

namespace qor::platform {

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
// A listing stream; it owns the descriptor it was opened on.
using Dir = std::unique_ptr<DIR, CloseDir>;

struct FolderListing::State {
  Dir dir;
  Fd reopened;  // the folder's descriptor when it was opened again after parking
  int fd = -1;  // the folder's descriptor while it is held: dir's or `reopened`
  int error = 0;
  int read_error = 0;
  int detail_error = 0;
  bool parked = false;
  bool from_memory = false;  // the rest of the listing lies in `rest`
  std::vector<FolderEntry> rest;
  std::size_t next = 0;
  FileIdentity identity;
  // On a remote file system the details of the next few entries are read
  // side by side, ahead of the walk: each look-up waits a round trip.
  bool remote = false;
  bool ended = false;  // the system's listing came to its end, or failed
  std::vector<FolderEntry> ahead;
  std::size_t ahead_next = 0;

  // The next name from the system's listing, with what is known of it
  // without a look-up; false at the end.
  bool ReadName(FolderEntry& entry);
  // One entry read from the system's listing, with its details.
  bool Read(FolderEntry& entry);
  // Fills in an entry's details from its look-up, or notes why there are
  // none (`error`).
  void Detail(FolderEntry& entry, int error, const struct stat& st);
  // The next few entries into `ahead`; false when there are none.
  bool ReadAhead();
};

struct TargetFolder::State {
  std::string root_path;
  Fd root;
  FileIdentity root_identity;
  Fd leaf;               // the entered folder below the root; closed while that is the root
  std::string relative;  // the entered folder as last asked for
  std::vector<std::string> names;        // the entered folder's path below the root
  std::vector<FileIdentity> identities;  // of each folder on that path
  bool entered = false;
  // The folders that gained a folder the run made, until they are synced:
  // a file copied into a new folder is on the disk only with that folder.
  std::vector<Fd> made_in;
  // Syncs them; 0 or the errno.
  int SyncMadeFolders();
  // The folders whose names the run's renames (and its removals of folders
  // emptied by them) changed, until they are synced: a rename is on the disk
  // only with both its folders, and a log on the disk must not name a move
  // that a power cut would undo. A local disk is synced whole, once for
  // all its folders; a share or FUSE file system, where no sync of the whole
  // reaches the server, folder by folder, a few held at a time: those a
  // file went into first, those it left after, so that a cut between leaves
  // it under both names, never under none.
  struct Changed {
    FileIdentity folder;
    bool whole;   // stands for every folder of its file system
    bool gained;  // a file went into it
    bool lost;    // a file or folder left it
    Fd fd;
  };
  std::vector<Changed> changed;
  int changed_error = 0;  // of a sync that made room, until the next is asked for
  // Notes the folder `dir`, `identity`, among them: it `gained` a name, or
  // lost one.
  void Changes(int dir, const FileIdentity& identity, bool gained);
  // Syncs them, after the journal that names the renames, and the folders
  // made; 0 or the errno.
  int SyncChangedFolders();
  Fd parent;  // the root's, when the journal lies there; outlives the journal
  std::unique_ptr<RunJournal> journal;  // made when the run first needs it
  std::string source_root;              // for the journal; none without it
  std::function<LogMark()> log_mark;
  bool journal_in_parent = false;
  // A dry run's last folder looked into, for the names of the next files
  // bound there: open, or what keeps every name there free or unknown.
  std::string probed_relative;
  Fd probed;
  Outcome probed_outcome;
  bool has_probed = false;
  // Its names, once one look has found it searchable, when it holds few
  // enough: then no file costs a call.
  std::unordered_set<std::string> probed_names;
  bool probed_listed = false;
  bool probed_looked = false;

  int Current() const { return leaf.IsValid() ? leaf.get() : root.get(); }
  FileIdentity CurrentIdentity() const {
    return identities.empty() ? root_identity : identities.back();
  }
  // The run's journal, made when first asked for; none without a source.
  RunJournal* Journal();
  void BackToRoot();
  // One level up through "..", if that is still the folder come down from.
  bool Up();
  // One level down into `name`, made when missing; never through a link.
  Outcome Down(const std::string& name);
};

// The move of `from`, a name in the folder `from_dir` (AT_FDCWD for a path),
// to the name `to` in the folder `to_dir`, never replacing; across file
// systems a synced copy. `placed`, when given, gets the identity of the file
// at its new place; `journal` records the steps of a copy, with `entry`, the
// run log's entry for the file once moved.
Outcome MoveAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
               FileIdentity* placed, RunJournal* journal = nullptr, const std::string& entry = {});

// MoveAt for a name a listing has just shown to be a file or link: the
// rename is tried without asking for its status first. A folder put in its
// place since goes back all the same, by the check after the rename.
// `journal` records what a kill could leave of a move where the file system
// (`device`) cannot rename without replacing, with `entry` (see MoveAt).
Outcome MoveListedFileAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
                         FileIdentity* placed, RunJournal* journal, const std::string& entry,
                         std::uint64_t device);

// Opens the subfolder `name` of `at` without following a link.
Fd OpenSubfolder(int at, const char* name);

}  // namespace qor::platform
