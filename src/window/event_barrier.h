#pragma once

// The wall between the toolkit or the system, which deliver the window's
// events, and the form's handlers: nothing thrown by a handler passes back
// into their frames (a Qt slot, a window procedure, a system callback).

#include <string>

#include "core/failure_text.h"
#include "window/form_view.h"

namespace qor {

// Tells the user that handling an event failed, in a box if one can still
// be shown, else on stderr. Never throws.
void ReportEventFailure(FormView& view, const std::string& what) noexcept;

// Runs `handler` for one event; a failure is reported and the event ends.
template <typename Handler>
void GuardEvent(FormView& view, Handler&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ReportEventFailure(view, CurrentFailureText());
  }
}

}  // namespace qor
