#pragma once
// The shell's "open" of a file or a web address: the desktop's opener (xdg-open) chooses
// the program, as the shell's file associations do elsewhere.
#include <string>

#include "platform/Processes.h"

// The program that opens things; looked up in PATH.
extern const char* const ShellOpenProgram;

// Starts the opener for the target in workDir (empty: ours) and returns at once. The
// caller owns the handle (CloseProcessHandle); a failed start leaves the negated system
// error code in its Value (-ERROR_FILE_NOT_FOUND when no opener is installed). What the
// opener does with the target is not waited for.
TProcessHandle ShellOpen(const std::string& target, const std::string& workDir);
