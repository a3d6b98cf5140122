// Preview all and Preview selected through the controller, on real trees: the run reports what a
// real run would do, changes nothing on disk, saves no job, and writes its own run log.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <map>

#include "app/headless_shell.h"
#include "app/main_frame.h"
#include "app/versions_view.h"
#include "model/job_file.h"
#include "model/stdio_file_ex.h"
#include "support/engine_tree.h"
#include "support/fake_clock.h"
#include "support/fake_power_port.h"
#include "support/recording_window.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class PreviewShell : public CHeadlessShell {
public:
    explicit PreviewShell(IClock& source) : CHeadlessShell(source, false, false) {}
    IRunWindow& Window() override { return recording; }
    void MessageBox(const std::string& text) override { messages.push_back(text); }
    bool AskAboutLines(const std::string& /*title*/, const std::vector<std::string>& lines,
                       const std::string& question) override {
        shown = lines;
        asked = question;
        if (onAsk) {
            onAsk();
        }
        return !question.empty() && answer;
    }
    RecordingWindow recording;
    std::vector<std::string> messages;
    std::vector<std::string> shown;
    std::string asked;
    bool answer = true;
    std::function<void()> onAsk;
};

// Every file and directory below root with its content (files) and modification time.
std::map<std::string, std::string> TreeState(const std::string& root) {
    std::map<std::string, std::string> state;
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        for (const std::string& name : ListDirectory(root + relative)) {
            const std::string path = relative + "/" + name;
            const std::filesystem::path entryPath = FsPath(root + path);
            std::string entry = std::to_string(std::filesystem::last_write_time(entryPath).time_since_epoch().count());
            if (std::filesystem::is_directory(std::filesystem::symlink_status(entryPath))) {
                pending.push_back(path);
                entry += "/";
            } else {
                entry += ":" + ReadFileBytes(root + path);
            }
            state[path] = entry;
        }
    }
    return state;
}

// A run log decoded from its UTF-16 form.
std::string ReadLog(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return Utf16LeToUtf8(units);
}

bool HasLine(const std::vector<std::string>& lines, const std::string& start) {
    for (const std::string& line : lines) {
        if (line.find(start) != std::string::npos) {
            return true;
        }
    }
    return false;
}

struct PreviewTest : ::testing::Test {
    TempDir dir;
    ScopedCurrentDirectory cwd{dir.Path()};
    FakePowerPort power;
    FakeClock clock;
    PreviewShell shell{clock};
    std::unique_ptr<CMainFrame> frame;

    void SetUp() override {
        MakeDirectories(dir / "src/sub");
        WriteFileBytes(dir / "src/new.txt", "new");
        WriteFileBytes(dir / "src/sub/changed.txt", "changed content");
        MakeDirectories(dir / "dst/sub");
        WriteFileBytes(dir / "dst/sub/changed.txt", "old");
        WriteFileBytes(dir / "dst/extra.txt", "only in the destination");
        WriteFileBytes(dir / "log.html", "the last real run's log");
        Task mirror;
        mirror.name = "Mirror";
        mirror.source = dir / "src";
        mirror.destination = dir / "dst";
        Task off = mirror;
        off.name = "Off";
        off.enabled = false;
        off.destination = dir / "dst2";
        WriteFileBytes(dir / "job.job", JobLine(mirror) + JobLine(off));

        frame = std::make_unique<CMainFrame>(shell, power, NativeFileSystem());
        frame->SetSettingsPlace(dir.Path(), dir / "user.conf");
        StartOptions options;
        options.startJobFile = dir / "job.job";
        frame->ApplyStartOptions(options);
        ASSERT_TRUE(frame->StartUp());
    }
    void WaitForRuns(int count) {
        ASSERT_TRUE(shell.RunUntil(
            [&] { return frame->Run().State().runThreadsFinished == count && !frame->Run().State().running; }, 20s));
    }
};

