// Questions about paths and folders by name, and the texts of errors.

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/files.h"
#include "platform/path_parts.h"
#include "platform/posix/listing_state.h"

namespace qor::platform {

Outcome MakeSureFolderPathExists(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? Outcome{} : Outcome{ENOTDIR};
  const std::string_view whole = path;
  for (const std::string_view part : SplitPath(whole, kSeparator)) {
    if (part.empty()) continue;
    const std::string partial(
        whole.substr(0, static_cast<std::size_t>(part.data() - whole.data()) + part.size()));
    if (::mkdir(partial.c_str(), 0777) != 0 && errno != EEXIST) return {errno};
  }
  if (::stat(path.c_str(), &st) != 0) return {errno};
  return S_ISDIR(st.st_mode) ? Outcome{} : Outcome{ENOTDIR};
}

bool IsFolderEmpty(const std::string& path) {
  const Dir dir(::opendir(path.c_str()));
  if (dir == nullptr) return false;
  while (const struct dirent* d = ::readdir(dir.get())) {
    if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) return false;
  }
  return true;
}

Outcome RemoveFolder(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) return {errno};
  return {};
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool EntryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsWellFormedPath(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  std::string absolute = path;
  if (path.front() != kSeparator) {
    char buffer[PATH_MAX];
    if (::getcwd(buffer, sizeof buffer) == nullptr) return false;
    absolute = std::string(buffer) + kSeparator + path;
  }
  if (absolute.size() >= PATH_MAX) return false;
  for (const std::string_view part : SplitPath(std::string_view(absolute), kSeparator)) {
    if (part.size() > NAME_MAX) return false;
  }
  return true;
}

std::string RealPath(const std::string& path) {
  const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(path.c_str(), nullptr),
                                                          &::free);
  return resolved == nullptr ? std::string() : std::string(resolved.get());
}

std::string ErrorText(int error) {
  if (const char* own = OwnErrorText(error)) return own;
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string("error ") + std::to_string(error);
}

}  // namespace qor::platform
