#include "platform/journal_records.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <map>
#include <utility>

#include "platform/path_parts.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

constexpr std::string_view kVersion = "4";
constexpr std::size_t kSealLength = 64;  // hexadecimal digits

std::string Record(std::initializer_list<std::string_view> fields) {
  std::string record;
  for (const std::string_view field : fields) {
    record.append(field);
    record.push_back('\0');
  }
  return record;
}

bool HasControlBytes(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return true;
  }
  return false;
}

// An absolute folder ending with the separator, without "." or ".." in it:
// "/a/b/" here, "C:\a\" or "\\server\share\" on Windows.
bool IsAbsoluteFolder(std::string_view folder, char separator) {
  if (folder.empty() || folder.back() != separator) return false;
  std::string_view rest;
  if (separator == '/') {
    if (folder.front() != '/') return false;
    rest = folder.substr(1);
  } else if (folder.size() >= 3 && folder[1] == ':' && folder[2] == separator) {
    rest = folder.substr(3);
  } else if (folder.size() >= 3 && folder[0] == separator && folder[1] == separator) {
    rest = folder.substr(2);
  } else {
    return false;
  }
  return rest.empty() || IsRelativeFolder(rest, separator);
}

std::string Decimal(std::uint64_t value) {
  return std::to_string(value);
}

bool ReadDecimal(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 20 || (text.size() > 1 && text[0] == '0')) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The fields of a record of `kind`, its seal not counted; 0 for none.
std::size_t FieldsOf(std::string_view kind) {
  if (kind == "R") return 6;
  if (kind == "L") return 5;
  if (kind == "T") return 3;
  if (kind == "U") return 3;
  if (kind == "P") return 7;
  if (kind == "K") return 6;
  if (kind == "W" || kind == "X") return 4;
  if (kind == "N") return 7;
  return 0;
}

// One whole record into `journal`; false when a field is not as written.
bool TakeRecord(const std::vector<std::string_view>& fields, char separator, JournalText& journal,
                std::string& why) {
  const char kind = fields[0][0];
  if (kind == 'L') {
    LogMark log;
    log.path = fields[1];
    if (!ReadDecimal(fields[2], log.identity.device) ||
        !ReadDecimal(fields[3], log.identity.inode) || !ReadDecimal(fields[4], log.offset)) {
      why = "a log record is not as written";
      return false;
    }
    journal.logs.push_back(std::move(log));
    return true;
  }
  JournalRecord record;
  record.kind = kind;
  if (kind == 'T' || kind == 'U') {
    (kind == 'T' ? record.target : record.source) = fields[1];
    record.name = fields[2];
    if (!IsRelativeFolder(fields[1], separator) || !IsRandomName(record.name, kTemporaryPrefix)) {
      why = "a temporary's record names something else";
      return false;
    }
    journal.records.push_back(std::move(record));
    return true;
  }
  if (kind == 'W' || kind == 'X') {
    record.source = fields[1];
    record.target = fields[2];
    record.name = fields[3];
    if (!IsRelativeFolder(record.source, separator) ||
        !IsRelativeFolder(record.target, separator) || !IsPlainName(record.name, separator)) {
      why = "a move's record names something else";
      return false;
    }
    journal.records.push_back(std::move(record));
    return true;
  }
  record.source = fields[1];
  record.target = fields[2];
  record.name = fields[3];
  record.entry = fields[4];
  if (kind == 'K') record.taken = fields[5];
  if ((kind == 'N' || kind == 'P') && (!ReadDecimal(fields[5], record.identity.device) ||
                                       !ReadDecimal(fields[6], record.identity.inode))) {
    why = "a rename's record is not as written";
    return false;
  }
  if (!IsRelativeFolder(record.source, separator) || !IsRelativeFolder(record.target, separator) ||
      !IsPlainName(record.name, separator) || record.entry.empty() ||
      HasControlBytes(record.entry) || (kind == 'K' && !IsRandomName(record.taken, kTakenPrefix))) {
    why = "a move's record names something else";
    return false;
  }
  journal.records.push_back(std::move(record));
  return true;
}

std::string SealOf(const JournalKey& key, std::string_view chain, std::string_view record) {
  std::string data;
  data.reserve(chain.size() + 1 + record.size());
  data.append(chain);
  data.push_back('\0');
  data.append(record);
  const KeyedDigest digest = KeyedHash(key, data);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string seal;
  for (const unsigned char byte : digest) {
    seal.push_back(kDigits[byte >> 4]);
    seal.push_back(kDigits[byte & 15]);
  }
  return seal;
}

// Compared in a time that tells nothing of where they differ.
bool SameSeal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  }
  return differ == 0;
}

}  // namespace

std::string SealRecords(const JournalKey& key, std::string_view records, std::string& chain,
                        std::size_t* whole) {
  std::string sealed;
  sealed.reserve(records.size() + (records.size() / 32 + 1) * (kSealLength + 1));
  std::size_t at = 0;
  while (at < records.size()) {
    const std::size_t kind_end = records.find('\0', at);
    const std::size_t fields =
        kind_end == std::string_view::npos ? 0 : FieldsOf(records.substr(at, kind_end - at));
    std::size_t end = kind_end;
    for (std::size_t field = 1; field < fields && end != std::string_view::npos; ++field) {
      end = records.find('\0', end + 1);
    }
    if (fields == 0 || end == std::string_view::npos) break;  // none of ours: never written
    const std::string_view record = records.substr(at, end + 1 - at);
    chain = SealOf(key, chain, record);
    sealed.append(record);
    sealed.append(chain);
    sealed.push_back('\0');
    at = end + 1;
  }
  if (whole != nullptr) *whole = at;
  return sealed;
}

