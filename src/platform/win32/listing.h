#pragma once

// What the Windows file-system layer's own files share: the state behind a
// folder listing, and the move between two "\\?\" paths.

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/wide.h"

namespace qor::platform {

// A link: a reparse point whose tag stands for another name (a symbolic
// link, a junction). Other reparse points (a cloud placeholder, a
// deduplicated file) are the file or folder itself.
inline bool IsLinkReparsePoint(DWORD attributes, DWORD tag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(tag);
}

// ERROR_DIRECTORY_NOT_SUPPORTED, which mingw-w64's headers do not name yet:
// a folder found where a file was listed, which never moves whole.
inline constexpr int kIsAFolder = 336;

// A real folder: a junction or a link to a folder is an entry of its own.
inline bool IsRealFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// "." or "..", which a listing of a folder other than a drive's root holds.
inline bool IsDots(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

inline std::wstring WithBackslash(std::wstring path) {
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path;
}

// Opens a folder for listing, held against renaming and removal (no delete
// sharing) while the handle lives; with `follow` false a link or junction is
// opened itself, and so is never taken for the folder it leads to.
Handle OpenFolder(const std::wstring& path, bool follow);

// The volume serial number and file index of an open file; zero when they
// cannot be read.
FileIdentity HandleIdentity(HANDLE handle);

// The path an open file or folder has now, in "\\?\" form; empty when the
// system cannot say.
std::wstring FinalPath(HANDLE handle);

// Moves the file or link `from` to `to` without ever replacing anything
// there; across volumes by a verified copy, its steps in `journal` when
// given, with the log's `entry`. `across`, when given, learns whether the
// two lie on different volumes.
Outcome MoveSystemPaths(const std::wstring& from, const std::wstring& to,
                        RunJournal* journal = nullptr, const std::string& entry = {},
                        bool* across = nullptr);

struct FolderListing::State {
  // The folder, "\\?\" form, ending with "\".
  std::wstring folder;
  // Held open without delete sharing, so the folder can be neither renamed
  // nor replaced by a link while it is listed.
  Handle folder_handle;
  SearchHandle search;  // closed before the folder's handle
  WIN32_FIND_DATAW data{};
  bool pending = false;  // `data` holds an entry not yet delivered
  bool open = false;
  int error = 0;
  int read_error = 0;
  int detail_error = 0;
  // Parked: the handles are given back and the rest of the listing waits in
  // `rest`, together with the identity the folder must still have when it
  // is opened again.
  bool parked = false;
  bool from_memory = false;
  std::vector<FolderEntry> rest;
  std::size_t next = 0;
  FileIdentity identity;

  void Open(std::wstring system_folder, bool follow);
  // One entry from the system's listing.
  bool Read(FolderEntry& entry);
};

// TargetFolder::MoveHere, its steps in the run's journal with the log's
// `entry`; `across` as for MoveSystemPaths.
Outcome MoveIntoTarget(TargetFolder::State& target, const FolderListing::State& folder,
                       const std::string& name, const std::string& entry, bool* across = nullptr);

// What a batch needs of a move of `name` into the target's entered folder:
// its path there, the volume the target lies on, and the run's journal.
struct TargetPlace {
  std::wstring to;
  std::uint64_t volume = 0;
  RunJournal* journal = nullptr;
};
// False until the target is entered.
bool PlaceInTarget(TargetFolder::State& target, const std::string& name, TargetPlace& place);

}  // namespace qor::platform
