#include "run/find_file.h"

#include <cmath>

#include "core/numbers.h"
#include "platform/files.h"

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

class Walker {
 public:
  Walker(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window)
      : path_(path), params_(params), log_(log), window_(window) {}

  // Walks the folder path_ names. `parent` and `name` open its listing
  // relative to the parent's, so deep trees need no resolution of ever longer
  // paths. path_ is one buffer for the whole walk, grown by a name on the way
  // down and cut back on the way up, so memory stays linear in the depth.
  WalkEnd Walk(const platform::FolderListing* parent, const std::string& name) {
    {
      platform::FolderListing listing = parent == nullptr ? platform::FolderListing(path_)
                                                          : platform::FolderListing(*parent, name);
      platform::FolderEntry entry;
      while (listing.Next(entry)) {
        if (TakeEntry(listing, entry) == WalkEnd::Abandoned) return WalkEnd::Abandoned;
      }
      if (!listing.IsOpen() || listing.ReadError() != 0) ++params_.UnreadFolders;
    }  // the listing is closed before its folder may be removed

    if (params_.DeleteEmpty && platform::IsFolderEmpty(path_)) {
      platform::RemoveFolder(path_);  // a folder that cannot go simply stays
    }
    ShowCounters(params_, window_);
    return window_.Yield() ? WalkEnd::Finished : WalkEnd::Abandoned;
  }

 private:
  WalkEnd TakeEntry(const platform::FolderListing& listing, const platform::FolderEntry& entry) {
    if (!entry.name.empty() && entry.name.front() == '.') {
      // ".", ".." and every hidden entry are passed over.
    } else if (entry.is_folder) {
      if (params_.Recurse) {
        const std::size_t folder_size = path_.size();
        path_ += entry.name;
        path_ += platform::kSeparator;
        const WalkEnd end = Walk(&listing, entry.name);
        path_.resize(folder_size);
        if (end == WalkEnd::Abandoned) return WalkEnd::Abandoned;
      }
    } else if (!entry.has_details) {
      // A file whose date cannot be read is never taken: nothing says it
      // matches.
    } else if (log_.IsLogFile(entry.identity)) {
      // The run's own log, when the current folder lies in the source: moving
      // it would lose every record written after.
    } else if (IsTaken(params_, entry.year, entry.month, entry.day)) {
      MoveTakenFile(listing, entry);
    }

    ++params_.SearchedCount;
    if (params_.SearchedCount % 200 == 0) {
      ShowCounters(params_, window_);
      if (!window_.Yield()) return WalkEnd::Abandoned;
    }
    if (params_.SearchedCount % 50 == 0) {
      if (!window_.Yield()) return WalkEnd::Abandoned;
    }
    return WalkEnd::Finished;
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

  void MoveTakenFile(const platform::FolderListing& listing, const platform::FolderEntry& entry) {
    // No file moves without its record: once the log cannot be written, the
    // walk takes nothing more.
    if (log_.IsBroken()) return;
    const std::string relative = RelativeFolder();
    const std::string name = TrimAtNull(entry.name);
    if (!log_.Append(LogText(relative + name))) return;

    const std::string destination_folder = params_.TargetPath + relative;
    platform::MakeSureFolderPathExists(destination_folder);  // a failure shows in the move
    const platform::Outcome moved =
        platform::MoveEntryNoReplace(listing, name, destination_folder + name);
    if (moved.ok()) {
      log_.AppendLine(std::string(kMovedTo) + LogText(params_.TargetPath));
    } else {
      ++params_.FailedCount;
      log_.AppendLine(std::string(kNotMoved) + platform::ErrorText(moved.error));
    }
    ++params_.MovedCount;
    params_.MovedKB += KilobytesHalfEven(entry.size);
  }

  std::string path_;
  SearchParams& params_;
  RunLog& log_;
  WalkObserver& window_;
};

}  // namespace

WalkEnd FindFile(const std::string& path, SearchParams& params, RunLog& log, WalkObserver& window) {
  Walker walker(path, params, log, window);
  return walker.Walk(nullptr, std::string());
}

bool IsTaken(const SearchParams& params, int year, int month, int day) {
  switch (params.CompareMode) {
    case kCompareEqual:
      return year == params.Year && month == params.Month && day == params.Day;
    case kCompareBefore:
      return year < params.Year && month < params.Month && day < params.Day;
    default:
      return year > params.Year && month > params.Month && day > params.Day;
  }
}

std::string TrimAtNull(std::string_view text) {
  const std::size_t nul = text.find('\0');
  return std::string(nul == std::string_view::npos ? text : text.substr(0, nul));
}

std::string AddBackslash(const std::string& path) {
  if (!path.empty() && path.back() == platform::kSeparator) return path;
  return path + platform::kSeparator;
}

std::string LogText(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    // The backslash is escaped too, so that no name can spell out another
    // name's escape and every entry names exactly one file.
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      out += "\\x";
      out.push_back(kHex[byte >> 4]);
      out.push_back(kHex[byte & 15]);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace qor