std::string RootsRecord(std::string_view source_root, std::string_view target_root,
                        std::string_view below) {
  return Record({"R", kVersion, RandomName(""), source_root, target_root, below});
}

std::string LogRecord(const LogMark& log) {
  return Record({"L", log.path, Decimal(log.identity.device), Decimal(log.identity.inode),
                 Decimal(log.offset)});
}

std::string TemporaryRecord(std::string_view folder, std::string_view name) {
  return Record({"T", folder, name});
}

std::string SourceTemporaryRecord(std::string_view folder, std::string_view name) {
  return Record({"U", folder, name});
}

std::string WritingRecord(std::string_view source, std::string_view target, std::string_view name) {
  return Record({"W", source, target, name});
}

std::string NameTakenRecord(std::string_view source, std::string_view target,
                            std::string_view name) {
  return Record({"X", source, target, name});
}

std::string PlacingRecord(std::string_view source, std::string_view target, std::string_view name,
                          std::string_view entry, const FileIdentity& copy) {
  return Record({"P", source, target, name, entry, Decimal(copy.device), Decimal(copy.inode)});
}

std::string TakingAwayRecord(std::string_view source, std::string_view target,
                             std::string_view name, std::string_view entry,
                             std::string_view taken) {
  return Record({"K", source, target, name, entry, taken});
}

std::string RenamingRecord(std::string_view source, std::string_view target, std::string_view name,
                           std::string_view entry, const FileIdentity& identity) {
  return Record(
      {"N", source, target, name, entry, Decimal(identity.device), Decimal(identity.inode)});
}

std::vector<std::size_t> LastRecordOfEachMove(const std::vector<JournalRecord>& records) {
  std::map<std::pair<std::string_view, std::string_view>, std::size_t> last;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].kind != 'T' && records[i].kind != 'U') {
      last[{records[i].source, records[i].name}] = i;
    }
  }
  std::vector<std::size_t> order;
  for (const auto& [file, index] : last) order.push_back(index);
  std::sort(order.begin(), order.end());
  return order;
}

void AddWholeLines(std::string_view text, bool at_start, std::size_t mark_at,
                   std::unordered_set<std::string>& lines) {
  std::size_t at = 0;
  if (!at_start) {
    const std::size_t first = text.find('\n');
    at = first == std::string_view::npos ? text.size() : first + 1;
  }
  for (;;) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) return;
    if (end + 2 > mark_at) lines.emplace(text.substr(at, end - at));
    at = end + 2;
  }
}

bool CutLastLine(std::string_view tail, bool whole_log, std::string& line) {
  if (tail.empty() || tail.back() == '\n') return false;
  const std::size_t end = tail.rfind('\n');
  if (end == std::string_view::npos && !whole_log) return false;  // longer than any entry
  line = tail.substr(end == std::string_view::npos ? 0 : end + 1);
  return true;
}

bool IsRelativeFolder(std::string_view folder, char separator) {
  if (folder.empty()) return true;
  if (folder.back() != separator) return false;
  const auto parts = SplitPath(folder.substr(0, folder.size() - 1), separator);
  for (const std::string_view part : parts) {
    if (!IsPlainName(part, separator)) return false;
  }
  return true;
}

bool ReadJournal(std::string_view text, char separator, const JournalKey& key, JournalText& journal,
                 std::string& why) {
  journal = {};
  if (text.size() > kLargestJournal) {
    why = "larger than any journal";
    return false;
  }
  std::vector<std::string_view> fields;
  std::size_t wanted = 0;
  std::size_t begun = 0;  // where the record being read begins
  for (std::size_t at = 0; at < text.size();) {
    // Zero bytes only, where a record would begin: a power cut left the
    // journal's size on the disk and not the bytes of its last records,
    // which were never synced, as a kill leaves them cut short.
    if (fields.empty() && text.find_first_not_of('\0', at) == std::string_view::npos) break;
    const std::size_t end = text.find('\0', at);
    if (end == std::string_view::npos) break;  // cut short by a kill
    if (fields.empty()) begun = at;
    fields.push_back(text.substr(at, end - at));
    at = end + 1;
    if (fields.size() == 1) {
      wanted = FieldsOf(fields[0]) + 1;  // its seal last
      const bool first = journal.source_root.empty();
      if (wanted == 1 || first != (fields[0] == "R")) {
        why = first ? "it does not begin as a journal" : "a record of an unknown kind";
        return false;
      }
    }
    if (fields.size() < wanted) continue;
    const std::string_view seal = fields.back();
    std::string chain =
        SealOf(key, journal.chain, text.substr(begun, at - seal.size() - 1 - begun));
    if (!SameSeal(seal, chain)) {
      why = "it is not sealed with this user's journal key";
      return false;
    }
    journal.chain = std::move(chain);
    fields.pop_back();
    if (fields[0] == "R") {
      if (fields[1] != kVersion || !IsRandomName(fields[2], "") ||
          !IsAbsoluteFolder(fields[3], separator) || !IsAbsoluteFolder(fields[4], separator) ||
          !IsRelativeFolder(fields[5], separator)) {
        why = "its roots are not as written";
        return false;
      }
      journal.source_root = fields[3];
      journal.target_root = fields[4];
      journal.below = fields[5];
    } else if (!TakeRecord(fields, separator, journal, why)) {
      return false;
    }
    fields.clear();
    journal.whole = at;
  }
  return true;
}

}  // namespace qor::platform
