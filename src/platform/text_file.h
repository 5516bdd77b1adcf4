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

  // Creates the file, or empties an existing one. A symbolic link of that
  // name is refused rather than followed, and a named pipe never blocks.
  // The file stays locked against every other TextFile until Close; when
  // another one holds it, the file is left untouched and the error is
  // kInUseByAnotherRun.
  Outcome Create(const std::string& path);
  bool IsOpen() const { return fd_ >= 0; }
  // Writes all of `text`.
  Outcome Write(std::string_view text);
  // Brings what was written to the disk.
  Outcome Sync();
  Outcome Close();
  // The open file's identity, to tell it apart in a folder listing.
  FileIdentity Identity() const { return identity_; }

 private:
  int fd_ = -1;
  FileIdentity identity_;
};

}  // namespace qor::platform
