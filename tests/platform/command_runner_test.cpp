// The native command runner: what a command prints and returns, and a command that does not end.
#include "platform/command_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

#ifndef _WIN32

TEST(NativeCommandRunner, CollectsOutputAndStatusAndKillsACommandPastItsTime) {
    using std::chrono::milliseconds;
    std::string output;
    EXPECT_EQ(NativeCommandRunner().Run({"sh", "-c", "echo out; echo err >&2; exit 3"}, output, milliseconds(20000)),
              3);
    EXPECT_EQ(output, "out\nerr\n");
    EXPECT_EQ(NativeCommandRunner().Run({"/nonexistent/program"}, output, milliseconds(20000)), kCommandNotStarted);

    // Past its time a command is killed, also when it has closed its output; one that has ended is
    // not waited for beyond its time when a child of its own keeps its output open.
    const std::pair<const char*, int> cases[] = {{"echo started; exec sleep 5", kCommandTimedOut},
                                                 {"exec >&- 2>&-; sleep 5", kCommandTimedOut},
                                                 {"sleep 5 & echo ok", 0}};
    for (const auto& [script, expected] : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(NativeCommandRunner().Run({"sh", "-c", script}, output, milliseconds(300)), expected) << script;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << script;
    }
}

#else

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

// The test program runs itself as the command, in the part PEMO_TEST_CHILD names.
std::vector<std::string> Child(std::vector<std::string> args = {}) {
    args.insert(args.begin(),
                {OwnProgramPath(), "--gtest_filter=CommandChild.DISABLED_Acts", "--gtest_also_run_disabled_tests"});
    return args;
}

TEST(CommandChild, DISABLED_Acts) {
    const std::string part = EnvironmentValue("PEMO_TEST_CHILD");
    if (part == "echo") {
        int count = 0;
        wchar_t** args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        for (int i = 3; i < count; ++i) {
            char text[512];
            const int n = ::WideCharToMultiByte(CP_UTF8, 0, args[i], -1, text, sizeof text, nullptr, nullptr);
            std::printf("[%s]\n", n > 0 ? text : "?");
        }
        std::fflush(stdout);
        std::_Exit(7);
    }
    if (part == "spawn") {
        // A grandchild that holds the output, then this one ends or waits to be ended.
        ::SetEnvironmentVariableW(L"PEMO_TEST_CHILD", L"sleep");
        StartProgram(Child(), nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(EnvironmentValue("PEMO_TEST_WAIT").empty() ? 0 : 20000));
        std::_Exit(0);
    }
    if (part == "sleep") {
        std::printf("grandchild %lu\n", ::GetCurrentProcessId());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(20));
        std::_Exit(0);
    }
}

TEST(NativeCommandRunner, CollectsOutputAndStatusAndEndsACommandTreePastItsTime) {
    using std::chrono::milliseconds;
    std::string output;
    ::SetEnvironmentVariableW(L"PEMO_TEST_CHILD", L"echo");
    // Arguments reach the command as they were, whatever the quoting rules make of them.
    const std::vector<std::string> awkward = {
        "",          "two words", "quote\"inside", "trailing\\", "back\\\"quote", "\t", "caf\xC3\xA9 \xE2\x82\xAC",
        "a\\\\b c\\"};
    EXPECT_EQ(NativeCommandRunner().Run(Child(awkward), output, milliseconds(20000)), 7);
    std::string expected;
    for (const std::string& arg : awkward) {
        expected += "[" + arg + "]\r\n"; // the child writes text
    }
    EXPECT_NE(output.find(expected), std::string::npos) << output;
    EXPECT_EQ(NativeCommandRunner().Run({"no-such-program-here"}, output, milliseconds(20000)), kCommandNotStarted);
    TempDir dir;
    WriteFileBytes(dir / "script.bat", "@echo %*\r\n");
    EXPECT_EQ(NativeCommandRunner().Run({dir / "script.bat", "a&echo", "b"}, output, milliseconds(20000)),
              kCommandNotStarted)
        << "a batch file would read \"&\" as the start of another command";

    // Past its time a command and what it started are ended; a command that has ended is not
    // waited for beyond its time while its grandchild keeps the output open.
    ::SetEnvironmentVariableW(L"PEMO_TEST_CHILD", L"spawn");
    for (const bool wait : {true, false}) {
        ::SetEnvironmentVariableW(L"PEMO_TEST_WAIT", wait ? L"1" : nullptr);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(NativeCommandRunner().Run(Child(), output, milliseconds(5000)), wait ? kCommandTimedOut : 0);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        const std::size_t at = output.find("grandchild ");
        ASSERT_NE(at, std::string::npos) << output;
        if (wait) {
            EXPECT_FALSE(ProcessExists(std::atol(output.c_str() + at + 11))) << "the grandchild was not ended";
        }
    }
    ::SetEnvironmentVariableW(L"PEMO_TEST_CHILD", nullptr);
    ::SetEnvironmentVariableW(L"PEMO_TEST_WAIT", nullptr);
}

} // namespace

#endif
