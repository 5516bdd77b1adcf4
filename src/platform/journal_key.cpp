#include "platform/journal_key.h"

#include <mutex>

#include "platform/files.h"
#include "platform/ini_location.h"

namespace qor::platform {

const JournalKey* UserJournalKey(std::string& why) {
  static std::once_flag once;
  static JournalKey key;
  static bool read = false;
  static std::string problem;
  std::call_once(once, [] {
    const std::string config = UserConfigFolder();
    read = !config.empty() && ReadOrMakeJournalKey(config + kSeparator + "qor", key, problem);
    if (config.empty()) problem = "no configuration folder is known";
    // A system that cannot seal seals nothing: no journal is trusted then.
    if (read && KeyedHash(key, {}) == KeyedDigest{}) {
      read = false;
      problem = "the system offers no HMAC-SHA-256";
    }
  });
  why = problem;
  return read ? &key : nullptr;
}

}  // namespace qor::platform
