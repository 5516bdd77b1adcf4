// Linux file side of the INI reader and writer: the whole file is read, the
// text rules of ini_text.h applied, and a changed file replaces the old one in
// a single rename.

#include "platform/ini.h"
#include "platform/posix/fd.h"
#include "platform/posix/write_all.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string_view>

#include "platform/ini_text.h"

namespace qor::platform {

namespace {

enum class ReadResult { kRead, kMissing, kFailed };

struct ExistingFile {
  std::string text;
  bool exists = false;
  struct stat info {};
};

ReadResult ReadWholeFile(const std::string& path, ExistingFile& file) {
  // Non-blocking, so that a pipe in the file's place cannot hang the program.
  const Fd fd =
      OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  if (!fd.IsValid()) return errno == ENOENT ? ReadResult::kMissing : ReadResult::kFailed;
  ReadResult result = ReadResult::kRead;
  if (::fstat(fd.get(), &file.info) != 0 || !S_ISREG(file.info.st_mode)) {
    result = ReadResult::kFailed;
  } else {
    char buffer[8192];
    for (;;) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        result = ReadResult::kFailed;
        break;
      }
      if (got == 0) break;
      file.text.append(buffer, static_cast<std::size_t>(got));
    }
  }
  file.exists = result == ReadResult::kRead;
  return result;
}

// Creates a new hidden file beside `path`; none open when none can be made.
Fd CreateTemporaryBeside(const std::string& path, std::string& temporary) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    temporary = folder + "." + name + "." + std::to_string(::getpid()) + "." +
                std::to_string(now.tv_nsec) + "." + std::to_string(attempt);
    Fd fd = OpenRetrying([&] {
      return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    });
    if (fd.IsValid() || errno != EEXIST) return fd;
  }
  return Fd();
}

void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? std::string(".") : path.substr(0, slash == 0 ? 1 : slash);
  const Fd fd =
      OpenRetrying([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (!fd.IsValid()) return;
  // The new file is already in place and complete; a failed folder sync only
  // weakens durability against a power cut, and there is nothing to undo.
  (void)::fsync(fd.get());
}

// Replaces `path` with `text` so that a reader sees either the old file or
// the whole new one. On failure the old file is untouched and no temporary is
// left behind.
bool ReplaceFile(const std::string& path, std::string_view text, const ExistingFile& old) {
  std::string temporary;
  Fd fd = CreateTemporaryBeside(path, temporary);
  if (!fd.IsValid()) return false;
  bool ok = (WriteAll(fd.get(), text) == 0);
  if (ok && old.exists) {
    ok = ::fchmod(fd.get(), old.info.st_mode & 07777) == 0;
    // Only a privileged process can give the file back to its owner; anyone
    // else owns the file already.
    if (ok && ::geteuid() == 0) ok = ::fchown(fd.get(), old.info.st_uid, old.info.st_gid) == 0;
  }
  if (ok) ok = ::fsync(fd.get()) == 0;
  if (fd.CloseReportingError() != 0) ok = false;
  if (ok) ok = ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) {
    ::unlink(temporary.c_str());
    return false;
  }
  SyncFolderOf(path);
  return true;
}

// A settings file that is a link to a file elsewhere stays a link: the file
// it points to is the one replaced.
std::string FileToReplace(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string target(resolved);
  ::free(resolved);
  return target;
}

}  // namespace

std::optional<std::string> ReadIniValue(const std::string& file, const std::string& section,
                                        const std::string& key) {
  ExistingFile existing;
  // An unreadable file reads as a missing one.
  if (ReadWholeFile(file, existing) != ReadResult::kRead) return std::nullopt;
  return FindIniValue(SplitIniLines(existing.text), section, key);
}

bool WriteIniValue(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) {
  return WriteIniValues(file, section, {{key, value}});
}

bool WriteIniValues(const std::string& file, const std::string& section,
                    const std::vector<std::pair<std::string, std::string>>& values) {
  const std::string path = FileToReplace(file);
  ExistingFile existing;
  // A file that exists but cannot be read is never replaced: its other
  // sections would be lost.
  if (ReadWholeFile(path, existing) == ReadResult::kFailed) return false;
  // The rename would get past a file made read-only to keep its settings as
  // they are; such a file counts as one that cannot be written, for root too.
  if (existing.exists &&
      (::access(path.c_str(), W_OK) != 0 || (existing.info.st_mode & 0222) == 0)) {
    return false;
  }
  std::vector<std::string> lines = SplitIniLines(existing.text);
  bool all_stored = true;
  bool changed = false;
  for (const auto& [key, value] : values) {
    if (SetIniValue(lines, section, key, value)) {
      changed = true;
    } else {
      all_stored = false;
    }
  }
  if (!changed) return all_stored;
  return ReplaceFile(path, JoinIniLines(lines), existing) && all_stored;
}

}  // namespace qor::platform
