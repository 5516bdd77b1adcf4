#pragma once

// Where a test steps into a move, to make happen what the system does only
// by chance, or not at all under wine. Both stay null in the program.

#include <windows.h>

#include <string>

namespace qor::platform::test_seams {

// Called between the check that a source is no folder and its rename.
inline void (*before_rename)(const std::wstring& from) = nullptr;

// Copies in place of CopyFileExW, whose progress routine wine never calls.
using CopyFileFunction = BOOL(WINAPI*)(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress,
                                       LPVOID data, LPBOOL cancel, DWORD flags);
inline CopyFileFunction copy_file = nullptr;

// The steps of a move across volumes that a kill could cut short, each
// reported as it is reached: the copy made under its temporary name; about
// to be put in place; in place with its source still there; the source gone.
enum class AcrossVolumesStep { Copied, Placing, Placed, Removed };
inline void (*across_volumes_step)(AcrossVolumesStep step) = nullptr;

// Asked before a run's journal is made in `folder`: an error to take for
// the system's answer there (a folder that takes no file), or 0.
inline DWORD (*journal_refused)(const std::wstring& folder) = nullptr;

}  // namespace qor::platform::test_seams
