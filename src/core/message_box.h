#pragma once

#include <optional>
#include <string>

namespace qor {

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// The one way the program's logic talks to the user. The window implements it
// with modal message boxes; tests replace it to read and answer every message.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;

  // `prompt` uses CR LF for its line breaks. Without a title the box shows the
  // application title. Yes/No boxes carry the question icon and have No
  // preselected.
  virtual MessageAnswer ShowMessage(const std::string& prompt,
                                    const std::optional<std::string>& title = std::nullopt,
                                    MessageButtons buttons = MessageButtons::Ok) = 0;
};

// The line break inside prompts and files.
inline constexpr const char* kLineBreak = "\r\n";

}  // namespace qor
