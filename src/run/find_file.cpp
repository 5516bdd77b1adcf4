#include "run/find_file.h"

#include <cmath>
#include <memory>
#include <tuple>
#include <unordered_set>
#include <vector>

#include "core/numbers.h"
#include "platform/files.h"
#include "platform/move_batch.h"
#include "platform/path_compare.h"
#include "run/log_escapes.h"
#include "run/log_format.h"
#include "run/name_filter.h"
#include "run/path_text.h"
#include "run/recovery_log.h"

namespace qor {

namespace {

// Bytes to whole kilobytes, an exact half going to the even neighbour.
std::int64_t KilobytesHalfEven(std::uint64_t bytes) {
  const std::uint64_t whole = bytes / 1024;
  const std::uint64_t rest = bytes % 1024;
  std::uint64_t kb = whole;
  if (rest > 512 || (rest == 512 && (whole & 1) == 1)) ++kb;
  return static_cast<std::int64_t>(kb);
}

void ShowCounters(const SearchParams& params, WalkObserver& window) {
  window.SetCounterLabel(0, IntegerText(params.SearchedCount));
  window.SetCounterLabel(1, IntegerText(params.MovedCount));
  window.SetCounterLabel(2, IntegerText(params.MovedKB));
}

// How many folder listings a walk keeps open at once; deeper levels park
// their parents' listings in memory, so depth is bounded by memory alone.
constexpr std::size_t kOpenListings = 256;

class Walker {
 public:
  Walker(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window)
      : path_(path),
        params_(params),
        log_(log),
        window_(window),
        target_(params.TargetPath),
        batch_([this] { return window_.Yield(); }) {
    rest_room_ = EntryEndingRoom(params.TargetPath);
    if (params.VerifyCopies) batch_.VerifyCopies();
    batch_.SetJobs(params.Jobs);
    // The entries of a batch's moves on the disk before its journal lets go
    // of them: else a power cut could leave moves that no log names.
    batch_.WhenSettled([this](bool durable) { return durable ? log_.Sync() : log_.FlushHeld(); });
    target_.KeepJournal(
        params.SourcePath, [this] { return log_.Mark(); }, params.DateFolder);
    // Only a target that holds the source can have the walk meet a moved
    // file again; then every move is remembered, so none is taken twice.
    remember_moves_ = platform::RelateFolders(platform::RealPath(params.SourcePath),
                                              platform::RealPath(params.TargetPath)) !=
                      platform::FolderRelation::Apart;
  }

  // Walks the tree below path_ depth first, entering each subfolder when its
  // entry is met, with a stack of levels on the heap rather than the call
  // stack. path_ is one buffer for the whole walk, grown by a name on the way
  // down and cut back on the way up.
  std::string JournalProblem() const { return target_.JournalProblem(); }

  // After a stop: the moves still pending are given up, and those made are
  // brought to the disk before the log that names them.
  void GiveUp() {
    batch_.Abandon();
    batch_.Finish();
  }

  WalkEnd Walk() {
    levels_.push_back({std::make_unique<platform::FolderListing>(path_), 0, {}, false});
    platform::FolderEntry entry;
    while (!levels_.empty()) {
      if (window_.StopRequested()) return WalkEnd::Abandoned;
      Level& level = levels_.back();
      if (!level.listing->Next(entry)) {
        if (EndFolder() == WalkEnd::Abandoned) return WalkEnd::Abandoned;
        // The subfolder's entry in its parent's listing counts now that its
        // own walk is over.
        if (!levels_.empty() && CountEntry() == WalkEnd::Abandoned) return WalkEnd::Abandoned;
        continue;
      }
      if (entry.is_folder && params_.Recurse && !IsHidden(entry.name) && Enters(entry.name)) {
        EnterFolder(entry.name);
        continue;
      }
      if (TakeEntry(*level.listing, entry) == WalkEnd::Abandoned) return WalkEnd::Abandoned;
      if (CountEntry() == WalkEnd::Abandoned) return WalkEnd::Abandoned;
    }
    return WalkEnd::Finished;
  }

