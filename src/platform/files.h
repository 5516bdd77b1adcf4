#pragma once

// File-system operations the program needs, declared once. posix/files.cpp
// implements them for Linux, win32/files.cpp for Windows; callers never see a
// system header.
//
// Paths and names are byte strings as the file system holds them (UTF-8 on
// Windows); folder texts end with the separator.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qor::platform {

// The folder separator the rest of the program joins names with.
#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// Failures found by the program itself rather than reported by the system.
// They lie above every system error code; ErrorText knows their texts.
inline constexpr int kChangedDuringMove = 0x10001;
inline constexpr int kAttributesNotKept = 0x10002;
inline constexpr int kLinkInTargetPath = 0x10003;
inline constexpr int kInUseByAnotherRun = 0x10004;
// A folder took a file's place between the check and the move, and went
// along; it could not be put back.
inline constexpr int kFolderTookItsPlace = 0x10005;
// A file that was to be used only while empty holds something.
inline constexpr int kNotEmpty = 0x10006;
// A copy read back before its source was to go was not the same.
inline constexpr int kCopyDiffers = 0x10007;
// A file that was to be written only if this user made it (anything else,
// another user's file, a link or a pipe, under the name it was to have).
inline constexpr int kNotThisUsersFile = 0x10008;

// The text of one of the program's own failures above; null for any other
// value.
const char* OwnErrorText(int error);

// Outcome of an operation that can fail: `error` is the system's error code
// (errno, or GetLastError on Windows) or one of the program's own failures
// above, 0 on success.
struct Outcome {
  int error = 0;
  // When a failed move could not give the source its own name back: the
  // hidden name it has now, in its own folder.
  std::string kept_as = {};
  bool ok() const { return error == 0; }
};

// ErrorText of the outcome's error, and where the file was left when it
// could not keep its name.
std::string OutcomeText(const Outcome& outcome);

// What tells one file from every other, whatever its name.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

// Where a run log lies and how far it was written at one moment: a journal
// names it, so that a later run finishing the journal's moves can tell which
// of them the log records already.
struct LogMark {
  std::string path;  // absolute
  FileIdentity identity;
  std::uint64_t offset = 0;
};

// One entry of a folder listing.
struct FolderEntry {
  std::string name;
  bool is_folder = false;  // a real folder; a link to a folder is not one
  // False when the entry's details could not be read (it vanished, or its
  // folder may be listed but not entered): date and size are then unknown.
  bool has_details = false;
  // Calendar date of the last write, in UTC.
  int year = 0;
  int month = 0;
  int day = 0;
  std::uint64_t size = 0;  // bytes; a link's own size
  FileIdentity identity;   // known with the details
};

// An open listing of one folder. "." and ".." come as entries. Symbolic links
// are never followed: a link is an entry of its own, never a folder.
class FolderListing {
 public:
  // Opens `folder` (its text may end with "/").
  explicit FolderListing(const std::string& folder);
  // Opens the subfolder `name` of an open listing, without following a link
  // and without resolving the whole path again.
  FolderListing(const FolderListing& parent, const std::string& name);
  ~FolderListing();
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  bool IsOpen() const;
  // The errno of a failed open, 0 when open.
  int OpenError() const;
  // The errno of a read that failed part-way through the listing, 0 when the
  // listing ended normally.
  int ReadError() const;
  // The first errno, other than "vanished", met while reading an entry's
  // details: the folder could be listed but its entries not examined.
  int DetailError() const;
  // The next entry; false when there is none left. An entry whose details
  // cannot be read is still delivered, without them.
  bool Next(FolderEntry& entry);

  // Reads the rest of the listing into memory and gives the folder's
  // descriptor back, so that a walk keeps only a bounded number open however
  // deep the tree. Next goes on from memory.
  void Park();
  bool IsParked() const;
  // Opens a parked folder again through its open subfolder `child`. False,
  // with the rest of the listing dropped and ReadError set, when the folder
  // found there is no longer the one that was parked (moved meanwhile).
  bool Reopen(const FolderListing& child);

  // Removes the subfolder `name` if it holds nothing; a folder that is not
  // empty stays, and the result says why.
  Outcome RemoveEmptySubfolder(const std::string& name) const;

  // The system's listing, opaque to callers.
  struct State;

 private:
  friend Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                                    const std::string& to);
  friend class TargetFolder;
  friend class MoveBatch;
  std::unique_ptr<State> state_;
};

// The folder a run writes into, and the folders below it that the run makes
// and enters without following any link: a link there could lead the moved
// files back into the source, or anywhere else.
class TargetFolder {
 public:
  // `root` is the run's target folder, a link to a folder allowed (the user
  // chose it).
  explicit TargetFolder(const std::string& root);
  ~TargetFolder();
  TargetFolder(const TargetFolder&) = delete;
  TargetFolder& operator=(const TargetFolder&) = delete;

