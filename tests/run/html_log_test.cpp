// The HTML run log on a real file: header, markup per colour, escaping, the flush threshold,
// Teal lines only with the switch, the footer, failures shown and retried, and two threads.
#include <gtest/gtest.h>

#include <thread>

#include "model/stdio_file_ex.h"
#include "run/html_log.h"
#include "support/engine_tree.h"
#include "support/temp_dir.h"

namespace {

// The log file decoded to UTF-8, checking its byte-order mark.
std::string ReadLog(const std::string& path) {
    std::string bytes = ReadFileBytes(path);
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), std::string("\xFF\xFE", 2));
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return Utf16LeToUtf8(units);
}

class RunLogTest : public ::testing::Test {
protected:
    RunLogTest() : log(rig.ctx, &rig.window) {}
    TempDir tmp;
    EngineRig rig;
    CRunLog log;
};

} // namespace

TEST_F(RunLogTest, AShortRunIsHeaderMarkupAndFooter) {
    const std::string path = tmp / "log.html";
    log.BeginRun();
    log.AddLogLine("Job started", LogColour::Bold);
    std::string reason;
    ASSERT_TRUE(log.StartLog(path, reason)) << reason;
    log.AddLogLine("Failed & <b>", LogColour::Red);
    log.AddLogLine("Adding file /s/<script>x</script>", LogColour::Green);
    log.AddLogLine("Deleted old", LogColour::Purple);
    log.AddLogLine("Excluded: /s/a.tmp", LogColour::Teal);
    EXPECT_EQ(ReadLog(path), "<HTML><BODY>\r\n") << "nothing is written below the threshold";
    ASSERT_TRUE(log.FinishLog(reason)) << reason;
    EXPECT_EQ(ReadLog(path), "<HTML><BODY>\r\n"
                             "<B>Job started</B><BR>\r\n"
                             "<FONT COLOR=RED>Failed &amp; &lt;b&gt;</FONT><BR>\r\n"
                             "<FONT COLOR=GREEN>Adding file /s/&lt;script&gt;x&lt;/script&gt;</FONT><BR>\r\n"
                             "<FONT COLOR=PURPLE>Deleted old</FONT><BR>\r\n"
                             "</BODY></HTML>\r\n");
    // The pane gets the plain text, and never the Teal line.
    EXPECT_EQ(rig.window.PaneLines(), (std::vector<std::string>{"Job started", "Failed & <b>",
                                                                "Adding file /s/<script>x</script>", "Deleted old"}));
    // After the footer a line reaches the pane only.
    log.AddLogLine("Aborting shutdown due to errors", LogColour::Bold);
    log.FlushLog();
    EXPECT_EQ(ReadLog(path).find("Aborting"), std::string::npos);
    EXPECT_EQ(rig.window.PaneLines().back(), "Aborting shutdown due to errors");
}

TEST_F(RunLogTest, TealLinesGoToTheFileOnlyWithTheSwitch) {
    rig.ctx.logExclusions = true;
    const std::string path = tmp / "log.html";
    std::string reason;
    ASSERT_TRUE(log.StartLog(path, reason));
    log.AddLogLine("Excluded: /s/a.tmp", LogColour::Teal);
    ASSERT_TRUE(log.FinishLog(reason));
    EXPECT_EQ(ReadLog(path), "<HTML><BODY>\r\n<FONT COLOR=#008080>Excluded: /s/a.tmp</FONT><BR>\r\n</BODY></HTML>\r\n");
    EXPECT_TRUE(rig.window.PaneLines().empty());
}

TEST_F(RunLogTest, TheThresholdIsTestedAfterAppending) {
    const std::string path = tmp / "log.html";
    std::string reason;
    ASSERT_TRUE(log.StartLog(path, reason));
    const std::string markup = "<B></B><BR>\r\n";
    // Exactly 8192 characters pending stays pending; one more flushes.
    log.AddLogLine(std::string(CRunLog::kFlushThreshold - markup.size(), 'x'), LogColour::Bold);
    EXPECT_EQ(log.PendingLog().size(), CRunLog::kFlushThreshold);
    EXPECT_EQ(ReadLog(path), "<HTML><BODY>\r\n");
    log.AddLogLine("y", LogColour::Bold);
    EXPECT_TRUE(log.PendingLog().empty());
    EXPECT_EQ(ReadLog(path).size(),
              std::string("<HTML><BODY>\r\n").size() + CRunLog::kFlushThreshold + 1 + markup.size());
    // A single line of 9000 characters is written at once.
    log.AddLogLine(std::string(9000, 'z'), LogColour::Green);
    EXPECT_TRUE(log.PendingLog().empty());
    EXPECT_NE(ReadLog(path).find(std::string(9000, 'z')), std::string::npos);
}