 private:
  struct Level {
    std::unique_ptr<platform::FolderListing> listing;
    std::size_t parent_size;  // length of path_ in the parent folder
    std::string name;         // the folder's name in its parent
    bool lost_entry;          // a file moved out of it, or a subfolder removed
  };

  static bool IsHidden(const std::string& name) { return !name.empty() && name.front() == '.'; }

  void EnterFolder(const std::string& name) {
    Level& parent = levels_.back();
    const std::size_t parent_size = path_.size();
    path_ += name;
    path_ += platform::kSeparator;
    auto listing = std::make_unique<platform::FolderListing>(*parent.listing, name);
    if (levels_.size() - parked_ >= kOpenListings) levels_[parked_++].listing->Park();
    levels_.push_back({std::move(listing), parent_size, name, false});
  }

  // The end of the deepest folder: it is closed, removed when empty and
  // chosen so, and the counters shown.
  WalkEnd EndFolder() {
    Level& level = levels_.back();
    platform::FolderListing& listing = *level.listing;
    if (!listing.IsOpen() || listing.ReadError() != 0 || listing.DetailError() != 0) {
      ++params_.UnreadFolders;
      const int error = !listing.IsOpen()          ? listing.OpenError()
                        : listing.ReadError() != 0 ? listing.ReadError()
                                                   : listing.DetailError();
      window_.FolderUnread(RelativeFolder(), platform::ErrorText(error));
    }
    platform::FolderListing* parent =
        levels_.size() >= 2 ? levels_[levels_.size() - 2].listing.get() : nullptr;
    if (parent != nullptr && parent->IsParked()) {
      // Back through "..": the parent gets its descriptor again before the
      // child's goes.
      parent->Reopen(listing);
      --parked_;
    }
    const std::string name = std::move(level.name);
    const std::size_t parent_size = level.parent_size;
    const bool emptied_by_run = level.lost_entry;
    levels_.pop_back();  // the listing is closed before its folder may be removed

    // At the end of the walk every move still on its way is completed before
    // the counters are shown for the last time.
    if (parent == nullptr && !batch_.Finish()) return WalkEnd::Abandoned;
    if (params_.DeleteEmpty && params_.DryRun) {
      // A dry run removes nothing.
    } else if (params_.DeleteEmpty && params_.EmptiedOnly) {
      // Only a folder the run took something from, or whose emptied subfolder
      // goes; whether it is empty is known once the moves before are done.
      if (parent != nullptr && emptied_by_run) {
        batch_.RemoveEmptySubfolder(*parent, name);
        levels_.back().lost_entry = true;
      }
    } else if (params_.DeleteEmpty) {
      // A folder that cannot go, or is not empty once the moves asked for
      // before are done, simply stays.
      if (parent != nullptr) {
        batch_.RemoveEmptySubfolder(*parent, name);
      } else {
        batch_.RemoveEmptyFolder(path_);
      }
    }
    log_.Flush();
    ShowCounters(params_, window_);
    const bool go_on = window_.Yield();
    path_.resize(parent_size);
    return go_on ? WalkEnd::Finished : WalkEnd::Abandoned;
  }

  WalkEnd CountEntry() {
    ++params_.SearchedCount;
    // An entry's ending waits for the next entry's first piece, but never
    // long: a kill must find the moves done logged as done.
    if (params_.SearchedCount % 50 == 0) log_.Flush();
    if (params_.SearchedCount % 200 == 0) {
      ShowCounters(params_, window_);
      if (!window_.Yield()) return WalkEnd::Abandoned;
    }
    if (params_.SearchedCount % 50 == 0) {
      if (!window_.Yield()) return WalkEnd::Abandoned;
    }
    return WalkEnd::Finished;
  }

  WalkEnd TakeEntry(const platform::FolderListing& listing, const platform::FolderEntry& entry) {
    if (IsHidden(entry.name) || entry.is_folder) {
      // ".", ".." and every hidden entry are passed over; folders are walked
      // when the walk recurses, never moved.
    } else if (!entry.has_details) {
      // A file whose date cannot be read is never taken: nothing says it
      // matches.
    } else if (log_.IsLogFile(entry.identity)) {
      // The run's own log, when the current folder lies in the source: moving
      // it would lose every record written after.
    } else if (remember_moves_ && moved_.count(entry.identity) != 0) {
      // Moved by this run already, into a part of the source not yet walked.
    } else if (IsTaken(params_, entry.year, entry.month, entry.day) && Chosen(entry)) {
      if (params_.DryRun) {
        PreviewTakenFile(entry);
      } else {
        levels_.back().lost_entry = true;
        return MoveTakenFile(listing, entry);
      }
    }
    return WalkEnd::Finished;
  }

