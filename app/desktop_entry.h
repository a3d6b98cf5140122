// The desktop program's entry: implemented by ui/ in a build with the window program, and by
// app/desktop_absent.cpp in one without it.
#pragma once

#include "app/command_line.h"

// Runs the window program with the start options read from the given argument vector (which the
// toolkit sees too); returns the process exit status.
int RunDesktop(int argc, char** argv, const StartOptions& options);
