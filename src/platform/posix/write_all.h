#pragma once

#include <unistd.h>

#include <cerrno>
#include <string_view>

namespace qor::platform {

// Writes all of `text` to `fd`, going on after interruptions and short
// writes; returns 0 or the errno of the write that failed.
inline int WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

}  // namespace qor::platform
