// The fault loop over the debug log's append: a line is added whole or not at all, and a file
// that cannot be opened even on the second try is shown with the line.
#include <gtest/gtest.h>

#include <cerrno>

#include "model/stdio_file_ex.h"
#include "support/engine_tree.h"
#include "support/fault_loop.h"
#include "support/temp_dir.h"
#include "sync/debug_log.h"

TEST(DebugLogFaults, ALineIsAppendedWholeOrNotAtAll) {
    TempDir tmp;
    ScopedCurrentDirectory cwd(tmp.Path());
    EngineRig rig;
    const std::string earlier = "\xFF\xFE" + Utf8ToUtf16Le("YStat: /s/a OK\r\n");
    const std::string line = "YCopyFile: /s/\xC3\xA4 -> /d/\xC3\xA4";
    std::size_t shown = 0;
    const int hits = FailEachCallInTurn(
        rig.fs, FakeFileSystem::FileCallKinds(), EIO,
        [&](const std::function<void()>& arm) {
            WriteFileBytes(tmp / "debug.log", earlier);
            shown = rig.messages.Messages().size();
            arm();
            DebugLog(rig.ctx, line);
        },
        [&](const InjectedFailure& failure) {
            const std::string bytes = ReadFileBytes(tmp / "debug.log");
            const std::string appended = earlier + Utf8ToUtf16Le(line + "\r\n");
            // One failed open is retried, so a single failure never shows a box.
            EXPECT_EQ(rig.messages.Messages().size(), shown);
            if (failure.kind == FsCall::CloseFile || !failure.hit) {
                EXPECT_EQ(bytes, appended);
            } else if (failure.kind == FsCall::WriteFile) {
                EXPECT_EQ(bytes, earlier) << "a torn line was left";
            } else {
                EXPECT_TRUE(bytes == earlier || bytes == appended);
            }
        });
    EXPECT_GE(hits, 5);

    // Both tries refused: the line and the reason are shown, and the file is as it was.
    WriteFileBytes(tmp / "debug.log", earlier);
    rig.fs.FailPath(FsCall::OpenFile, "debug.log", EACCES);
    DebugLog(rig.ctx, line);
    rig.fs.Reset();
    EXPECT_EQ(ReadFileBytes(tmp / "debug.log"), earlier);
    ASSERT_FALSE(rig.messages.Messages().empty());
    EXPECT_EQ(rig.messages.Messages().back(), line + "\r\nAccess to debug.log was denied.");
}
