#include "config/settings.h"

#include <utility>
#include <vector>

#include "config/stored_values.h"
#include "core/numbers.h"
#include "platform/files.h"
#include "platform/ini.h"
#include "platform/locale.h"

namespace qor {

namespace {

constexpr const char* kSection = "Servers";

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind(platform::kSeparator);
  if (slash == std::string::npos) return ".";
  return path.substr(0, slash == 0 ? 1 : slash);
}

}  // namespace

std::string ReadSetting(const std::string& settings_file, const std::string& key) {
  // Read whole: a folder text cut short could name another existing folder.
  return platform::ReadIniValue(settings_file, kSection, key).value_or(std::string());
}

void LoadSettings(WindowInputs& inputs, const std::string& settings_file) {
  // Cleared first so that every stored non-zero value is a change and runs
  // the box's change handler.
  inputs.SetCheckValue(CheckBox::Rekurse, 0);
  inputs.SetCheckValue(CheckBox::DelFolderMove, 0);
  inputs.SetCheckValue(CheckBox::AddDateTarget, 0);

  inputs.SetPathText(kSourceBox, ReadSetting(settings_file, "Source"));
  inputs.SetPathText(kTargetBox, ReadSetting(settings_file, "Target"));

  inputs.SetCheckValue(CheckBox::AddDateTarget,
                       StoredCheckValue(ReadSetting(settings_file, "AddDate")));
  inputs.SetCheckValue(CheckBox::Rekurse, StoredCheckValue(ReadSetting(settings_file, "Rekurse")));
  inputs.SetCheckValue(CheckBox::DelFolderMove,
                       StoredCheckValue(ReadSetting(settings_file, "DelMov")));

  const std::string decimal_point = platform::CurrentNumberFormat().decimal_point;
  const std::pair<int, const char*> dates[] = {
      {kDayBox, "Day"}, {kMonthBox, "Month"}, {kYearBox, "Year"}};
  for (const auto& [box, key] : dates) {
    inputs.SetDateText(
        box, StoredNumberText(LeadingNumber(ReadSetting(settings_file, key)), decimal_point));
  }
}

void SaveSettings(WindowInputs& inputs, const std::string& settings_file) {
  const std::vector<std::pair<std::string, std::string>> values = {
      {"Source", inputs.PathText(kSourceBox)},
      {"Target", inputs.PathText(kTargetBox)},
      {"AddDate", IntegerText(inputs.CheckValue(CheckBox::AddDateTarget))},
      {"Rekurse", IntegerText(inputs.CheckValue(CheckBox::Rekurse))},
      {"DelMov", IntegerText(inputs.CheckValue(CheckBox::DelFolderMove))},
      {"Day", inputs.DateText(kDayBox)},
      {"Month", inputs.DateText(kMonthBox)},
      {"Year", inputs.DateText(kYearBox)},
  };
  // The folder under the user's config folder may not exist yet.
  const std::string folder = FolderOf(settings_file);
  if (!platform::IsDirectory(folder)) platform::MakeSureFolderPathExists(folder);
  // One replacement of the file for all eight keys, so the stored set is
  // never half old and half new. A failure leaves the old file as it was and
  // is not reported: the next start reads the old values.
  platform::WriteIniValues(settings_file, kSection, values);
}

}  // namespace qor
