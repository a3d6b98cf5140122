// The job lock on real files: one run per job across every name of the job, the lock file
// beside the job's real path, and the fall-backs where no lock file can be had.
#include "run/job_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>

#include "support/fake_file_system.h"
#include "support/temp_dir.h"

#ifndef _WIN32
TEST(JobLock, OneRunPerJobWhateverNameItIsReachedBy) {
    TempDir tmp;
    const std::string job = tmp / "nightly.job";
    WriteFileBytes(job, "");
    ASSERT_EQ(::symlink(job.c_str(), (tmp / "alias.job").c_str()), 0);
    std::string real;
    ASSERT_FALSE(NativeFileSystem().CanonicalPath(job, real).Failed());
    EXPECT_EQ(JobLockPath(tmp / "alias.job", NativeFileSystem()), real + ".lock");
    const std::string realDirectory = real.substr(0, real.size() - std::string("nightly.job").size());
    EXPECT_EQ(JobLockPath(tmp / "unsaved.job", NativeFileSystem()), realDirectory + "unsaved.job.lock");

    CJobLock first(NativeFileSystem());
    CJobLock second(NativeFileSystem());
    ASSERT_TRUE(first.TryLock(job));
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(second.TryLock(tmp / "alias.job"));
    EXPECT_FALSE(second.Held());
    first.Unlock();
    EXPECT_TRUE(second.TryLock(tmp / "alias.job"));
    EXPECT_FALSE(first.TryLock(job));
    EXPECT_EQ(ReadFileBytes(job), "") << "the job itself is never written";
}
#endif

TEST(JobLock, WithoutALockFileTheJobItselfIsLockedOrTheRunGoesAheadUnlocked) {
    TempDir tmp;
    const std::string job = tmp / "nightly.job";
    WriteFileBytes(job, "<NAME>a");
    FakeFileSystem fake;
    fake.FailPath(FsCall::OpenFile, ".lock", EACCES);
    CJobLock first(fake);
    CJobLock second(fake);
    ASSERT_TRUE(first.TryLock(job));
    EXPECT_TRUE(first.Held());
    EXPECT_FALSE(second.TryLock(job)) << "the job's own file carries the lock";
    first.Unlock();
    EXPECT_FALSE(FileExists(job + ".lock"));

    // Neither a lock file nor the job: nothing to lock, and nothing to protect either.
    EXPECT_TRUE(first.TryLock(tmp / "unsaved.job"));
    EXPECT_FALSE(first.Held());

    // A file system without locks lets the run go ahead; a lock held elsewhere does not.
    fake.Reset();
    fake.FailNth(FsCall::LockFile, 1, ENOLCK);
    EXPECT_TRUE(first.TryLock(job));
    EXPECT_FALSE(first.Held());
    fake.FailNth(FsCall::LockFile, 1, EWOULDBLOCK);
    EXPECT_FALSE(first.TryLock(job));
    EXPECT_FALSE(first.Held());
    EXPECT_TRUE(first.TryLock(job));
    EXPECT_TRUE(first.Held());
}
