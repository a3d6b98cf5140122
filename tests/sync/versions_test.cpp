// Kept versions on real trees: what a run deletes, overwrites or replaces by another kind moves
// into the run's folder with a manifest; the folder is the keeper's alone; retention; the copy
// where no rename reaches; no loss at any failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>

#include "model/version_manifest.h"
#include "support/engine_tree.h"
#include "support/fault_loop.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"
#include "sync/do_file.h"

namespace {

class VersionsTest : public MirrorTest {
protected:
    void SetUp() override {
        MirrorTest::SetUp();
        task.versionDays = 30;
        Put(src + "/changed.txt", "new", 1700000000);
        MakeDirectories(src + "/kind");
        Put(dst + "/changed.txt", "old");
        Put(dst + "/gone.txt", "gone");
        Put(dst + "/olddir/f", "f");
        Put(dst + "/kind", "was a file");
    }
    std::string Versions() const { return dst + "/.pemo-versions"; }
    // The one run folder; empty when there is none.
    std::string RunFolder() const {
        const auto names = FileExists(Versions()) ? ListDirectory(Versions()) : std::vector<std::string>{};
        return names.size() == 1 ? Versions() + "/" + names[0] : std::string();
    }
    // What the mirror must never lose: each old content, in the destination or kept.
    void ExpectNothingLost(const std::string& log) {
        const std::string run = RunFolder();
        for (const auto& [name, content] : std::map<std::string, std::string>{
                 {"changed.txt", "old"}, {"gone.txt", "gone"}, {"olddir/f", "f"}, {"kind", "was a file"}}) {
            const bool inPlace = FileExists(dst + "/" + name) && !IsDirectoryPath(dst + "/" + name) &&
                                 ReadFileBytes(dst + "/" + name) == content;
            const bool kept =
                !run.empty() && FileExists(run + "/" + name) && ReadFileBytes(run + "/" + name) == content;
            EXPECT_TRUE(inPlace || kept) << name << "\n" << log;
        }
    }
};

std::string LocalName(std::time_t t) {
    std::tm local{};
    LocalCalendarTime(t, local);
    return RunFolderName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                         local.tm_sec);
}

} // namespace

TEST_F(VersionsTest, KeepsDeletedReplacedAndRetypedEntriesWithTheirManifest) {
    const bool links = SystemMakesLinks();
    if (links) {
        MakeLink("gone.txt", dst + "/olddir/link");
    }
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.deleted, links ? 4 : 3) << "gone.txt, olddir/f (and its link) and the file kind";
    EXPECT_EQ(ReadFileBytes(dst + "/changed.txt"), "new");
    EXPECT_TRUE(IsDirectoryPath(dst + "/kind"));
    const std::string run = RunFolder();
    ASSERT_FALSE(run.empty()) << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(run + "/changed.txt"), "old");
    EXPECT_EQ(ReadFileBytes(run + "/gone.txt"), "gone");
    EXPECT_EQ(ReadFileBytes(run + "/olddir/f"), "f");
    EXPECT_EQ(ReadFileBytes(run + "/kind"), "was a file");
    EXPECT_EQ(IsLink(run + "/olddir/link"), links) << "a link is kept as itself";
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Kept previous version of " + NativePath(dst + "/changed.txt")));
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Kept previous version of " + NativePath(dst + "/olddir")));
    VersionManifest m;
    std::string error;
    ASSERT_TRUE(ParseManifest(ReadFileBytes(run + "/.pemo-manifest"), m, error)) << error;
    EXPECT_EQ(m.destination, dst);
    EXPECT_EQ(m.started, run.substr(run.rfind('/') + 1));
    std::map<std::string, std::string> actions;
    for (const ManifestAction& a : m.actions) {
        actions[a.path] = std::string{static_cast<char>(a.action), a.entry};
    }
    using Map = std::map<std::string, std::string>;
    EXPECT_EQ(actions, (Map{{"changed.txt", "Rf"}, {"gone.txt", "Df"}, {"olddir", "Dd"}, {"kind", "Rd"}}));
    for (const ManifestAction& a : m.actions) {
        EXPECT_TRUE(a.entry == 'd' ||
                    a.mtimeNanoseconds.value_or(0) / 1000000000 == (a.path == "changed.txt" ? 1700000000 : 1600000000))
            << a.path << ": the entry the run left, or the one it kept";
    }

    // A second run with nothing to change makes no folder; the versions are not an extra.
    stats = RunStats();
    Run();
    EXPECT_EQ(ListDirectory(Versions()).size(), 1u);
    EXPECT_EQ(stats.deleted + stats.newFiles + stats.changed + stats.errors, 0) << Dump(rig.log);
}

TEST_F(VersionsTest, ASingleFileTaskKeepsTheFileItReplaces) {
    Put(src + "/one.txt", "new one", 1700000000);
    Put(dst + "/one.txt", "old one");
    DoFile(rig.ctx, NativePath(src + "/one.txt"), NativePath(dst), task, stats);
    EXPECT_EQ(ReadFileBytes(dst + "/one.txt"), "new one") << Dump(rig.log);
    EXPECT_EQ(ReadFileBytes(RunFolder() + "/one.txt"), "old one");
    VersionManifest m;
    std::string error;
    ASSERT_TRUE(ParseManifest(ReadFileBytes(RunFolder() + "/.pemo-manifest"), m, error)) << error;
    ASSERT_EQ(m.actions.size(), 1u);
    EXPECT_EQ(m.actions[0], (ManifestAction{ManifestAction::Kind::Replaced, 'f', 7, 1700000000000000000, "one.txt"}));
}

