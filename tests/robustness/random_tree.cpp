#include "random_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace qor::testing {

namespace {

std::string RandomBytes(std::size_t size, std::mt19937_64& random) {
  std::string bytes(size, '\0');
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = random();
    std::memcpy(bytes.data() + i, &word, 8);
  }
  for (; i < size; ++i) bytes[i] = static_cast<char>(random());
  return bytes;
}

std::size_t RandomSize(std::mt19937_64& random) {
  const int kind = static_cast<int>(random() % 100);
  if (kind < 3) return 200000 + random() % 250000;  // long enough to be cut by a kill
  if (kind < 12) return 8000 + random() % 60000;
  return random() % 4000;
}

}  // namespace

OriginalTree BuildRandomTree(const std::string& root, int files, std::mt19937_64& random) {
  // Folders hang below random earlier ones, so the nesting varies from flat
  // to several levels deep.
  struct Folder {
    std::string relative;  // "" or ending with "/"
    int fd;
  };
  std::vector<Folder> folders;
  folders.push_back({"", ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)});
  if (folders[0].fd < 0) std::abort();
  const int folder_count = 20 + files / 40;
  for (int i = 0; i < folder_count; ++i) {
    const Folder& parent = folders[random() % folders.size()];
    const std::string name = (i % 7 == 3 ? "sub folder " : "d") + std::to_string(i);
    folders.push_back({parent.relative + name + "/", MakeFolderAt(parent.fd, name)});
  }

  OriginalTree tree;
  for (int i = 0; i < files; ++i) {
    const Folder& folder = folders[random() % folders.size()];
    const std::string name = "file" + std::to_string(i) + (i % 5 == 0 ? ".txt" : ".bin");
    std::tm date{};
    date.tm_year = 2000 + static_cast<int>(random() % 32) - 1900;
    date.tm_mon = static_cast<int>(random() % 12);
    date.tm_mday = 1 + static_cast<int>(random() % 28);
    const std::int64_t seconds = ::timegm(&date) + static_cast<std::int64_t>(random() % 86400);
    const long nanoseconds = static_cast<long>(random() % 1000000000);
    const std::string content = RandomBytes(RandomSize(random), random);
    WriteFileAt(folder.fd, name, content, seconds, nanoseconds);

    OriginalFile& file = tree[folder.relative + name];
    file.facts.size = content.size();
    file.facts.hash = ContentHash(content);
    file.facts.seconds = seconds;
    file.facts.nanoseconds = nanoseconds;
    file.taken =
        date.tm_year + 1900 < kTreeYear && date.tm_mon + 1 < kTreeMonth && date.tm_mday < kTreeDay;
  }
  for (const Folder& folder : folders) ::close(folder.fd);
  return tree;
}

}  // namespace qor::testing
