#pragma once

// The secret that proves a journal this user's: a random key kept in the
// user's own configuration folder, under which every record of a journal
// is sealed (see journal_records.h). Where a file system keeps no owners or
// modes (rclone, FAT, SMB with uid=), anyone who can write there can make a
// file that looks like this user's; no one without the key can seal one.

#include <array>
#include <string>
#include <string_view>

namespace qor::platform {

inline constexpr std::string_view kJournalKeyName = "journal.key";

struct JournalKey {
  std::array<unsigned char, 32> bytes{};
};

using KeyedDigest = std::array<unsigned char, 32>;

// HMAC-SHA-256 of `data` under `key`, by the system's own library.
KeyedDigest KeyedHash(const JournalKey& key, std::string_view data);

// Reads the key from `folder` ("…/qor"), or makes it there, and the folder,
// where there is none yet; false, with why, when it can be neither, or when
// someone other than this user could have written or read it.
bool ReadOrMakeJournalKey(const std::string& folder, JournalKey& key, std::string& why);

// This user's key, from the "qor" folder in the user's configuration folder,
// read or made once per process; null, with why, where it can be neither.
const JournalKey* UserJournalKey(std::string& why);

}  // namespace qor::platform
