// The running program's own process and whether another one still exists.
#pragma once

long CurrentProcessId();
// True unless the system says no process has the id (one of another user counts as existing).
bool ProcessExists(long pid);
