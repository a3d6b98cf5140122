// The job object: what a load found, and which outcomes keep the tasks read from being saved
// over the file.
#include "model/job.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "model/stdio_file_ex.h"
#include "support/fake_file_system.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"

TEST(Job, ALoadSaysWhatItFoundAndOnlyAWholeReadIsSavedInPlace) {
    TempDir dir;
    Task task;
    task.name = "one";
    const std::string file = dir / "a.job";
    const std::string content = JobLine(task) + JobLine(task);
    struct Case {
        const char* name;
        std::string path;
        FsCall failing;
        int nth;
        JobLoad expected;
        std::size_t tasks;
    };
    for (const Case& c : {Case{"whole", file, FsCall::ReadFile, 0, JobLoad::Read, 2},
                          Case{"missing", dir / "none/a.job", FsCall::ReadFile, 0, JobLoad::Missing, 0},
                          Case{"broken off", file, FsCall::ReadFile, 3, JobLoad::Partial, 2},
                          Case{"unopened", file, FsCall::OpenFile, 1, JobLoad::Failed, 0}}) {
        WriteFileBytes(file, content);
        FakeFileSystem fs;
        fs.FailNth(c.failing, c.nth, EIO);
        RecordingMessagePort messages;
        CJob job(fs);
        job.SetPath(file);
        EXPECT_EQ(job.Load(c.path, messages), c.expected) << c.name;
        EXPECT_EQ(job.Tasks().size(), c.tasks) << c.name;
        const bool whole = c.expected == JobLoad::Read || c.expected == JobLoad::Missing;
        EXPECT_EQ(job.ReadInPart(), !whole) << c.name;
        EXPECT_EQ(job.SaveInPlace(messages), whole) << c.name;
        if (!whole) {
            EXPECT_EQ(ReadFileBytes(file), content) << c.name;
        }

        // Opening a file that cannot be read whole leaves the job as it is.
        WriteFileBytes(file, content);
        fs.FailNth(c.failing, c.nth, EIO);
        const std::size_t before = job.Tasks().size();
        EXPECT_EQ(job.Open(c.path, messages), c.expected) << c.name;
        EXPECT_EQ(job.Tasks().size(), whole ? c.tasks : before) << c.name;
    }
}

TEST(Job, ASaveKeepsTheFileAsTheUserWroteIt) {
    TempDir dir;
    const std::string file = dir / "a.job";
    const auto lineOf = [](const std::string& name) {
        Task task;
        task.name = name;
        return JobLine(task);
    };
    const std::string before = "# mine\n\n" + lineOf("caf\xC3\xA9") + "; between\n" + lineOf("b") + "# end\n";
    const std::string after = "# mine\n\n; between\n" + lineOf("x") + "# end\n";
    // The same text as UTF-8 with and without the mark, and UTF-16, each with both line ends.
    for (int form = 0; form < 6; ++form) {
        const auto bytes = [form](std::string text) {
            if (form % 2 == 1) {
                for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) {
                    text.insert(at, "\r");
                }
            }
            return form / 2 == 0 ? text : form / 2 == 1 ? "\xEF\xBB\xBF" + text : "\xFF\xFE" + Utf8ToUtf16Le(text);
        };
        WriteFileBytes(file, bytes(before));
        IFileSystem& fs = NativeFileSystem();
        RecordingMessagePort messages;
        CJob job(fs);
        ASSERT_EQ(job.Load(file, messages), JobLoad::Read);
        ASSERT_TRUE(job.SaveInPlace(messages));
        EXPECT_EQ(ReadFileBytes(file), bytes(before)) << form;
        // A changed and a deleted task leave the other lines where they were.
        job.Tasks()[1]->name = "x";
        job.Tasks().erase(job.Tasks().begin());
        ASSERT_TRUE(job.SaveInPlace(messages));
        EXPECT_EQ(ReadFileBytes(file), bytes(after)) << form;
    }
}
