// The run's target folder on Windows: the folders below it are made and
// entered one name at a time, never through a link or junction, and held
// open without delete sharing while entered, so that none of them can be
// renamed or swapped for a link before the moves into it are done. The run's
// journal lies in the root, or for a date folder in the folder that holds it.

#include <functional>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/win32/listing.h"
#include "platform/win32/owned_handle.h"
#include "platform/win32/run_journal.h"

namespace qor::platform {

namespace {

// The folders of `relative` below the root, one step down each; none when
// one of them is "." or "..", or holds a separator: such a path would lead
// up or sideways out of the target, and is refused before anything is made.
std::optional<std::vector<std::string>> StepsDown(const std::string& relative) {
  std::vector<std::string> names = FolderNames(std::string_view(relative), kSeparator);
  for (const std::string& name : names) {
    if (!IsPlainName(name, kSeparator)) return std::nullopt;
  }
  return names;
}

}  // namespace

struct TargetFolder::State {
  std::string root_path;
  std::wstring root;  // "\\?\" form, ending with "\"; empty until first entered
  Handle root_handle;
  std::vector<std::string> names;  // the entered folder's path below the root
  std::vector<Handle> held;        // one for each of `names`
  std::wstring current;            // the entered folder, ending with "\"
  bool entered = false;
  Handle parent;  // the root's, when the journal lies there; outlives the journal
  std::optional<RunJournal> journal;  // made when the root is first entered
  std::string source_root;            // for the journal; none without it
  std::function<LogMark()> log_mark;
  bool journal_in_parent = false;
  std::uint64_t volume = 0;  // the root's volume serial number, once asked

  // The run's journal, made when first asked for; none without a source.
  RunJournal* Journal() {
    if (journal || source_root.empty() || !root_handle.IsValid()) {
      return journal ? &*journal : nullptr;
    }
    if (!journal_in_parent) {
      journal.emplace(root, root_handle.get(), source_root, log_mark);
      return &*journal;
    }
    // The folder that holds the root, as a later run into it names it.
    const std::size_t cut = root.rfind(L'\\', root.size() - 2);
    const std::wstring holder = root.substr(0, cut + 1);
    parent = OpenFolder(holder, true);
    journal.emplace(holder, parent.IsValid() ? parent.get() : nullptr, source_root, log_mark,
                    Narrow(std::wstring_view(root).substr(cut + 1)));
    return &*journal;
  }

  void BackTo(std::size_t depth) {
    while (names.size() > depth) {
      names.pop_back();
      held.pop_back();
      current.resize(current.rfind(L'\\', current.size() - 2) + 1);
    }
  }

  // One level down into `name`, made when missing; never through a link.
  Outcome Down(const std::string& name) {
    const std::wstring path = current + Widen(name);
    if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      return {LastError()};
    }
    Handle folder = OpenFolder(path, false);
    if (!folder.IsValid()) return {LastError()};
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(folder.get(), &info)) return {LastError()};
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {kLinkInTargetPath};
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {ERROR_DIRECTORY};
    names.push_back(name);
    held.push_back(std::move(folder));
    current = path + L'\\';
    return {};
  }
};

TargetFolder::TargetFolder(const std::string& root) : state_(std::make_unique<State>()) {
  state_->root_path = root;
}

TargetFolder::~TargetFolder() = default;

Outcome TargetFolder::Enter(const std::string& relative) {
  State& state = *state_;
  const std::optional<std::vector<std::string>> wanted = StepsDown(relative);
  if (!wanted) {
    state.entered = false;
    return {ERROR_INVALID_NAME};
  }
  if (!state.root_handle.IsValid()) {
    // Made here rather than at the start, as every folder below it is. The
    // root itself may be a link or junction: the user chose it.
    if (const Outcome made = MakeSureFolderPathExists(state.root_path); !made.ok()) return made;
    const std::wstring root = WithBackslash(SystemPath(state.root_path));
    if (root.empty()) return {ERROR_BAD_PATHNAME};
    Handle handle = OpenFolder(root, true);
    if (!handle.IsValid()) return {LastError()};
    state.root = root;
    state.root_handle = std::move(handle);
    state.current = state.root;
    if (RunJournal* journal = state.Journal()) journal->Start();
  }
  if (state.entered && *wanted == state.names) return {};

  std::size_t common = 0;
  while (common < wanted->size() && common < state.names.size() &&
         (*wanted)[common] == state.names[common]) {
    ++common;
  }
  state.entered = false;
  state.BackTo(common);
  for (std::size_t i = state.names.size(); i < wanted->size(); ++i) {
    if (const Outcome down = state.Down((*wanted)[i]); !down.ok()) {
      state.BackTo(0);
      return down;
    }
  }
  state.entered = true;
  return {};
}

