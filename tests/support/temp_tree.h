#pragma once

// Real temporary folders and files with real timestamps for the tests.

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace qor::testing {

// A fresh folder below `parent` (default: $TMPDIR or /tmp), removed with
// everything in it when the object goes.
class TempFolder {
 public:
  explicit TempFolder(const std::string& parent = DefaultParent()) {
    std::string pattern = parent + "/qor-test-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    // Folders a test made unreadable must become readable to be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             path_, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
      if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
        ::chmod(it->path().c_str(), 0700);
      }
    }
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The folder, without a trailing "/".
  const std::string& path() const { return path_; }
  // The folder with a trailing "/".
  std::string slash() const { return path_ + "/"; }

  static std::string DefaultParent() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
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
  return static_cast<std::int64_t>(::timegm(&tm));
}

inline void SetModified(const std::string& path, std::int64_t seconds, long nanoseconds = 0) {
  const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                    {static_cast<time_t>(seconds), nanoseconds}};
  if (::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) std::abort();
}

// Writes `content` to `path`, creating its folders, and dates it.
inline void WriteFile(const std::string& path, const std::string& content, std::int64_t seconds) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
  }
  SetModified(path, seconds);
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes `folder` the process's current folder (where run logs land) until the
// object goes.
class CurrentFolder {
 public:
  explicit CurrentFolder(const std::string& folder) {
    char buffer[4096];
    if (::getcwd(buffer, sizeof buffer) == nullptr || ::chdir(folder.c_str()) != 0) std::abort();
    old_ = buffer;
  }
  ~CurrentFolder() {
    if (::chdir(old_.c_str()) != 0) std::abort();
  }
  CurrentFolder(const CurrentFolder&) = delete;
  CurrentFolder& operator=(const CurrentFolder&) = delete;

 private:
  std::string old_;
};

// The names in a folder, "." and ".." left out, in sorted order.
inline std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (const dirent* d = ::readdir(dir)) {
      const std::string name = d->d_name;
      if (name != "." && name != "..") names.insert(name);
    }
    ::closedir(dir);
  }
  return names;
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace qor::testing
