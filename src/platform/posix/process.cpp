#include "platform/process.h"

#include <limits.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

namespace qor::platform {

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(length));
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string CurrentFolder() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return {};
  return buffer;
}

void RaiseOpenFileLimit() {
  // The walk holds up to 256 folder listings open (deeper levels are parked
  // in memory), besides the target's folders, a batch's shared folders and
  // the log: headroom that a low soft limit may not give.
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

void ReportFileSizeLimitAsError() {
  // By default SIGXFSZ ends the process in the middle of a copy, with its
  // temporary left behind and no word in the run log.
  struct sigaction action {};
  action.sa_handler = SIG_IGN;
  ::sigemptyset(&action.sa_mask);
  ::sigaction(SIGXFSZ, &action, nullptr);
}

}  // namespace qor::platform
