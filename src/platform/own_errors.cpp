#include "platform/files.h"

namespace qor::platform {

const char* OwnErrorText(int error) {
  switch (error) {
    case kChangedDuringMove:
      return "changed during the move";
    case kAttributesNotKept:
      return "the target cannot keep its extended attributes or ACL";
    case kLinkInTargetPath:
      return "a symbolic link in the target path";
    case kInUseByAnotherRun:
      return "another run is using it";
    default:
      return nullptr;
  }
}

}  // namespace qor::platform
