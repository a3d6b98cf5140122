// The fault loop over the saves of jobs and settings: whichever call fails, the old file stays
// byte for byte, no temporary is left beside it, and the failure is reported; a save that
// reports success has written the whole new file.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "model/job_file.h"
#include "model/replace_file.h"
#include "model/settings.h"
#include "platform/user_store.h"
#include "support/fake_file_system.h"
#include "support/fault_loop.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"
#include "support/test_user_store.h"

namespace {

TaskList Tasks(const std::string& name, int count) {
    TaskList tasks;
    for (int i = 0; i < count; ++i) {
        auto task = std::make_unique<Task>();
        task->name = name + std::to_string(i);
        task->source = "/home/u/" + name + "\xC3\xBC" + std::to_string(i);
        task->destination = "/mnt/backup/" + name;
        tasks.push_back(std::move(task));
    }
    return tasks;
}

// The kinds whose first failure must fail a save outright: each is a step the new file cannot
// be trusted without.
const std::set<FsCall> kEssentialSaveSteps = {FsCall::OpenFile, FsCall::WriteFile, FsCall::SyncFile, FsCall::CloseFile,
                                              FsCall::RenameFile};

} // namespace

TEST(PersistenceFaults, AJobSaveNeverCostsTheOldJob) {
    TempDir tmp;
    const std::string path = tmp / "nightly.job";
    RecordingMessagePort quiet;
    std::string ignored;
    // The expected bytes of both versions, written once without faults.
    ASSERT_TRUE(SaveJob(tmp / "new.job", Tasks("new", 40), ignored, quiet, NativeFileSystem()));
    const std::string newBytes = ReadFileBytes(tmp / "new.job");
    RemoveFileIfPresent(tmp / "new.job", NativeFileSystem());
    ASSERT_TRUE(SaveJob(path, Tasks("old", 3), ignored, quiet, NativeFileSystem()));
    const std::string oldBytes = ReadFileBytes(path);

    FakeFileSystem fake;
    const TaskList tasks = Tasks("new", 40);
    std::set<FsCall> refused;
    bool result = false;
    RecordingMessagePort* messages = nullptr;
    std::string jobPath;
    const int hits = FailEachCallInTurn(
        fake, FakeFileSystem::FileCallKinds(), ENOSPC,
        [&](const std::function<void()>& arm) {
            WriteFileBytes(path, oldBytes);
            jobPath = "previous.job";
            delete messages;
            messages = new RecordingMessagePort;
            arm();
            result = SaveJob(path, tasks, jobPath, *messages, fake);
        },
        [&](const InjectedFailure& failure) {
            EXPECT_EQ(ListDirectory(tmp.Path()), std::vector<std::string>{"nightly.job"}) << "a temporary is left";
            if (failure.kind == FsCall::LockFile) {
                EXPECT_TRUE(result) << "a file system without locks still saves";
            }
            if (result) {
                EXPECT_EQ(ReadFileBytes(path), newBytes);
                EXPECT_TRUE(messages->Messages().empty());
                EXPECT_EQ(jobPath, path);
                return;
            }
            EXPECT_TRUE(failure.hit) << "a save failed without any failure";
            refused.insert(failure.kind);
            EXPECT_EQ(ReadFileBytes(path), oldBytes);
            EXPECT_EQ(jobPath, "previous.job");
            EXPECT_EQ(messages->Messages(),
                      std::vector<std::string>{"Error saving " + path + "\n\nDisk full while accessing " + path + "."});
        });
    delete messages;
    EXPECT_GT(hits, 20);
    for (FsCall kind : kEssentialSaveSteps) {
        EXPECT_EQ(refused.count(kind), 1u) << "a failed step of kind " << static_cast<int>(kind) << " went unnoticed";
    }
}

