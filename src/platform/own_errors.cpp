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
    case kFolderTookItsPlace:
      return "a folder took its place and was moved; it could not be put back";
    case kCopyDiffers:
      return "the copy differs from the original";
    case kNotEmpty:
      return "it is not empty";
    case kNotThisUsersFile:
      return "another user's file, a link or no regular file stands there";
    default:
      return nullptr;
  }
}

std::string OutcomeText(const Outcome& outcome) {
  std::string text = ErrorText(outcome.error);
  if (!outcome.kept_as.empty()) text += "; the file is left hidden beside it as " + outcome.kept_as;
  return text;
}

}  // namespace qor::platform