TEST_F(VersionsTest, FakeItAnnouncesAndChangesNothing) {
    task.fakeIt = true;
    const std::string before = TreeSnapshot(tmp.Path());
    Run();
    EXPECT_EQ(TreeSnapshot(tmp.Path()), before);
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Kept previous version of " + NativePath(dst + "/gone.txt")));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Kept previous version of " + NativePath(dst + "/changed.txt")));
}

TEST_F(VersionsTest, TheVersionsFolderIsLeftAloneAndItsNamesAreNotCopied) {
    const std::string old = Versions() + "/2000-01-01_00-00-00";
    Put(old + "/x", "kept long ago");
    Put(src + "/.pemo-versions/y", "y");
    Put(src + "/.pemo-manifest", "m");
    task.versionDays = 0;
    const std::string kept = TreeSnapshot(Versions());
    Run();
    EXPECT_EQ(TreeSnapshot(Versions()), kept) << Dump(rig.log);
    EXPECT_TRUE(FileExists(dst + "/.pemo-manifest"));
    EXPECT_EQ(rig.log.Texts(LogColour::Red).size(), 1u) << Dump(rig.log);
    // On: retention at the start forgets the old folder; the manifest's name is reserved too.
    task.versionDays = 30;
    rig.log.Clear();
    Run();
    EXPECT_FALSE(FileExists(old));
    EXPECT_TRUE(rig.log.Has(LogColour::Purple, "Removed old versions " + NativePath(old)));
    EXPECT_FALSE(FileExists(dst + "/.pemo-manifest"));
    EXPECT_FALSE(FileExists(Versions() + "/y"));
    EXPECT_EQ(rig.log.Texts(LogColour::Red).size(), 2u) << Dump(rig.log);
}

TEST_F(VersionsTest, RetentionByCountKeepsTheNewestAndLeavesOtherFoldersAlone) {
    task.versionCount = 2;
    const std::time_t now = std::time(nullptr);
    for (int i = 1; i <= 3; ++i) {
        Put(Versions() + "/" + LocalName(now - 60 * i) + "/f", std::to_string(i));
    }
    Put(Versions() + "/notes/f", "mine");
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_TRUE(FileExists(Versions() + "/" + LocalName(now - 60) + "/f"));
    EXPECT_TRUE(FileExists(Versions() + "/" + LocalName(now - 120) + "/f"));
    EXPECT_FALSE(FileExists(Versions() + "/" + LocalName(now - 180) + "/f"));
    EXPECT_EQ(ReadFileBytes(Versions() + "/notes/f"), "mine");
}

TEST_F(VersionsTest, WhereNoRenameReachesTheEntryIsCopiedFirst) {
    rig.ctx.threads = 2; // the replacing copy is made on a worker, put in place by the walk
    rig.fs.FailPath(FsCall::Move, "gone.txt", EXDEV);
    rig.fs.FailPath(FsCall::Move, "olddir", EXDEV);
    rig.fs.FailPath(FsCall::CopyFileContent, "olddir", EIO); // its file f
    Run();
    const std::string run = RunFolder();
    EXPECT_EQ(ReadFileBytes(run + "/gone.txt"), "gone");
    EXPECT_EQ(ReadFileBytes(run + "/changed.txt"), "old");
    EXPECT_EQ(ReadFileBytes(dst + "/changed.txt"), "new");
    EXPECT_FALSE(FileExists(dst + "/gone.txt"));
    EXPECT_EQ(ReadFileBytes(dst + "/olddir/f"), "f") << "a copy that failed keeps the entry in place";
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    const auto red = rig.log.Texts(LogColour::Red);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_EQ(red[0].rfind("Failed to keep the previous version of " + NativePath(dst + "/olddir") + " with", 0), 0u);
}

TEST_F(VersionsTest, NothingIsLostWhereverTheRunFails) {
    auto failingRun = [&](const std::function<void()>& arm) {
        RemoveTreeAt(dst);
        SetUp();
        stats = RunStats();
        rig.log.Clear();
        arm();
        Run();
        EXPECT_TRUE(FindTemporaries(dst).empty()) << Dump(rig.log);
        ExpectNothingLost(Dump(rig.log));
    };
    for (FsCall kind : {FsCall::Move, FsCall::MakeDirectory, FsCall::OpenDirectory, FsCall::Status, FsCall::OpenFile,
                        FsCall::WriteFile, FsCall::SyncFile, FsCall::RenamePath, FsCall::CopyFileContent}) {
        EXPECT_GT(FailEachCallInTurn(rig.fs, {kind}, EIO, failingRun, [](const InjectedFailure&) {}), 0)
            << static_cast<int>(kind);
    }
}

TEST_F(VersionsTest, ANewCopyThatCannotTakeThePlaceLeavesTheKeptOneAndSaysSo) {
    rig.fs.FailPath(FsCall::Move, kTemporaryCopyPrefix.data(), EIO);
    Run();
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    EXPECT_FALSE(FileExists(dst + "/changed.txt"));
    EXPECT_EQ(ReadFileBytes(RunFolder() + "/changed.txt"), "old");
    EXPECT_TRUE(FindTemporaries(dst).empty());
    const auto red = rig.log.Texts(LogColour::Red);
    ASSERT_EQ(red.size(), 1u);
    EXPECT_NE(red[0].find("its previous version is kept in " + NativePath(RunFolder())), std::string::npos) << red[0];
    VersionManifest m;
    std::string error;
    ASSERT_TRUE(ParseManifest(ReadFileBytes(RunFolder() + "/.pemo-manifest"), m, error)) << error;
    EXPECT_EQ(std::count_if(m.actions.begin(), m.actions.end(),
                            [](const ManifestAction& a) {
                                return a.path == "changed.txt" && a.action == ManifestAction::Kind::Deleted;
                            }),
              1);
}
