// The window's modal message boxes.
#include "platform/win32/wide.h"
#include "window/win32/main_view.h"

namespace qor {

namespace {

struct BoxSearch {
  HWND owner;
};

BOOL CALLBACK EndOwnedBox(HWND window, LPARAM lparam) {
  const auto* search = reinterpret_cast<const BoxSearch*>(lparam);
  wchar_t window_class[16] = {};
  ::GetClassNameW(window, window_class, static_cast<int>(std::size(window_class)));
  // Message boxes are dialogs of the system's dialog class.
  if (::GetWindow(window, GW_OWNER) == search->owner && ::lstrcmpW(window_class, L"#32770") == 0) {
    ::EndDialog(window, IDNO);
  }
  return TRUE;
}

}  // namespace

MessageAnswer Win32FormView::ShowMessage(const std::string& prompt, const std::string& title,
                                         MessageButtons buttons) {
  UINT style = MB_OK;
  if (buttons == MessageButtons::YesNo) style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
  ++open_messages_;
  const int answer = ::MessageBoxW(window_.get(), platform::Widen(prompt).c_str(),
                                   platform::Widen(title).c_str(), style);
  --open_messages_;
  // The box disabled its owner and should have enabled it again on its way
  // out; a window left disabled would ignore every close request, so the
  // last box to go makes sure.
  if (open_messages_ == 0 && window_ && !closing_) ::EnableWindow(window_.get(), TRUE);
  if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
  return answer == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
}

void Win32FormView::DismissOpenMessage() {
  if (open_messages_ == 0 || !window_) return;
  BoxSearch search{window_.get()};
  ::EnumThreadWindows(::GetCurrentThreadId(), &EndOwnedBox, reinterpret_cast<LPARAM>(&search));
}

}  // namespace qor