  // Makes sure the folder `relative` ("" or "a/b/") below the root exists
  // and enters it. A link on the way fails with kLinkInTargetPath. What an
  // earlier, killed run left there is RecoverKilledRuns's to finish.
  Outcome Enter(const std::string& relative);
  // Moves the entry `name` of `folder` into the entered folder under the same
  // name, with MoveFileNoReplace's guarantees. `entry` is the run log's entry
  // for the file once moved, kept in the journal for a later run that
  // finishes the move after a kill; without it nothing is recorded.
  Outcome MoveHere(const FolderListing& folder, const std::string& name,
                   const std::string& entry = {});
  // The renames into it so far on the disk, with the folders they left:
  // before a log that names them is brought there, else a power cut could
  // undo moves that the log names. Success, or why they may not be.
  Outcome SyncMoves();
  // The identity of `name` in the entered folder; false when it has none.
  bool IdentityOf(const std::string& name, FileIdentity& identity) const;
  // The run's source folder and its log, named in the run's journal: a
  // later run finishing this one's moves after a kill acts below the source
  // only, and looks for their entries in the log. Without them no journal
  // is kept. With `in_parent` it lies in the folder that holds the root (a
  // date folder), where a later run into that folder finds it, whatever its
  // date.
  void KeepJournal(const std::string& source_root, std::function<LogMark()> log,
                   bool in_parent = false);
  // Why this run keeps no journal, so that a kill would leave duplicates or
  // temporaries that no later run clears; empty while it keeps one.
  std::string JournalProblem() const;
  // Whether `name` in the folder `relative` below the root is free for a
  // move, found without making, entering or following anything: success
  // when it is (missing folders would be made), EEXIST when the name is
  // taken, kLinkInTargetPath when a link stands on the way, else why the
  // way is barred.
  Outcome Probe(const std::string& relative, const std::string& name) const;

  struct State;

 private:
  friend class MoveBatch;
  std::unique_ptr<State> state_;
};

// Moves the file (or link) `from` to the full name `to`. Never replaces
// anything at `to`. Across file systems it copies into a file without a
// name where the file system allows, else a "."-prefixed temporary, in the
// destination folder (owner, permission bits, extended attributes, ACLs,
// times and holes carried over, synced), links or renames that into place
// without replacing, takes the source away from its name and removes it
// only when it is still the very file copied, unchanged; on any failure the
// copy is removed and `from` is left as it was.
Outcome MoveFileNoReplace(const std::string& from, const std::string& to);

// MoveFileNoReplace for the entry `name` of an open listing: the source is
// reached through the listing itself, so neither a long path nor a parent
// folder swapped for a link since the listing began can lead elsewhere.
Outcome MoveEntryNoReplace(const FolderListing& folder, const std::string& name,
                           const std::string& to);

// What the recovery of killed runs needs of the run that recovers.
class RecoveryLog {
 public:
  virtual ~RecoveryLog() = default;
  // Whether `entry` is a run log entry for the file `relative` (below its
  // source folder) moved into the folder `target`, exactly as the log
  // writer writes one.
  virtual bool IsEntryFor(const std::string& entry, const std::string& relative,
                          const std::string& target) const = 0;
  // The file whose entry `line` began, `line` being the last line of a
  // killed run's log, cut short before its ending: its place below the
  // source, and the entry that tells it moved into `target`. False when the
  // line is no entry begun.
  virtual bool BegunEntry(const std::string& line, const std::string& target, std::string& relative,
                          std::string& entry) const = 0;
  // This run's log and its size now.
  virtual LogMark Mark() const = 0;
  // Writes the entries of moves that left their source and that no log
  // records yet, before their journal goes; false when they could not be.
  virtual bool Write(const std::vector<std::string>& entries) = 0;
};

// What a run did with the work that killed runs left where it writes.
struct Recovery {
  // Moves a killed run made or this run finished, written into this run's
  // log because no other log records them.
  std::size_t logged = 0;
  // What it found but left as it was: a source that changed since its copy,
  // or one whose name was taken again.
  int left = 0;
  // Sources that are neither back under their name nor gone, by their whole
  // hidden path: their journal stays until they are.
  std::vector<std::string> hidden;
  // Journals that are not this program's for this folder: never acted on,
  // never removed.
  struct Refused {
    std::string path;  // whole
    std::string why;
  };
  std::vector<Refused> refused;
};

// Finishes the work of every killed run whose journal lies in the folder
// `root`: its temporaries go, a copy in place whose source is still there
// and equal loses that source, and a source under a private name goes when
// its copy is equal, else back under its name without replacing anything.
// Every move that left its source and that no log the journal names holds
// is written into `log`. A journal that a live run holds is left alone, and
// so is every name that no journal names, and every journal that is not
// wholly as this program writes one for this folder.
Recovery RecoverKilledRuns(const std::string& root, RecoveryLog& log);

// Creates every missing folder of `path` (mode 0777 less the umask). Success
// when the whole path is a folder at the end.
Outcome MakeSureFolderPathExists(const std::string& path);

// True exactly when `path` is a folder holding no entry but "." and "..".
bool IsFolderEmpty(const std::string& path);

// Removes an empty folder.
Outcome RemoveFolder(const std::string& path);

// True when `path` names an existing folder (links followed).
bool IsDirectory(const std::string& path);

// True when anything exists at `path` (links followed).
bool PathExists(const std::string& path);

// True when `path` itself exists, a link even when it leads nowhere.
bool EntryExists(const std::string& path);

// True when `path`, made absolute against the current folder, fits the
// system's limits: no longer than PATH_MAX, no component longer than NAME_MAX.
bool IsWellFormedPath(const std::string& path);

// The canonical absolute form of an existing path (links, "." and ".."
// resolved); empty when it cannot be resolved.
std::string RealPath(const std::string& path);

// The system's text for an errno value, for example "File exists", or the
// text of one of the program's own failures.
std::string ErrorText(int error);

}  // namespace qor::platform
