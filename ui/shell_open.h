// Opening a file or web address with the desktop's default application.
#pragma once

#include <functional>
#include <string>

// Result codes follow the shell convention the link's failure texts are keyed on: above 32 is
// success, 2 file not found, 31 no application associated, anything else an unknown error.
using ShellOpenDone = std::function<void(int code)>;

// Starts the desktop's opener on target without waiting for it; done (if given) is called on the
// user-interface thread once the opener has finished, or at once with code 31 when there is no
// opener to start (then the result is false). Whatever done captures must outlive the opener or
// be checked by done itself.
bool ShellOpen(const std::string& target, const ShellOpenDone& done = {});

// Maps the opener's exit status to a shell result code.
int ShellCodeFromOpenerStatus(int status);
