#pragma once

#include "core/message_box.h"
#include "core/window_inputs.h"

namespace qor {

// Decides whether the source and target boxes name usable folders, rewriting
// each accepted box to end with "/". Refuses a target that is the source or
// lies inside it. On the first failure shows its message and returns false.
bool CheckPaths(WindowInputs& inputs, MessageBoxes& messages);

}  // namespace qor
