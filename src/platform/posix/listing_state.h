#pragma once

// The inner state of the listing and target folder types, shared by the
// files of the Linux layer that work on their descriptors.

#include <dirent.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace qor::platform {

struct FolderListing::State {
  DIR* dir = nullptr;
  int fd = -1;          // the folder's descriptor while it is held
  bool own_fd = false;  // fd was opened apart from `dir`
  int error = 0;
  int read_error = 0;
  int detail_error = 0;
  bool parked = false;
  bool from_memory = false;  // the rest of the listing lies in `rest`
  std::vector<FolderEntry> rest;
  std::size_t next = 0;
  FileIdentity identity;

  // One entry read from the system's listing.
  bool Read(FolderEntry& entry);
};

struct TargetFolder::State {
  std::string root_path;
  int root = -1;
  FileIdentity root_identity;
  int leaf = -1;                   // the entered folder below the root; -1 while that is the root
  std::string relative;            // the entered folder as last asked for
  std::vector<std::string> names;  // the entered folder's path below the root
  std::vector<FileIdentity> identities;  // of each folder on that path
  bool entered = false;
  struct timespec started {};

  int Current() const { return leaf >= 0 ? leaf : root; }
  FileIdentity CurrentIdentity() const {
    return identities.empty() ? root_identity : identities.back();
  }
  void BackToRoot();
  // One level up through "..", if that is still the folder come down from.
  bool Up();
  // One level down into `name`, made when missing; never through a link.
  Outcome Down(const std::string& name);
};

// The move of `from`, a name in the folder `from_dir` (AT_FDCWD for a path),
// to the name `to` in the folder `to_dir`, never replacing; across file
// systems a synced copy. `placed`, when given, gets the identity of the file
// at its new place.
Outcome MoveAt(int from_dir, const std::string& from, int to_dir, const std::string& to,
               FileIdentity* placed);

}  // namespace qor::platform
