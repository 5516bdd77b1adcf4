#pragma once

// A journal's text as a run of this user writes it: its whole records sealed
// in turn under a key (this user's unless given); what follows them (a
// record cut short, zero bytes) is kept as it stands.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/journal_key.h"
#include "platform/journal_records.h"

namespace qor::testing {

inline std::string Sealed(std::string_view records, const platform::JournalKey* key = nullptr) {
  std::string why;
  if (key == nullptr) key = platform::UserJournalKey(why);
  EXPECT_NE(key, nullptr) << why;
  if (key == nullptr) return std::string(records);
  std::string chain;
  std::size_t whole = 0;
  std::string sealed = platform::SealRecords(*key, records, chain, &whole);
  return sealed.append(records.substr(whole));
}

}  // namespace qor::testing
