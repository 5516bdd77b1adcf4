#pragma once

#include <string>

#include "core/message_box.h"
#include "core/window_inputs.h"
#include "run/search_params.h"
#include "run/walk_observer.h"

namespace qor {

// The lamp changes at most this often while a run goes on.
inline constexpr int kTimerInterval = 800;

// Everything a move run needs of the main window.
class RunWindow : public MessageBoxes, public WindowInputs, public WalkObserver {
 public:
  // The two input checks; each shows its own message when it fails.
  virtual bool CheckDate() = 0;
  virtual bool CheckPaths() = 0;

  virtual void SetGoEnabled(bool enabled) = 0;
  virtual void SetGoCaption(const std::string& caption) = 0;
  virtual void SetRunActive(bool active) = 0;
  virtual void SetInputsEnabled(bool enabled) = 0;
  // 0 stops the timer.
  virtual void SetTimerInterval(int milliseconds) = 0;
  // True once the window has agreed to close during the run (for instance
  // while the closing message was open): the run then touches it no more.
  virtual bool IsClosing() = 0;
};

enum class RunOutcome {
  Refused,    // a check failed, or the target folder or log could not be made
  Completed,  // the walk ended and the closing message was shown
  Abandoned,  // the window closed during the run
};

// One whole move run, as a press of GO starts it: checks, date stamp, target
// folder, run log, locked window, walk, closing message.
RunOutcome RunMove(RunWindow& window, SearchParams& params);

// Year, month and day as eight digits, e.g. 20240305.
std::string MakeDateStamp(int year, int month, int day);

}  // namespace qor
