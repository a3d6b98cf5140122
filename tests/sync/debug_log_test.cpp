// The debug log file: UTF-16 with one byte-order mark, lines appended whole from several
// threads, nothing without the switch, and the message box when the file cannot be opened.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/debug_log.h"
#include "sync/fs_layer.h"

TEST(DebugLog, Utf16WithOneByteOrderMarkAcrossCalls) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    EngineRig rig;
    DebugLog(rig.ctx, "first line");
    DebugLog(rig.ctx, "Pfad: /home/\xC3\xBC\xE2\x82\xAC");
    const std::string bytes = ReadFileBytes("debug.log");
    const std::string expected = std::string("\xFF\xFE", 2) + std::string("f\0i\0r\0s\0t\0 \0l\0i\0n\0e\0\r\0\n\0", 24);
    ASSERT_GE(bytes.size(), expected.size());
    EXPECT_EQ(bytes.substr(0, expected.size()), expected);
    bool bom = false;
    auto lines = DebugLogLines(&bom);
    EXPECT_TRUE(bom);
    EXPECT_EQ(lines, (std::vector<std::string>{"first line", "Pfad: /home/\xC3\xBC\xE2\x82\xAC"}));
    EXPECT_EQ(bytes.find(std::string("\xFF\xFE", 2), 2), std::string::npos) << "one mark only";
}

TEST(DebugLog, NothingIsWrittenWithTheSwitchOff) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    EngineRig rig;
    WriteFileBytes(tmp / "f", "x");
    FileEntry e;
    ASSERT_TRUE(e.YStat(rig.ctx, tmp / "f"));
    ASSERT_TRUE(YMakeDirectory(rig.ctx, tmp / "d"));
    EXPECT_FALSE(FileExists("debug.log"));
}

TEST(DebugLog, LinesOfTwoThreadsNeverInterleave) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    EngineRig rig;
    auto writer = [&](char tag) {
        for (int i = 0; i < 150; ++i) {
            DebugLog(rig.ctx, std::string(40, tag) + " " + std::to_string(i));
        }
    };
    std::thread a(writer, 'a');
    std::thread b(writer, 'b');
    a.join();
    b.join();
    auto lines = DebugLogLines();
    ASSERT_EQ(lines.size(), 300u);
    std::set<std::string> seen(lines.begin(), lines.end());
    EXPECT_EQ(seen.size(), 300u);
    for (const auto& line : lines) {
        ASSERT_TRUE(line.rfind(std::string(40, 'a') + " ", 0) == 0 || line.rfind(std::string(40, 'b') + " ", 0) == 0)
            << line;
    }
    EXPECT_TRUE(rig.messages.Messages().empty());
}

TEST(DebugLog, AFileThatCannotBeOpenedCostsARetryAndAMessage) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    EngineRig rig;
    MakeDirectories(tmp / "debug.log"); // refused even to root
    auto start = std::chrono::steady_clock::now();
    DebugLog(rig.ctx, "lost line");
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(100));
    auto messages = rig.messages.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("lost line\r\n", 0), 0u) << messages[0];
    EXPECT_GT(messages[0].size(), std::string("lost line\r\n").size()) << "the reason follows";
}
