#include "cli/log_place.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "cli/console_checks.h"
#include "platform/files.h"
#include "platform/path_compare.h"
#include "platform/text_file.h"
#include "run/log_escapes.h"
#include "run/log_format.h"

namespace qor::cli {

namespace {

// Enough of a file to tell a run log from anything else; a line cut off
// there is not judged.
constexpr std::size_t kJudgedBytes = 64 * 1024;
constexpr int kMostNumbers = 9999;

// True when the file's first lines (up to kJudgedBytes) are all entries of a
// run log, each saying whether its file moved, and there is at least one
// whole line. The log's last line may be cut off by a run that was killed.
bool HoldsRunLog(const std::string& path) {
  std::string text;
  if (!platform::ReadEntireFile(path, text, kJudgedBytes).ok()) return false;
  std::string_view rest(text);
  bool whole_line = false;
  for (std::size_t end; (end = rest.find("\r\n")) != std::string_view::npos;
       rest.remove_prefix(end + 2)) {
    const std::string_view line = rest.substr(0, end);
    if (line.find(kMovedTo) == std::string_view::npos &&
        line.find(kNotMoved) == std::string_view::npos) {
      return false;
    }
    whole_line = true;
  }
  return whole_line;
}

// The folder that holds `path`, as the file system resolves it; empty when
// it cannot be resolved.
std::string RealFolderOf(const std::string& path) {
  const std::size_t cut = path.find_last_of(platform::kSeparator);
  if (cut == std::string::npos) return platform::RealPath(".");
  return platform::RealPath(cut == 0 ? path.substr(0, 1) : path.substr(0, cut));
}

// True when `path` leads to something other than a regular file: a device,
// a pipe or a folder, which would keep no record of the run (links
// followed). False when nothing is there or it cannot be told.
bool IsOtherThanFile(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(
      std::filesystem::path(std::u8string(path.begin(), path.end())), error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

bool Refuse(const std::string& text) {
  PrintError(text);
  return false;
}

bool CannotCreate(const std::string& path, int error) {
  return Refuse("the log cannot be created: " + LogText(path) + ": " + platform::ErrorText(error));
}

// Creates `first` or the first free numbered name after it; false after
// saying why not.
bool CreateFree(RunLog& log, const std::string& first, int number, std::string& path, bool* made) {
  for (; number <= kMostNumbers; ++number) {
    path = number == 1 ? first : NumberedName(first, number);
    const bool there = platform::EntryExists(path);
    const platform::Outcome created = log.Create(path, platform::TextFile::IfNotEmpty::Refuse);
    if (created.ok()) {
      if (made != nullptr) *made = !there;
      return true;
    }
    // Held by another run, holding a record, or not this user's: all stay
    // as they are.
    if (created.error != platform::kNotEmpty && created.error != platform::kInUseByAnotherRun &&
        created.error != platform::kNotThisUsersFile) {
      return CannotCreate(path, created.error);
    }
  }
  return Refuse("the log cannot be created: every name up to " + LogText(path) + " is taken");
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return path;
#ifdef _WIN32
  const bool absolute_given = path.starts_with("\\\\") || (path.size() >= 3 && path[1] == ':' &&
                                                           (path[2] == '\\' || path[2] == '/'));
#else
  const bool absolute_given = path.front() == '/';
#endif
  if (absolute_given) return path;
  const bool ends_with_separator = path.back() == platform::kSeparator;
  std::string absolute = platform::RealPath(path);
  if (absolute.empty()) {
    // Not there yet (a preview's target): as the system would take it from
    // here (on Windows also "C:folder" and "\\folder").
    std::error_code error;
    const std::u8string made =
        std::filesystem::absolute(std::u8string(path.begin(), path.end()), error).u8string();
    if (error || made.empty()) return path;
    absolute.assign(made.begin(), made.end());
  }
  if (ends_with_separator && absolute.back() != platform::kSeparator) {
    absolute += platform::kSeparator;
  }
  return absolute;
}

std::optional<std::string> OpenCommandLog(RunLog& log, const std::optional<std::string>& asked,
                                          const std::string& default_name,
                                          const std::string& source, bool* made) {
  std::string path;
  if (made != nullptr) *made = false;
  if (!asked) {
    if (!CreateFree(log, default_name, 1, path, made)) return std::nullopt;
    return path;
  }
  const std::string folder = RealFolderOf(*asked);
  const std::string real_source = platform::RealPath(source);
  if (!folder.empty() && !real_source.empty() &&
      platform::RelateFolders(folder, real_source) != platform::FolderRelation::Apart) {
    Refuse("--log " + LogText(*asked) +
           " lies inside SOURCE, where the run would take it for a file to move; "
           "give a place outside SOURCE");
    return std::nullopt;
  }
  if (IsOtherThanFile(*asked)) {
    Refuse("--log " + LogText(*asked) +
           " is not a regular file (a device, a pipe or a folder keeps no record of the run); "
           "give a new or empty file");
    return std::nullopt;
  }
  const platform::Outcome created = log.Create(*asked, platform::TextFile::IfNotEmpty::Refuse);
  if (created.ok()) return *asked;
  if (created.error == platform::kNotEmpty && !HoldsRunLog(*asked)) {
    Refuse("--log " + LogText(*asked) +
           " holds something other than a run log, and is left as it is; "
           "give a new or empty file");
    return std::nullopt;
  }
  if (created.error != platform::kNotEmpty && created.error != platform::kInUseByAnotherRun) {
    CannotCreate(*asked, created.error);
    return std::nullopt;
  }
  if (!CreateFree(log, *asked, 2, path, made)) return std::nullopt;
  return path;
}

}  // namespace qor::cli
