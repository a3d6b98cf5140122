// The desktop program's entry: implemented by ui/ in a build with the window program, and by
// app/desktop_absent.cpp in one without it.
#pragma once

// Runs the window program on a command line of the given argument vector; returns the process
// exit status.
int RunDesktop(int argc, char** argv);
