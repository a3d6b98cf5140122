// The native command runner: what a command prints and returns, and a command that does not end.
#include "platform/command_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>

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
