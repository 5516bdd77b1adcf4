#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"
#include "platform/files.h"
#include "platform/posix/fd.h"
#include "platform/text_file.h"

namespace qor::platform {

namespace {

// How long a wait on a pipe or a device goes before a stop is looked for.
constexpr int kStopLookedForEveryMs = 100;

// Waits until `fd` has something to read or its writer has gone: 0, or
// ECANCELED as soon as a stop is asked for. A pipe that no writer has opened
// yet waits for one, as a blocking open would.
int WaitReadable(int fd) {
  for (;;) {
    if (StopRequested()) return ECANCELED;
    struct pollfd watched {};
    watched.fd = fd;
    watched.events = POLLIN;
    const int ready = ::poll(&watched, 1, kStopLookedForEveryMs);
    if (ready > 0) return 0;
    if (ready < 0 && errno != EINTR) return errno;
  }
}

Outcome ReadOpen(int fd, const struct stat& about, std::string& text, std::size_t most) {
  const bool may_wait = !S_ISREG(about.st_mode);
  char buffer[65536];
  Outcome result;
  for (std::size_t read = 0; read < most;) {
    if (may_wait) {
      if (const int error = WaitReadable(fd)) {
        result = {error};
        break;
      }
    }
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || (may_wait && errno == EAGAIN))) continue;
    if (got < 0) result = {errno};
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    read += static_cast<std::size_t>(got);
  }
  return result;
}

// Why someone other than this user or root could have written the open
// file `about`, in the folder `folder`; empty when no one could have.
std::string WhyNotOwn(const struct stat& about, const struct stat& folder) {
  const uid_t user = ::geteuid();
  if (!S_ISREG(about.st_mode)) return "it is no regular file";
  if (about.st_nlink != 1) return "it has further names, which others may have made";
  if (about.st_uid != user && about.st_uid != 0) return "another user owns it";
  if ((about.st_mode & 022) != 0) return "others may write into it";
  if ((folder.st_uid != user && folder.st_uid != 0) ||
      ((folder.st_mode & 022) != 0 && (folder.st_mode & S_ISVTX) == 0)) {
    return "it lies in a folder where others may replace it";
  }
  return {};
}

}  // namespace

Outcome ReadEntireFile(const std::string& path, std::string& text, std::size_t most) {
  // Without blocking: a pipe or a device may keep a blocking read waiting
  // for good, and a request to stop must end the wait.
  const Fd fd =
      OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (!fd.IsValid()) return {errno};
  struct stat about;
  if (::fstat(fd.get(), &about) != 0) return {errno};
  return ReadOpen(fd.get(), about, text, most);
}

Outcome ReadOwnFile(const std::string& path, std::string& text, std::string& why) {
  // Where a link leads, judged there: the folder that holds the file itself
  // is the one that must keep others out.
  std::string real = RealPath(path);
  if (real.empty()) real = path;
  const std::size_t slash = real.rfind('/');
  const std::string folder_path =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : real.substr(0, slash));
  const Fd folder =
      OpenRetrying([&] { return ::open(folder_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
  if (!folder.IsValid()) return {errno};
  const std::string name = slash == std::string::npos ? real : real.substr(slash + 1);
  const Fd fd = OpenRetrying([&] {
    return ::openat(folder.get(), name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  });
  if (!fd.IsValid()) {
    if (errno == ELOOP) why = "its name was made a link meanwhile";
    return {errno};
  }
  struct stat about, holder;
  if (::fstat(fd.get(), &about) != 0 || ::fstat(folder.get(), &holder) != 0) return {errno};
  why = WhyNotOwn(about, holder);
  if (!why.empty()) return {kNotThisUsersFile};
  return ReadOpen(fd.get(), about, text, static_cast<std::size_t>(-1));
}

}  // namespace qor::platform
