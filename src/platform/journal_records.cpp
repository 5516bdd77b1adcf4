#include "platform/journal_records.h"

#include <initializer_list>

namespace qor::platform {

namespace {

std::string Record(std::initializer_list<std::string_view> fields) {
  std::string record;
  for (const std::string_view field : fields) {
    record.append(field);
    record.push_back('\0');
  }
  return record;
}

}  // namespace

std::string TemporaryRecord(std::string_view folder, std::string_view name) {
  return Record({"T", folder, name});
}

std::string PlacingRecord(std::string_view source, std::string_view from, std::string_view target,
                          std::string_view name, std::string_view entry) {
  return Record({"P", source, from, target, name, entry});
}

std::string TakingAwayRecord(std::string_view source, std::string_view from,
                             std::string_view target, std::string_view name, std::string_view entry,
                             std::string_view taken) {
  return Record({"K", source, from, target, name, entry, taken});
}

std::vector<std::vector<std::string>> JournalRecords(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> fields;
  std::size_t wanted = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\0', at);
    if (end == std::string::npos) break;
    fields.emplace_back(text, at, end - at);
    at = end + 1;
    if (fields.size() == 1) {
      const std::string& kind = fields[0];
      wanted = kind == "T" ? 3 : kind == "P" ? 6 : kind == "K" ? 7 : 0;
      if (wanted == 0) break;  // not a journal this program wrote
    }
    if (fields.size() == wanted) {
      records.push_back(std::move(fields));
      fields.clear();
    }
  }
  return records;
}

}  // namespace qor::platform
