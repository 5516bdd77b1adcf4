#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/console.h"
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

}  // namespace

Outcome ReadEntireFile(const std::string& path, std::string& text, std::size_t most) {
  // Without blocking: a pipe or a device may keep a blocking read waiting
  // for good, and a request to stop must end the wait.
  const Fd fd =
      OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (!fd.IsValid()) return {errno};
  struct stat about;
  if (::fstat(fd.get(), &about) != 0) return {errno};
  const bool may_wait = !S_ISREG(about.st_mode);
  char buffer[65536];
  Outcome result;
  for (std::size_t read = 0; read < most;) {
    if (may_wait) {
      if (const int error = WaitReadable(fd.get())) {
        result = {error};
        break;
      }
    }
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || (may_wait && errno == EAGAIN))) continue;
    if (got < 0) result = {errno};
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    read += static_cast<std::size_t>(got);
  }
  return result;
}

}  // namespace qor::platform
