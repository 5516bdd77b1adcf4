#include "platform/posix/batch_jobs.h"

#include "platform/posix/file_system_abilities.h"

namespace qor::platform {

std::size_t BatchJobs::Between(int from, const FileIdentity& from_identity, int to,
                               const FileIdentity& to_identity) {
  if (jobs_ != 0) return jobs_;
  // Asked again only when the walk reaches another file system.
  if (chosen_ == 0 || chosen_from_.device != from_identity.device ||
      chosen_to_.device != to_identity.device) {
    chosen_ = IsRemote(from) || IsRemote(to) ? kRemoteJobs : kLocalJobs;
    chosen_from_ = from_identity;
    chosen_to_ = to_identity;
  }
  return chosen_;
}

bool BatchJobs::SyncsEachCopy(int to, const FileIdentity& to_identity) {
  if (!(remote_known_ == to_identity)) {
    remote_to_ = IsRemote(to);
    remote_known_ = to_identity;
  }
  return remote_to_;
}

}  // namespace qor::platform
