// The desktop entry of a build without the window program: pemo says so instead of opening one.
#include <cstdio>

#include "app/desktop_entry.h"

int RunDesktop(int /*argc*/, char** /*argv*/, const StartOptions& /*options*/, IFileSystem& /*fs*/) {
    std::fputs("pemo: this build has no window program; run a job unattended with -auto\n", stderr);
    return 2;
}
