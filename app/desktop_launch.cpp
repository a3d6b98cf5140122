// The desktop entry of the command-line program: it hands a window run to the window program, so
// that pemo itself never maps the toolkit's libraries.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/desktop_entry.h"
#include "platform/command_runner.h"
#include "platform/fs_error.h"
#include "platform/process.h"

int RunDesktop(int argc, char** argv, const StartOptions& /*options*/, IFileSystem& /*fs*/) {
    // Beside this program in the build tree and in a relocated install; PEMO_WINDOW_RELATIVE is
    // where `cmake --install` puts it, relative to this program's folder.
    const std::string window = FindCompanionProgram(OwnProgramPath(), {"pemo-window", PEMO_WINDOW_RELATIVE});
    if (window.empty()) {
        std::fputs("pemo: the window program (pemo-window) is not installed; run a job unattended with -auto\n",
                   stderr);
        return 2;
    }
    std::vector<char*> arguments(argv, argv + argc);
    arguments.push_back(nullptr);
    // Windows has no exec: there ReplaceProcess waits for the window program and ends this
    // process with its status, so the console that started pemo.exe still gets that status.
    const int error = ReplaceProcess(window, arguments.data());
    std::fprintf(stderr, "pemo: cannot start the window program %s: %s\n", window.c_str(),
                 ErrorText(static_cast<std::uint32_t>(error)).c_str());
    return 2;
}