Outcome MoveIntoTarget(TargetFolder::State& target, const FolderListing::State& folder,
                       const std::string& name, const std::string& entry, bool* across) {
  if (!target.entered || !folder.folder_handle.IsValid()) return {ERROR_INVALID_HANDLE};
  const std::wstring wide = Widen(name);
  // Only a move with its log entry is recorded: a later run logs what it
  // finishes.
  return MoveSystemPaths(folder.folder + wide, target.current + wide,
                         entry.empty() ? nullptr : target.Journal(), entry, across);
}

bool PlaceInTarget(TargetFolder::State& target, const std::string& name, TargetPlace& place) {
  if (!target.entered) return false;
  // Every folder below the root lies on its volume: none is entered
  // through a link.
  if (target.volume == 0) target.volume = HandleIdentity(target.root_handle.get()).device;
  place.to = target.current + Widen(name);
  place.volume = target.volume;
  place.journal = target.Journal();
  return true;
}

Outcome TargetFolder::MoveHere(const FolderListing& folder, const std::string& name,
                               const std::string& entry) {
  bool across = false;
  const Outcome moved = MoveIntoTarget(*state_, *folder.state_, name, entry, &across);
  // Let go of at once: the caller syncs its log only at its end.
  if (RunJournal* journal = entry.empty() || !across ? nullptr : state_->Journal()) {
    journal->Clear();
  }
  return moved;
}

Outcome TargetFolder::SyncMoves() {
  // NTFS writes its changes of names to its own log in their order: the
  // flush that brings the run log to the disk brings the renames before it.
  return {};
}

void TargetFolder::KeepJournal(const std::string& source_root, std::function<LogMark()> log,
                               bool in_parent) {
  state_->source_root = source_root;
  state_->log_mark = std::move(log);
  state_->journal_in_parent = in_parent;
}

std::string TargetFolder::JournalProblem() const {
  return state_->journal ? state_->journal->Problem() : std::string();
}

bool TargetFolder::IdentityOf(const std::string& name, FileIdentity& identity) const {
  if (!state_->entered) return false;
  const Handle file = OpenForAttributes(state_->current + Widen(name), false);
  if (!file.IsValid()) return false;
  identity = HandleIdentity(file.get());
  return identity != FileIdentity{};
}

Outcome TargetFolder::Probe(const std::string& relative, const std::string& name) const {
  const std::optional<std::vector<std::string>> parts = StepsDown(relative);
  if (!parts) return {ERROR_INVALID_NAME};
  const auto missing = [](int error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  };
  std::wstring at = WithBackslash(SystemPath(state_->root_path));
  if (at.empty()) return {ERROR_BAD_PATHNAME};
  // The root may be a link or junction (the user chose it): followed.
  {
    const Handle root = OpenFolder(at, true);
    if (!root.IsValid()) {
      const int error = LastError();
      return missing(error) ? Outcome{} : Outcome{error};
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(root.get(), &info)) return {LastError()};
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return {ERROR_DIRECTORY};
  }
  for (const std::string& part : *parts) {
    // The entry's own attributes: a link or junction is never followed.
    const std::wstring path = at + Widen(part);
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      // A folder still to be made holds no name yet.
      const int error = LastError();
      return missing(error) ? Outcome{} : Outcome{error};
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return {kLinkInTargetPath};
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {ERROR_DIRECTORY};
    at = path + L'\\';
  }
  if (::GetFileAttributesW((at + Widen(name)).c_str()) != INVALID_FILE_ATTRIBUTES) {
    return {ERROR_ALREADY_EXISTS};
  }
  const int error = LastError();
  return missing(error) ? Outcome{} : Outcome{error};
}

}  // namespace qor::platform