TEST(PersistenceFaults, ASettingsSaveNeverCostsTheOldSettings) {
    TempDir tmp;
    Settings settings;
    settings.windowWidth = 1234;
    settings.debug = true;
    RecordingMessagePort quiet;
    // pemo.ini: a failure is shown.
    settings.useIniFile = true;
    const std::string ini = tmp / "pemo.ini";
    WriteFileBytes(ini, "width=7\r\n");
    ASSERT_TRUE(SaveSettings(settings, tmp.Path(), "", quiet, NativeFileSystem()));
    const std::string newIni = ReadFileBytes(ini);
    const std::string oldIni = "\xFF\xFE" + Utf8ToUtf16Le("width=7\r\n");

    FakeFileSystem fake;
    std::set<FsCall> refused;
    bool result = false;
    RecordingMessagePort messages;
    std::size_t shown = 0;
    FailEachCallInTurn(
        fake, FakeFileSystem::FileCallKinds(), ENOSPC,
        [&](const std::function<void()>& arm) {
            WriteFileBytes(ini, oldIni);
            shown = messages.Messages().size();
            arm();
            result = SaveSettings(settings, tmp.Path(), "", messages, fake);
        },
        [&](const InjectedFailure& failure) {
            EXPECT_EQ(ListDirectory(tmp.Path()), std::vector<std::string>{"pemo.ini"});
            const std::vector<std::string> all = messages.Messages();
            const std::vector<std::string> now(all.begin() + static_cast<long>(shown), all.end());
            if (result) {
                EXPECT_EQ(ReadFileBytes(ini), newIni);
                EXPECT_TRUE(now.empty());
                return;
            }
            refused.insert(failure.kind);
            EXPECT_EQ(ReadFileBytes(ini), oldIni);
            EXPECT_EQ(now, std::vector<std::string>{"Error saving pemo.ini\n\nDisk full while accessing " + ini + "."});
        });
    for (FsCall kind : kEssentialSaveSteps) {
        EXPECT_EQ(refused.count(kind), 1u) << static_cast<int>(kind);
    }

    // The per-user store: a failure is silent, but the save still says it did not happen.
    settings.useIniFile = false;
    const TestUserStore user(tmp / "config/Vexal/pemo.conf");
    const std::string store = user.Path();
    MakeDirectories(tmp / "config/Vexal");
    ASSERT_TRUE(SaveSettings(settings, "", store, quiet, NativeFileSystem()));
    if (SystemUserStoreAvailable()) {
        // The system's store is no file: a file system failing at any call cannot cost it a save.
        FailEachCallInTurn(
            fake, FakeFileSystem::FileCallKinds(), EIO,
            [&](const std::function<void()>& arm) {
                ASSERT_TRUE(CUserStoreKey(store, true).Write("width", "7"));
                arm();
                result = SaveSettings(settings, "", store, messages, fake);
            },
            [&](const InjectedFailure&) { EXPECT_TRUE(result && user.Value("width") == "1234"); });
        return;
    }
    const std::string newStore = ReadFileBytes(store);
    refused.clear();
    FailEachCallInTurn(
        fake, FakeFileSystem::FileCallKinds(), EIO,
        [&](const std::function<void()>& arm) {
            WriteFileBytes(store, "width=7\n");
            shown = messages.Messages().size();
            arm();
            result = SaveSettings(settings, "", store, messages, fake);
        },
        [&](const InjectedFailure& failure) {
            EXPECT_EQ(ListDirectory(tmp / "config/Vexal"), std::vector<std::string>{"pemo.conf"});
            EXPECT_EQ(messages.Messages().size(), shown);
            if (result) {
                EXPECT_EQ(ReadFileBytes(store), newStore);
            } else {
                refused.insert(failure.kind);
                EXPECT_EQ(ReadFileBytes(store), "width=7\n");
            }
        });
    for (FsCall kind : kEssentialSaveSteps) {
        EXPECT_EQ(refused.count(kind), 1u) << static_cast<int>(kind);
    }
}
