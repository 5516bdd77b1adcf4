#include "run/log_format.h"

#include <algorithm>

#include "run/log_escapes.h"

namespace qor {

EntryEnding EndEntry(const platform::Outcome& moved, std::string_view target) {
  if (moved.ok()) return {std::string(kMovedTo) + LogText(target), {}};
  // With where the file was left when it could not keep its name.
  std::string reason = platform::OutcomeText(moved);
  if (reason.size() > kLongestReason) reason.resize(kLongestReason);
  return {std::string(kNotMoved) + reason, reason};
}

std::size_t EntryEndingRoom(std::string_view target) {
  return std::max(kMovedTo.size() + LogText(target).size(), kNotMoved.size() + kLongestReason) +
         2;  // CR LF
}

}  // namespace qor
