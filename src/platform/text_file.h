#pragma once

#include <atomic>
#include <cstdint>
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

  // What Create does with an existing file that holds something.
  enum class IfNotEmpty { Empty, Refuse };

  // Creates the file, or empties an existing one; with IfNotEmpty::Refuse
  // an existing file that holds something is left as it is and the error is
  // kNotEmpty. An existing file is used only when it is a regular file of
  // this user's with no other name: anything else there (a link, a pipe,
  // another user's file) is left as it is and the error is
  // kNotThisUsersFile. Nothing here ever blocks. The file stays locked against every other
  // TextFile until Close; when another one holds it, the file is left
  // untouched and the error is kInUseByAnotherRun.
  Outcome Create(const std::string& path, IfNotEmpty if_not_empty = IfNotEmpty::Empty);
  bool IsOpen() const { return fd_ >= 0; }
  // Makes sure that the next `bytes` bytes written can be written without
  // running out of space or past the process's file size limit; the file's
  // size still shows only what was written. A pipe or a device needs no room;
  // where the file system cannot allocate ahead, only its free space can be
  // looked at, which another program may take before the write.
  Outcome Reserve(std::uint64_t bytes);
  // Writes all of `text`.
  Outcome Write(std::string_view text);
  // Brings what was written to the disk, and the first time the file's name
  // in its folder too (a power cut would take a file with all it holds
  // whose name never reached the disk).
  Outcome Sync();
  // Gives back the room reserved beyond what was written, then closes.
  Outcome Close();
  // Closes the file and removes it, while it is still held, when nothing was
  // written into it and its name still leads to it and to nothing written
  // by anyone; true when it went. Otherwise it is closed and stays.
  bool CloseRemovingIfEmpty();
  // The open file's identity, to tell it apart in a folder listing.
  FileIdentity Identity() const { return identity_; }
  // The bytes written so far; safe to ask from any thread.
  std::uint64_t Written() const { return written_; }

 private:
  int fd_ = -1;
  FileIdentity identity_;
  bool is_regular_ = false;
  bool can_allocate_ = true;                // false once the file system refused fallocate
  std::atomic<std::uint64_t> written_ = 0;  // the end of the file as written
  std::uint64_t reserved_end_ = 0;          // room is allocated up to here
  std::uint64_t size_limit_ = 0;            // the process's file size limit
  std::string folder_;                      // the one that holds it, with its '/' (POSIX)
  std::string path_;                        // as given to Create
  bool name_synced_ = false;
};

// Reads the whole file `path` into `text` (appended), or its first `most`
// bytes or a little more. On Windows the UTF-8 path reaches the system as
// UTF-16, whatever the code page.
Outcome ReadEntireFile(const std::string& path, std::string& text,
                       std::size_t most = static_cast<std::size_t>(-1));

// As ReadEntireFile, only when no one but this user, or the system's
// administrators, can have written the file: a regular file with one name,
// theirs, that no one else may write into, in a folder where no one else
// may replace it. Else kNotThisUsersFile, and `why` says what was found.
Outcome ReadOwnFile(const std::string& path, std::string& text, std::string& why);

}  // namespace qor::platform
