#include "window/event_barrier.h"

#include <cstdio>

#include "core/message_box.h"

namespace qor {

void ReportEventFailure(FormView& view, const std::string& what) noexcept {
  try {
    if (!view.IsClosing()) {
      view.ShowMessage(
          std::string("The window could not finish what it was doing") + kLineBreak + what, "Arrgh",
          MessageButtons::Ok);
      return;
    }
  } catch (...) {
  }
  std::fprintf(stderr, "qor: the window could not finish what it was doing: %s\n", what.c_str());
}

}  // namespace qor