  // A folder the filter or the depth keeps the walk out of is never opened;
  // its entry still counts as searched.
  bool Enters(const std::string& name) const {
    if (params_.MaxDepth >= 0 && levels_.size() > static_cast<std::size_t>(params_.MaxDepth)) {
      return false;
    }
    return params_.Filter == nullptr || params_.Filter->EntersFolder(RelativeFolder() + name);
  }
  // A file the filter or its size refuses is passed over like one of
  // another date.
  bool Chosen(const platform::FolderEntry& entry) const {
    if (entry.size < params_.MinSize || entry.size > params_.MaxSize) return false;
    return params_.Filter == nullptr ||
           params_.Filter->TakesFile(RelativeFolder() + TrimAtNull(entry.name));
  }

  // A dry run's taken file: counted as a move would count it, and reported
  // with whether its name below the target is free; nothing is touched.
  void PreviewTakenFile(const platform::FolderEntry& entry) {
    const std::string relative = RelativeFolder();
    const std::string name = TrimAtNull(entry.name);
    const platform::Outcome free = target_.Probe(relative, name);
    if (!free.ok()) ++params_.FailedCount;
    ++params_.MovedCount;
    params_.MovedKB += KilobytesHalfEven(entry.size);
    window_.FileTaken(relative + name, entry.size, free.ok(),
                      free.ok() ? std::string() : platform::ErrorText(free.error));
  }

  // The part of path_ below the source folder, with its trailing "/"; empty
  // for the source folder itself.
  std::string RelativeFolder() const {
    std::string relative;
    if (path_.size() > params_.SourcePath.size())
      relative = path_.substr(params_.SourcePath.size());
    if (relative.size() == 1) relative.clear();
    return relative;
  }

  WalkEnd MoveTakenFile(const platform::FolderListing& listing,
                        const platform::FolderEntry& entry) {
    // No file moves without its record: once the log cannot be written, the
    // walk takes nothing more.
    if (log_.IsBroken()) return WalkEnd::Finished;
    const std::string relative = RelativeFolder();
    const std::string name = TrimAtNull(entry.name);
    std::string first_piece = LogText(relative + name);
    const std::int64_t kilobytes = KilobytesHalfEven(entry.size);

    auto taken = std::make_shared<Taken>(
        Taken{std::move(first_piece), kilobytes, relative + name, entry.size, false});
    if (const platform::Outcome entered = target_.Enter(relative); !entered.ok()) {
      // Recorded after the moves still on their way, in walk order.
      if (!batch_.Finish()) return WalkEnd::Abandoned;
      if (Begin(*taken)) End(*taken, entered, {});
      return WalkEnd::Finished;
    }
    if (!journal_lost_said_) {
      if (const std::string why = target_.JournalProblem(); !why.empty()) {
        journal_lost_said_ = true;
        window_.JournalLost(why);
      }
    }
    platform::MoveBatch::Steps steps;
    steps.entry = taken->first_piece + std::string(kMovedTo) + LogText(params_.TargetPath);
    steps.size = entry.size;
    steps.identity = entry.identity;
    steps.begin = [this, taken] { return Begin(*taken); };
    steps.begin_later = [this, taken] {
      taken->later = true;
      return Begin(*taken);
    };
    steps.end = [this, taken](platform::Outcome moved, platform::FileIdentity placed) {
      End(*taken, moved, placed);
    };
    return batch_.Move(listing, name, target_, std::move(steps)) ? WalkEnd::Finished
                                                                 : WalkEnd::Abandoned;
  }

  // A taken file on its way: its entry's first piece, and what its end
  // reports.
  struct Taken {
    std::string first_piece;
    std::int64_t kilobytes;
    std::string report;  // its name below the source folder
    std::uint64_t size;
    bool later;  // its entry is written whole once it has moved
  };

