#include "core/failure_text.h"

#include <exception>
#include <new>

namespace qor {

std::string CurrentFailureText() noexcept {
  // Building the text may itself run out of memory; a fixed one is left.
  try {
    try {
      throw;
    } catch (const std::bad_alloc&) {
      return "out of memory";
    } catch (const std::exception& failure) {
      return failure.what();
    } catch (...) {
      return "an unknown error";
    }
  } catch (...) {
    return {};
  }
}

}  // namespace qor