TEST_F(PreviewTest, PreviewAllChangesNothingAndKeepsTheLastRealRunsLog) {
    const auto before = TreeState(dir / "dst");
    const std::string job = ReadFileBytes(dir / "job.job");
    frame->Run().RunAllCommand(true);
    WaitForRuns(1);
    EXPECT_EQ(TreeState(dir / "dst"), before);
    EXPECT_FALSE(FileExists(dir / "dst2"));
    EXPECT_EQ(ReadFileBytes(dir / "job.job"), job) << "no last-run stamp is saved";
    EXPECT_EQ(frame->Job().Tasks()[0]->lastRun, -1);
    EXPECT_EQ(ReadFileBytes(dir / "log.html"), "the last real run's log");
    ASSERT_TRUE(FileExists(dir / "log-preview.html"));
    EXPECT_EQ(frame->Run().RunLogPath(), "log-preview.html");
    EXPECT_NE(ReadLog(dir / "log-preview.html").find("fake it"), std::string::npos);
    // The figures are those of the real run to come.
    const std::vector<std::string> lines = shell.recording.PaneLines();
    EXPECT_TRUE(HasLine(lines, "Changed: 1, Same: 0, Deleted: 1, Skipped: 0, New: 1"))
        << ::testing::PrintToString(lines);
    EXPECT_TRUE(shell.messages.empty()) << ::testing::PrintToString(shell.messages);

    // The next plain run is real again: it mirrors, saves the job and writes log.html.
    frame->Run().RunAllCommand();
    WaitForRuns(2);
    EXPECT_FALSE(frame->Run().State().previewing);
    EXPECT_EQ(ReadFileBytes(dir / "dst/new.txt"), "new");
    EXPECT_EQ(ReadFileBytes(dir / "dst/sub/changed.txt"), "changed content");
    EXPECT_FALSE(FileExists(dir / "dst/extra.txt"));
    EXPECT_NE(ReadFileBytes(dir / "job.job"), job);
    EXPECT_NE(ReadFileBytes(dir / "log.html"), "the last real run's log");
    EXPECT_NE(ReadLog(dir / "log.html").find("Job started"), std::string::npos);
}

TEST_F(PreviewTest, PreviewSelectedAndTheTrayPreviewFakeEvenAJobWithoutFakeIt) {
    const auto before = TreeState(dir / "dst");
    // The disabled task, run on its own as Run selected allows: its destination is not created.
    frame->Run().RunSelectedCommand(frame->Job().Tasks()[1].get(), true);
    WaitForRuns(1);
    EXPECT_FALSE(FileExists(dir / "dst2"));
    frame->Run().TrayRunAllCommand(true);
    WaitForRuns(2);
    EXPECT_EQ(TreeState(dir / "dst"), before);
    EXPECT_EQ(ReadFileBytes(dir / "log.html"), "the last real run's log");
    EXPECT_TRUE(frame->Run().State().previewing) << "the last run was a preview";
    EXPECT_EQ(frame->Job().Tasks()[1]->lastRun, -1);
}

TEST_F(PreviewTest, DatedPreviewLogsAreNamedApart) {
    StartOptions dated = frame->GetStartOptions();
    dated.dateLog = true;
    frame->ApplyStartOptions(dated);
    frame->Run().RunAllCommand(true);
    WaitForRuns(1);
    const std::string name = frame->Run().RunLogPath();
    EXPECT_EQ(name.rfind("log-preview", 0), 0u) << name;
    EXPECT_TRUE(FileExists(dir / name));
    EXPECT_EQ(ReadFileBytes(dir / "log.html"), "the last real run's log");
}

// The files of a tree and their times, without the versions area; directory times change when
// an entry moves in or out.
std::map<std::string, std::string> FilesOf(const std::string& root) {
    std::map<std::string, std::string> files = TreeState(root);
    std::erase_if(files, [](const auto& entry) {
        return entry.second.back() == '/' || entry.first.rfind("/.pemo-versions", 0) == 0;
    });
    return files;
}

