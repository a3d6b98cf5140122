// How pemo hands a window run to the window program: where it looks for it, that the window
// program gets the very arguments and its exit status becomes pemo's, that -auto never starts it,
// and that pemo itself does not link the toolkit. The real pemo is copied into a temporary folder
// beside a stand-in window program, so no display is needed.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/command_runner.h"
#include "support/temp_dir.h"

namespace {

void MakeExecutable(const std::string& path, const std::string& content = "#!/bin/sh\nexit 0\n") {
    WriteFileBytes(path, content);
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// Runs a shell command line and returns the exit status, -1 when it did not exit normally.
int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Output(const std::string& command) {
    std::string text;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot run " << command;
        return text;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        text.append(buffer, n);
    }
    ::pclose(pipe);
    return text;
}

TEST(CompanionProgram, IsFoundBesideTheProgramFirstThenAtItsInstallPlace) {
    TempDir dir;
    MakeDirectories(dir / "bin");
    MakeDirectories(dir / "libexec/pemo");
    const std::string own = dir / "bin/pemo";
    const std::vector<std::string> candidates{"pemo-window", "../libexec/pemo/pemo-window"};

    EXPECT_EQ(FindCompanionProgram(own, candidates), "");

    MakeExecutable(dir / "libexec/pemo/pemo-window");
    EXPECT_EQ(FindCompanionProgram(own, candidates), dir / "bin/../libexec/pemo/pemo-window");

    MakeExecutable(dir / "bin/pemo-window");
    EXPECT_EQ(FindCompanionProgram(own, candidates), dir / "bin/pemo-window");

    // An absolute candidate stands as it is.
    EXPECT_EQ(FindCompanionProgram(own, {dir / "libexec/pemo/pemo-window"}), dir / "libexec/pemo/pemo-window");
}

TEST(CompanionProgram, SkipsWhatCannotBeRun) {
    TempDir dir;
    MakeDirectories(dir / "bin");
    const std::string own = dir / "bin/pemo";
    // A plain file without the execute bit, and a folder of the name: neither can be started.
    // (Root may run a file with any execute bit, so one bit is enough to count.)
    WriteFileBytes(dir / "bin/pemo-window", "not a program");
    ASSERT_EQ(::chmod((dir / "bin/pemo-window").c_str(), 0644), 0);
    MakeDirectories(dir / "bin/other");
    EXPECT_EQ(FindCompanionProgram(own, {"pemo-window", "other", ""}), "");

    MakeExecutable(dir / "bin/last");
    EXPECT_EQ(FindCompanionProgram(own, {"pemo-window", "other", "", "last"}), dir / "bin/last");
    // Without a folder in the program's own path there is nowhere to look.
    EXPECT_EQ(FindCompanionProgram("pemo", {"last"}), "");
}

// The real pemo, copied into dir/bin with a stand-in window program beside it that records its
// arguments and ends with status 7.
class PemoBesideAWindowProgram : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirectories(dir / "bin");
        std::filesystem::copy_file(PEMO_BINARY, dir / "bin/pemo");
        MakeExecutable(dir / "bin/pemo-window",
                       "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + (dir / "window-args.txt") + "\"\nexit 7\n");
    }
    // Runs the copy in dir with a display named (none is needed: nothing opens it) and the
    // settings kept inside dir; stderr goes to dir/err.txt.
    int RunPemo(const std::string& args) {
        return Shell("cd '" + dir.Path() + "' && env -u WAYLAND_DISPLAY DISPLAY=:97 XDG_CONFIG_HOME='" +
                     (dir / "config") + "' HOME='" + dir.Path() + "' ./bin/pemo " + args + " 2> err.txt");
    }
    TempDir dir;
};

TEST_F(PemoBesideAWindowProgram, AWindowRunBecomesTheWindowProgramWithTheSameArguments) {
    const int status = RunPemo("-show -file 'My Jobs/a.job' -maxdelete:5");
#ifdef PEMO_WINDOW_LAUNCH
    EXPECT_EQ(status, 7) << ReadFileBytes(dir / "err.txt");
    ASSERT_TRUE(FileExists(dir / "window-args.txt"));
    EXPECT_EQ(ReadFileBytes(dir / "window-args.txt"), "-show\n-file\nMy Jobs/a.job\n-maxdelete:5\n");
#else
    // A build without the window program says so and starts nothing.
    EXPECT_EQ(status, 2);
    EXPECT_NE(ReadFileBytes(dir / "err.txt").find("no window program"), std::string::npos);
    EXPECT_FALSE(FileExists(dir / "window-args.txt"));
#endif
}

TEST_F(PemoBesideAWindowProgram, RefusedArgumentsHelpAndAutoNeverStartIt) {
    EXPECT_EQ(RunPemo("-maxdelete:x"), 2);
    EXPECT_EQ(RunPemo("--version > version.txt"), 0);
    EXPECT_NE(ReadFileBytes(dir / "version.txt").find("3.0"), std::string::npos);
    // An unattended run of a job without tasks stays in pemo, display or not.
    WriteFileBytes(dir / "empty.job", "");
    EXPECT_NE(RunPemo("-auto -file empty.job"), 7) << ReadFileBytes(dir / "err.txt");
    EXPECT_FALSE(FileExists(dir / "window-args.txt"));
}

TEST_F(PemoBesideAWindowProgram, WithoutTheWindowProgramSaysSoAndFails) {
    std::filesystem::remove(dir / "bin/pemo-window");
    EXPECT_EQ(RunPemo("-file a.job"), 2);
    EXPECT_NE(ReadFileBytes(dir / "err.txt").find("window program"), std::string::npos)
        << ReadFileBytes(dir / "err.txt");
}

TEST(PemoProgram, LinksNoToolkitLibrary) {
    const std::string libraries = Output(std::string("ldd '") + PEMO_BINARY + "'");
    ASSERT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    for (const char* toolkit : {"libwx_", "libgtk", "libgdk-", "libX11"}) {
        EXPECT_EQ(libraries.find(toolkit), std::string::npos) << toolkit << " in\n" << libraries;
    }
#ifdef PEMO_WINDOW_BINARY
    // The same look at the window program finds them, so the look itself works.
    const std::string window = Output(std::string("ldd '") + PEMO_WINDOW_BINARY + "'");
    EXPECT_NE(window.find("libwx_"), std::string::npos) << window;
    EXPECT_NE(window.find("libgtk"), std::string::npos) << window;
#endif
}

} // namespace
