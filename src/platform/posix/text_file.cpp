#include "platform/text_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace qor::platform {

TextFile::~TextFile() {
  if (fd_ >= 0) ::close(fd_);
}

Outcome TextFile::Create(const std::string& path) {
  if (fd_ >= 0) Close();
  do {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return {errno};
  return {};
}

Outcome TextFile::Write(std::string_view text) {
  if (fd_ < 0) return {EBADF};
  const char* data = text.data();
  std::size_t size = text.size();
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return {errno};
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return {};
}

Outcome TextFile::Close() {
  if (fd_ < 0) return {};
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return {errno};
  return {};
}

}  // namespace qor::platform