// Undo last run from the window: asked with the fake-it lines first, then run for real on the run
// thread; a destination that moved on is refused with the names and nothing changes.
TEST_F(PreviewTest, UndoLastRunAsksWithWhatItWouldDoThenTakesTheRunBack) {
    frame->Job().Tasks()[0]->versionDays = 30;
    const auto before = FilesOf(dir / "dst");
    frame->Run().RunAllCommand();
    WaitForRuns(1);
    const auto after = FilesOf(dir / "dst");
    ASSERT_NE(after, before);

    shell.answer = false;
    const auto untouched = TreeState(dir / "dst");
    EXPECT_FALSE(frame->UndoLastRunCommand(nullptr));
    EXPECT_EQ(TreeState(dir / "dst"), untouched);
    EXPECT_EQ(shell.asked, "Undo the last run: 2 entries removed into a new versions folder, 2 entries put back. "
                           "Go ahead?");
    EXPECT_TRUE(HasLine(shell.shown, "Removed " + (dir / "dst/new.txt")));
    EXPECT_TRUE(HasLine(shell.shown, "Restored " + (dir / "dst/extra.txt")));

    shell.answer = true;
    shell.onAsk = [&] { EXPECT_EQ(TreeState(dir / "dst"), untouched) << "asked before any change"; };
    ASSERT_TRUE(frame->UndoLastRunCommand(frame->Job().Tasks()[0].get()));
    WaitForRuns(2);
    EXPECT_EQ(FilesOf(dir / "dst"), before);
    EXPECT_NE(ReadLog(dir / "log.html").find("Restored " + (dir / "dst/sub/changed.txt")), std::string::npos);
    EXPECT_NE(ReadFileBytes(dir / "summary.log").find("undo Mirror"), std::string::npos);
    EXPECT_EQ(shell.recording.runningControls, 2);
    EXPECT_TRUE(shell.messages.empty()) << ::testing::PrintToString(shell.messages);

    // The browser lists the undo above the run, each with what it did.
    std::vector<KeptRun> runs;
    std::string error;
    ASSERT_TRUE(ListKeptRuns(NativeFileSystem(), *frame->Job().Tasks()[0], "", runs, error)) << error;
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_GT(runs[0].name, runs[1].name);
    EXPECT_EQ(KeptRunText(runs[1]).substr(19), "   1 added, 1 replaced, 1 deleted");
    ASSERT_EQ(runs[1].entries.size(), 3u);
    EXPECT_EQ(KeptEntryText(runs[1].entries[0]), "extra.txt   deleted");
    EXPECT_EQ(KeptEntryText(runs[1].entries[2]), "sub/changed.txt   replaced");
    EXPECT_EQ(runs[0].deleted, 1) << "the undo removed new.txt";

    // Undo the undo, then change what it left: the next undo is refused by name.
    shell.onAsk = nullptr;
    ASSERT_TRUE(frame->UndoLastRunCommand(nullptr));
    WaitForRuns(3);
    EXPECT_EQ(FilesOf(dir / "dst"), after);
    // Restore to a folder takes the version from whichever folder holds it now.
    MakeDirectories(dir / "out");
    ASSERT_TRUE(frame->RestoreCommand(*frame->Job().Tasks()[0], "sub/changed.txt", runs[1].seconds, 1, dir / "out"));
    WaitForRuns(4);
    EXPECT_EQ(ReadFileBytes(dir / "out/changed.txt"), "old");
    EXPECT_NE(ReadLog(dir / "log.html").find("Restore started"), std::string::npos);
    EXPECT_NE(ReadFileBytes(dir / "summary.log").find("restore Mirror"), std::string::npos);
    WriteFileBytes(dir / "dst/new.txt", "edited since");
    const auto edited = TreeState(dir / "dst");
    EXPECT_FALSE(frame->UndoLastRunCommand(nullptr));
    EXPECT_EQ(shell.asked, "");
    EXPECT_TRUE(HasLine(shell.shown, dir / "dst/new.txt changed")) << ::testing::PrintToString(shell.shown);
    EXPECT_EQ(TreeState(dir / "dst"), edited);
}

// Two run folders of one second: the browser's restore takes the version of the one chosen.
TEST_F(PreviewTest, RestoreFromTheBrowserTellsRunFoldersOfOneSecondApart) {
    frame->Job().Tasks()[0]->versionDays = 30;
    WriteFileBytes(dir / "dst/a.txt", "now");
    for (const auto& [folder, text] : {std::pair{"", "first"}, std::pair{"_2", "second"}}) {
        MakeDirectories(dir / "dst/.pemo-versions/2026-01-01_10-00-00" + folder);
        WriteFileBytes(dir / "dst/.pemo-versions/2026-01-01_10-00-00" + folder + "/a.txt", text);
    }
    std::vector<KeptRun> runs;
    std::string error;
    ASSERT_TRUE(ListKeptRuns(NativeFileSystem(), *frame->Job().Tasks()[0], "", runs, error)) << error;
    ASSERT_EQ(runs.size(), 2u);
    MakeDirectories(dir / "out");
    ASSERT_TRUE(
        frame->RestoreCommand(*frame->Job().Tasks()[0], "a.txt", runs[0].seconds, runs[0].sequence, dir / "out"));
    WaitForRuns(1);
    EXPECT_EQ(ReadFileBytes(dir / "out/a.txt"), "second");
}

} // namespace
