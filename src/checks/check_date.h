#pragma once

#include "core/message_box.h"
#include "core/window_inputs.h"
#include "run/search_params.h"

namespace qor {

// Decides whether the three date boxes form an acceptable reference date.
// Stores Day, Month and Year in `params` once the texts have converted (even
// when a later test fails). On the first failed test shows its message (title
// "grrr"), moves the focus where the test says, and returns false.
bool CheckDate(WindowInputs& inputs, MessageBoxes& messages, SearchParams& params);

}  // namespace qor
