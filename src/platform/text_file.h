#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace qor::platform {

// A file written sequentially without buffering in this process, so that
// every piece written is in the file at once, even if the process dies next.
class TextFile {
 public:
  TextFile() = default;
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Creates the file, or empties an existing one.
  Outcome Create(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes all of `text`.
  Outcome Write(std::string_view text);
  Outcome Close();

 private:
  int fd_ = -1;
};

}  // namespace qor::platform
