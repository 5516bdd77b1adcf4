#pragma once

// What a program run from a terminal or a scheduler needs of the system
// beyond files: its arguments and output as UTF-8 text, whether its output
// meets a person, and being asked to stop.

#include <string>
#include <string_view>
#include <vector>

namespace qor::platform {

// From now on an interrupt (Ctrl+C) or a request to terminate only notes
// that a stop was asked for; a second one ends the process as the system
// would have ended it. On Windows: Ctrl+C, Ctrl+Break and closing the
// console window.
void CatchStopRequests();

// True once a stop has been asked for since CatchStopRequests.
bool StopRequested();

// True when the standard error stream is a terminal.
bool ErrorStreamIsTerminal();

// The program's arguments after its name, as UTF-8. On Windows they are
// read from the UTF-16 command line the system keeps, so that no name is
// lost to the code page; elsewhere they are argv[1] onwards as they are.
std::vector<std::string> ProgramArguments(int argc, char** argv);

enum class StandardStream { Output, Error };

// Writes the UTF-8 `text` to standard output or standard error at once. A
// Windows console gets it as UTF-16, so that every name shows as it is, and
// understands the progress line's control sequences; a file or pipe gets
// exactly its bytes.
void WriteText(StandardStream stream, std::string_view text);

}  // namespace qor::platform