  // The first piece of a taken file's entry, written just before its source
  // leaves its place, or for a rename whose entry follows it, its room in
  // the log; false when the log has no room for the whole entry.
  bool Begin(const Taken& taken) {
    if (taken.later ? !log_.ReserveEntry(taken.first_piece, rest_room_)
                    : !log_.StartEntry(taken.first_piece, rest_room_)) {
      return false;
    }
    ++params_.MovedCount;
    params_.MovedKB += taken.kilobytes;
    return true;
  }

  // The rest of the entry, once the move is over; the observer hears of it
  // too.
  void End(const Taken& taken, const platform::Outcome& moved,
           const platform::FileIdentity& placed) {
    const EntryEnding ending = EndEntry(moved, params_.TargetPath);
    if (taken.later) {
      log_.HoldEntry(taken.first_piece, ending.text, rest_room_);
    } else {
      log_.EndEntry(ending.text);
    }
    if (moved.error == platform::kInUseByAnotherRun) {
      ++params_.HeldByAnotherRun;
    } else if (!moved.ok()) {
      ++params_.FailedCount;
      if (!moved.kept_as.empty()) ++params_.LeftHidden;
    } else if (remember_moves_) {
      moved_.insert(placed);
    }
    window_.FileTaken(taken.report, taken.size, moved.ok(), ending.reason);
  }

  struct IdentityHash {
    std::size_t operator()(const platform::FileIdentity& id) const {
      return std::hash<std::uint64_t>()(id.inode * 31 + id.device);
    }
  };

  std::string path_;
  SearchParams& params_;
  RunLog& log_;
  WalkObserver& window_;
  bool journal_lost_said_ = false;
  platform::TargetFolder target_;
  platform::MoveBatch batch_;
  std::vector<Level> levels_;
  std::size_t parked_ = 0;  // levels_[0, parked_) have parked listings
  std::size_t rest_room_ = 0;
  bool remember_moves_ = false;
  std::unordered_set<platform::FileIdentity, IdentityHash> moved_;
};

}  // namespace

// Where a run into the target folder keeps its journal, whatever its date.
std::string JournalFolder(const SearchParams& params) {
  if (!params.DateFolder) return params.TargetPath;
  const std::size_t end = params.TargetPath.find_last_not_of(platform::kSeparator);
  const std::size_t cut = params.TargetPath.rfind(platform::kSeparator, end);
  return cut == std::string::npos ? "." : params.TargetPath.substr(0, cut + 1);
}

WalkEnd FindFile(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window) {
  if (!params.DryRun) {
    // What a killed run left where this one writes is finished first, and
    // what no log records yet is logged as moved by this run.
    // The source is looked at too: a killed run the other way round left
    // its copies there.
    RecoveryLogWriter writer(log);
    for (const std::string& root : {JournalFolder(params), params.SourcePath}) {
      const platform::Recovery recovery = platform::RecoverKilledRuns(root, writer);
      params.RecoveredCount += static_cast<std::int32_t>(recovery.logged);
      params.JournalsRefused += static_cast<std::int32_t>(recovery.refused.size());
      params.RecoveryHidden += static_cast<std::int32_t>(recovery.hidden.size());
      LogRecoveryNotes(recovery, log);
    }
  }
  Walker walker(path, params, log, window);
  const WalkEnd end = walker.Walk();
  if (end == WalkEnd::Abandoned) walker.GiveUp();
  params.JournalProblem = walker.JournalProblem();
  return end;
}

bool IsTaken(const SearchParams& params, int year, int month, int day) {
  if (params.WholeDates && params.CompareMode != kCompareEqual) {
    const auto date = std::tie(year, month, day);
    const auto reference = std::tie(params.Year, params.Month, params.Day);
    return params.CompareMode == kCompareBefore ? date < reference : date > reference;
  }
  switch (params.CompareMode) {
    case kCompareEqual:
      return year == params.Year && month == params.Month && day == params.Day;
    case kCompareBefore:
      return year < params.Year && month < params.Month && day < params.Day;
    default:
      return year > params.Year && month > params.Month && day > params.Day;
  }
}

}  // namespace qor
