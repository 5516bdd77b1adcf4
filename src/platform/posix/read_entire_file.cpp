#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/fd.h"
#include "platform/text_file.h"

namespace qor::platform {

Outcome ReadEntireFile(const std::string& path, std::string& text, std::size_t most) {
  const Fd fd = OpenRetrying([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (!fd.IsValid()) return {errno};
  char buffer[65536];
  Outcome result;
  for (std::size_t read = 0; read < most;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = {errno};
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    read += static_cast<std::size_t>(got);
  }
  return result;
}

}  // namespace qor::platform
