#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

namespace qor::platform {

namespace {

volatile sig_atomic_t stop_requested = 0;

void NoteStop(int) {
  stop_requested = 1;
}

}  // namespace

void CatchStopRequests() {
  struct sigaction action {};
  action.sa_handler = NoteStop;
  sigemptyset(&action.sa_mask);
  // Calls under way go on rather than fail half-way with EINTR: the file in
  // flight is finished. A wait that may never end by itself (reading a pipe)
  // looks at StopRequested every 100 ms instead. The handler then gives way
  // to the default, so a second request ends the process at once.
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() {
  return stop_requested != 0;
}

bool ErrorStreamIsTerminal() {
  return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace qor::platform
