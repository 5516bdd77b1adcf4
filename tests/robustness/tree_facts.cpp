#include "tree_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace qor::testing {

namespace {

// Files are hashed piece by piece as they are read, each piece's hash
// seeding the next.
constexpr std::size_t kHashPiece = 1 << 16;

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0) {
  // FNV-1a over 64-bit words with a final mix: quick on tens of megabytes,
  // and any changed byte changes the result.
  std::uint64_t hash = seed ^ 0xcbf29ce484222325ULL;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + i, 8);
    hash = (hash ^ word) * 0x100000001b3ULL;
    hash ^= hash >> 29;
  }
  for (; i < bytes.size(); ++i) {
    hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3ULL;
  }
  hash ^= bytes.size();
  hash *= 0xff51afd7ed558ccdULL;
  return hash ^ (hash >> 33);
}

[[noreturn]] void Die(const char* what, const std::string& name) {
  std::fprintf(stderr, "tree_facts: %s failed for %s: %s\n", what, name.c_str(),
               std::strerror(errno));
  std::abort();
}

FileFacts FactsOf(int dir_fd, const char* name, const struct stat& st, const std::string& shown) {
  FileFacts facts;
  facts.seconds = st.st_mtim.tv_sec;
  facts.nanoseconds = st.st_mtim.tv_nsec;
  if (S_ISLNK(st.st_mode)) {
    facts.is_link = true;
    std::vector<char> target(static_cast<std::size_t>(st.st_size) + 2);
    const ssize_t length = ::readlinkat(dir_fd, name, target.data(), target.size());
    if (length < 0) Die("readlinkat", shown);
    facts.size = static_cast<std::uint64_t>(length);
    facts.hash = HashBytes(std::string_view(target.data(), static_cast<std::size_t>(length)));
    return facts;
  }
  const int fd = ::openat(dir_fd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Die("openat", shown);
  std::vector<char> buffer(kHashPiece);
  std::uint64_t hash = 0;
  for (bool end = false; !end;) {
    // Whole pieces, as ContentHash cuts them, whatever short reads occur.
    std::size_t filled = 0;
    while (filled < buffer.size()) {
      const ssize_t n = ::read(fd, buffer.data() + filled, buffer.size() - filled);
      if (n < 0) Die("read", shown);
      if (n == 0) {
        end = true;
        break;
      }
      filled += static_cast<std::size_t>(n);
    }
    if (filled > 0) hash = HashBytes(std::string_view(buffer.data(), filled), hash);
    facts.size += filled;
  }
  ::close(fd);
  facts.hash = hash;
  return facts;
}

void RecordFolder(int dir_fd, const std::string& prefix, TreeFacts& facts) {
  DIR* dir = ::fdopendir(dir_fd);
  if (dir == nullptr) Die("fdopendir", prefix);
  for (;;) {
    errno = 0;
    const dirent* d = ::readdir(dir);
    if (d == nullptr) {
      if (errno != 0) Die("readdir", prefix);
      break;
    }
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    const std::string relative = prefix + d->d_name;
    struct stat st;
    if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      Die("fstatat", relative);
    }
    if (S_ISDIR(st.st_mode)) {
      const int sub =
          ::openat(::dirfd(dir), d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) Die("openat folder", relative);
      RecordFolder(sub, relative + "/", facts);
    } else {
      facts[relative] = FactsOf(::dirfd(dir), d->d_name, st, relative);
    }
  }
  ::closedir(dir);
}

}  // namespace

TreeFacts RecordTree(const std::string& root) {
  TreeFacts facts;
  const int fd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return facts;
    Die("open", root);
  }
  RecordFolder(fd, "", facts);
  return facts;
}

std::uint64_t ContentHash(std::string_view bytes) {
  std::uint64_t hash = 0;
  for (std::size_t at = 0; at < bytes.size(); at += kHashPiece) {
    hash = HashBytes(bytes.substr(at, kHashPiece), hash);
  }
  return hash;
}

void WriteFileAt(int dir_fd, const std::string& name, std::string_view content,
                 std::int64_t seconds, long nanoseconds) {
  const int fd = ::openat(dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) Die("create", name);
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) Die("write", name);
    done += static_cast<std::size_t>(n);
  }
  const struct timespec times[2] = {{static_cast<time_t>(seconds), nanoseconds},
                                    {static_cast<time_t>(seconds), nanoseconds}};
  if (::futimens(fd, times) != 0) Die("futimens", name);
  if (::close(fd) != 0) Die("close", name);
}

int MakeFolderAt(int dir_fd, const std::string& name) {
  if (::mkdirat(dir_fd, name.c_str(), 0755) != 0 && errno != EEXIST) Die("mkdirat", name);
  const int fd = ::openat(dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Die("open folder", name);
  return fd;
}

LogLines SplitLog(const std::string& text) {
  LogLines log;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    log.lines.push_back(text.substr(start, end - start));
  }
  log.partial = text.substr(start);
  return log;
}

}  // namespace qor::testing
