#pragma once

// Real temporary folders and files with real timestamps for the tests.

#ifdef _WIN32
#include <windows.h>
// winbase.h's old macro would rename the walk observer's Yield.
#undef Yield
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>

#include "platform/files.h"

namespace qor::testing {

// Paths in the tests are UTF-8, as the program's own.
inline std::filesystem::path FsPath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

// A fresh folder below `parent` (default: $TMPDIR, or the system's folder for
// temporary files), removed with everything in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& parent = DefaultParent()) {
    static std::mt19937_64 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      const std::string candidate =
          parent + platform::kSeparator + "qor-test-" + std::to_string(random() % 1000000000);
      if (std::filesystem::create_directory(FsPath(candidate))) path_ = candidate;
    }
    if (path_.empty()) std::abort();
  }
  ~TempFolder() {
    std::error_code ignored;
    // Folders a test made unreadable must become readable to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             FsPath(path_), std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
      }
    }
    std::filesystem::remove_all(FsPath(path_), ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, without a trailing separator.
  const std::string& path() const { return path_; }
  // The folder with a trailing separator.
  std::string slash() const { return path_ + platform::kSeparator; }

  static std::string DefaultParent() {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && *tmp != '\0') return tmp;
    const std::u8string system = std::filesystem::temp_directory_path().u8string();
    std::string parent(system.begin(), system.end());
    while (parent.size() > 1 && parent.back() == platform::kSeparator) parent.pop_back();
    return parent;
  }

 private:
  std::string path_;
};

// Seconds since the epoch of a UTC date and time.
inline std::int64_t UtcSeconds(int year, int month, int day, int hour = 12, int minute = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
#ifdef _WIN32
  return static_cast<std::int64_t>(::_mkgmtime(&tm));
#else
  return static_cast<std::int64_t>(::timegm(&tm));
#endif
}

// Sets the last-write time of `path` itself (a link's own, not its target's).
inline void SetModified(const std::string& path, std::int64_t seconds, long nanoseconds = 0) {
#ifdef _WIN32
  // 100-ns ticks since 1601-01-01.
  const std::uint64_t ticks =
      static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000u + nanoseconds / 100;
  const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const std::wstring wide = FsPath(path).wstring();
  const HANDLE file = ::CreateFileW(
      wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const bool set = file != INVALID_HANDLE_VALUE && ::SetFileTime(file, nullptr, &time, &time);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  if (!set) std::abort();
#else
  const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                    {static_cast<time_t>(seconds), nanoseconds}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) std::abort();
#endif
}

// Writes `content` to `path`, creating its folders, and dates it.
inline void WriteFile(const std::string& path, const std::string& content, std::int64_t seconds) {
  std::filesystem::create_directories(FsPath(path).parent_path());
  {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out << content;
  }
  SetModified(path, seconds);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(FsPath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes `folder` the process's current folder (where run logs land) until the
// object goes.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(FsPath(folder));
  }
  ~CurrentFolder() { std::filesystem::current_path(old_); }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::filesystem::path old_;
};

// The names in a folder, "." and ".." left out, in sorted order.
inline std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(FsPath(folder), error)) {
    const std::u8string name = entry.path().filename().u8string();
    names.emplace(name.begin(), name.end());
  }
  return names;
}

// True when anything, a dangling link included, is at `path`.
inline bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(FsPath(path), error).type() !=
         std::filesystem::file_type::not_found;
}

}  // namespace qor::testing
