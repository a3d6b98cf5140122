// A window start works in its job's folder: where it moves, what it hands on as the job path, and
// the starts that leave the current directory alone.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/window_folder.h"
#include "support/engine_tree.h"
#include "support/temp_dir.h"

namespace {

std::string Here() {
    return std::filesystem::current_path().string();
}

std::string Canonical(const std::string& path) {
    return std::filesystem::canonical(path).string();
}

} // namespace

TEST(WindowFolder, AJobInAnotherFolderTakesTheRunFilesThere) {
    TempDir dir;
    MakeDirectories(dir / "home");
    MakeDirectories(dir / "jobs/nightly");
    WriteFileBytes(dir / "jobs/nightly/photos.job", "");
    const std::string jobs = Canonical(dir / "jobs/nightly");
    ScopedCurrentDirectory cwd{dir / "home"};

    // Relative to where the desktop started us, as a file manager may hand it over.
    EXPECT_EQ(EnterJobFolder("../jobs/nightly/photos.job", NativeFileSystem()), NativePath(jobs + "/photos.job"));
    EXPECT_EQ(Here(), jobs);
    // A file written without a folder, as the run log and summary.log are, lands beside the job.
    WriteFileBytes("summary.log", "x");
    EXPECT_TRUE(FileExists(dir / "jobs/nightly/summary.log"));
    EXPECT_FALSE(FileExists(dir / "home/summary.log"));

    // Absolute, as the desktop entry's %f gives it; a job that does not exist yet still moves us,
    // since the first save creates it there.
    EXPECT_EQ(EnterJobFolder(dir / "home/new.job", NativeFileSystem()),
              NativePath(Canonical(dir / "home") + "/new.job"));
    EXPECT_EQ(Here(), Canonical(dir / "home"));
}

TEST(WindowFolder, StartsWithoutAFolderToEnterStayWhereTheyAre) {
    TempDir dir;
    MakeDirectories(dir / "home");
    ScopedCurrentDirectory cwd{dir / "home"};
    const std::string home = Canonical(dir / "home");

    // No job named: default.job of the current directory, which is its own folder already.
    EXPECT_EQ(EnterJobFolder("default.job", NativeFileSystem()), "default.job");
    EXPECT_EQ(Here(), home);
    // A folder that does not exist: loading the job will say so; nothing moves meanwhile.
    EXPECT_EQ(EnterJobFolder("missing/a.job", NativeFileSystem()), "missing/a.job");
    EXPECT_EQ(Here(), home);
    // A folder in place of a file name is left to the loader to refuse.
    EXPECT_EQ(EnterJobFolder(dir / "home/", NativeFileSystem()), dir / "home/");
    EXPECT_EQ(Here(), home);
    // A file where the folder should be.
    WriteFileBytes(dir / "plain", "");
    EXPECT_EQ(EnterJobFolder(dir / "plain/a.job", NativeFileSystem()), dir / "plain/a.job");
    EXPECT_EQ(Here(), home);
    // The root folder itself (of the current drive, where there are drives).
    const std::string root = Utf8Of(std::filesystem::current_path().root_path());
    EXPECT_EQ(EnterJobFolder("/a.job", NativeFileSystem()), root + "a.job");
    EXPECT_EQ(Here(), root);
}

#ifndef _WIN32
TEST(WindowFolder, AFolderThatCannotBeEnteredKeepsTheJobPathAsGiven) {
    TempDir dir;
    OpenToEveryone(dir.Path());
    MakeDirectories(dir / "home");
    MakeDirectories(dir / "locked");
    OpenToEveryone(dir / "home");
    ASSERT_EQ(::chmod((dir / "locked").c_str(), 0700), 0);
    ScopedCurrentDirectory cwd{dir / "home"};
    const std::string home = Canonical(dir / "home");
    // Its name resolves, but an unprivileged user may not enter it.
    const int status = RunAsNobody([&] {
        if (EnterJobFolder("../locked/a.job", NativeFileSystem()) != "../locked/a.job") {
            return 1;
        }
        return Here() == home ? 0 : 2;
    });
    EXPECT_EQ(status, 0);
}
#endif