TEST_F(RunLogTest, AFailedFlushShowsTheReasonAndKeepsTheText) {
    std::string reason;
    EXPECT_FALSE(log.StartLog(tmp / "missing-dir/log.html", reason));
    EXPECT_FALSE(reason.empty());
    log.AddLogLine("kept", LogColour::Red);
    log.FlushLog();
    auto messages = rig.messages.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("Error saving logfile:\n\n", 0), 0u);
    EXPECT_GT(messages[0].size(), std::string("Error saving logfile:\n\n").size());
    EXPECT_EQ(log.PendingLog(), "<FONT COLOR=RED>kept</FONT><BR>\r\n");
    // Once the directory exists, the next flush writes what was kept.
    MakeDirectories(tmp / "missing-dir");
    log.FlushLog();
    EXPECT_TRUE(log.PendingLog().empty());
    EXPECT_EQ(ReadLog(tmp / "missing-dir/log.html"), "<FONT COLOR=RED>kept</FONT><BR>\r\n");
    ASSERT_TRUE(log.FinishLog(reason)) << reason;
    EXPECT_EQ(ReadLog(tmp / "missing-dir/log.html"), "<FONT COLOR=RED>kept</FONT><BR>\r\n</BODY></HTML>\r\n");
}

TEST_F(RunLogTest, AnUnwritableLogCostsOneMessagePerBlockNotPerLine) {
    std::string reason;
    EXPECT_FALSE(log.StartLog(tmp / "missing-dir/log.html", reason));
    const std::string line(100, 'x');
    for (int i = 0; i < 400; ++i) {
        log.AddLogLine(line, LogColour::Green);
    }
    const std::size_t markup = std::string("<FONT COLOR=GREEN></FONT><BR>\r\n").size() + line.size();
    const std::size_t expected = 400 * markup / CRunLog::kFlushThreshold;
    EXPECT_GE(rig.messages.Messages().size(), expected - 1);
    EXPECT_LE(rig.messages.Messages().size(), expected + 1);
    EXPECT_EQ(log.PendingLog().size(), 400 * markup) << "nothing is lost while the file is refused";
    MakeDirectories(tmp / "missing-dir");
    log.AddLogLine("last", LogColour::Bold);
    log.FlushLog();
    EXPECT_TRUE(log.PendingLog().empty());
}

TEST_F(RunLogTest, LinesOfTwoThreadsStayWholeAndInTheirOwnOrder) {
    const std::string path = tmp / "log.html";
    std::string reason;
    ASSERT_TRUE(log.StartLog(path, reason));
    auto writer = [&](const std::string& tag) {
        for (int i = 0; i < 500; ++i) {
            log.AddLogLine(tag + std::to_string(i), LogColour::Green);
        }
    };
    std::thread a(writer, "worker ");
    std::thread b(writer, "pause ");
    a.join();
    b.join();
    ASSERT_TRUE(log.FinishLog(reason));
    const std::string text = ReadLog(path);
    std::size_t lastWorker = 0;
    std::size_t lastPause = 0;
    for (int i = 0; i < 500; ++i) {
        std::size_t w = text.find("<FONT COLOR=GREEN>worker " + std::to_string(i) + "</FONT><BR>\r\n");
        std::size_t p = text.find("<FONT COLOR=GREEN>pause " + std::to_string(i) + "</FONT><BR>\r\n");
        ASSERT_NE(w, std::string::npos) << i;
        ASSERT_NE(p, std::string::npos) << i;
        EXPECT_GE(w, lastWorker);
        EXPECT_GE(p, lastPause);
        lastWorker = w;
        lastPause = p;
    }
    EXPECT_EQ(rig.window.PaneLines().size(), 1000u);
}
