#pragma once

// What a program run from a terminal or a scheduler needs of the system
// beyond files: whether its output meets a person, and being asked to stop.

namespace qor::platform {

// From now on an interrupt (Ctrl+C) or a request to terminate only notes
// that a stop was asked for; a second one ends the process as the system
// would have ended it.
void CatchStopRequests();

// True once a stop has been asked for since CatchStopRequests.
bool StopRequested();

// True when the standard error stream is a terminal.
bool ErrorStreamIsTerminal();

}  // namespace qor::platform
