#pragma once

#include <string>

namespace qor {

// What the walk needs of the window: the three counter labels and a yield.
class WalkObserver {
 public:
  virtual ~WalkObserver() = default;

  // Sets the caption of counter label lblNumber(index), index 0 to 2.
  virtual void SetCounterLabel(int index, const std::string& text) = 0;
  // Lets the window handle every waiting event. False tells the walk to give
  // up at once (the window was closed): no further file is moved and the
  // window is not touched again.
  virtual bool Yield() = 0;
};

}  // namespace qor
