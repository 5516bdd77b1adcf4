#include "platform/files.h"

namespace qor::platform {

// No run journal on Windows yet: the target folder clears what a killed run
// left there by the temporaries' names and times (target_folder.cpp).
Recovery RecoverKilledRuns(const std::string&) {
  return {};
}

}  // namespace qor::platform
