#pragma once

// A run's journal on Windows: what the run made that a kill would leave
// behind (temporaries, and copies in place whose source is still there). It
// lies in the run's target folder, held open without any sharing for as long
// as the run lives, and goes when the run ends; a journal that opens is a
// killed run's, and the next run that writes there finishes its work.

#include <mutex>
#include <string>

#include "platform/win32/owned_handle.h"

namespace qor::platform {

class RunJournal {
 public:
  // The journal of this run in the folder `root` ("\\?\" form, ending with
  // "\"), made when first written.
  explicit RunJournal(std::wstring root) : root_(std::move(root)) {}
  // The run is over: what it recorded has been dealt with.
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // Before the temporary `path` is made.
  void Temporary(const std::wstring& path);
  // Before the copy `to` is put in place while its source `from` still
  // exists; `entry` is the run log's entry for the file once it has moved.
  // Sync follows before the copy is placed: it must never be found without
  // the journal.
  void Placing(const std::wstring& from, const std::wstring& to, const std::string& entry);
  // Brings what was recorded to the disk.
  void Sync();
  // Everything recorded so far has been dealt with: the journal starts
  // afresh, so that it stays as small as one move.
  void Clear();

 private:
  bool Ready();
  void Write(const std::string& record);

  std::wstring root_;
  std::mutex mutex_;  // copies made side by side record their temporaries
  Handle file_;
  bool failed_ = false;  // no journal could be had: the moves go on without
};

}  // namespace qor::platform
