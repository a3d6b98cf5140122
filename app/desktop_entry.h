// The desktop program's entry: implemented by ui/ for the window program, by app/desktop_launch.cpp
// for pemo, which hands a window run to it, and by app/desktop_absent.cpp in a build without it.
#pragma once

#include "app/command_line.h"
#include "platform/file_system.h"

// Runs the window program with the start options read from the given argument vector (which the
// toolkit sees too) over the program's file system; returns the process exit status.
int RunDesktop(int argc, char** argv, const StartOptions& options, IFileSystem& fs);
