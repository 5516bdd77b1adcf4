#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text_file.h"

namespace qor::platform {

Outcome ReadEntireFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {errno};
  char buffer[65536];
  Outcome result;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = {errno};
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return result;
}

}  // namespace qor::platform
