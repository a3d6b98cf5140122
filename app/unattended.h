// The unattended program of -auto: the controller over the headless shell, from start-up to the
// end of the run, with no display needed.
#pragma once

#include "app/command_line.h"
#include "app/headless_shell.h"
#include "run/power_port.h"

// Runs the job the options name and returns the exit status: 0 when the run counted no errors
// and reported no failure, 1 when it did, 2 when it could not start. showProgress: stdout is a
// terminal, so one progress line is kept up to date there. Every file goes through fs.
int RunUnattended(const StartOptions& options, IClock& clock, IPowerPort& power, IFileSystem& fs, bool showProgress);
