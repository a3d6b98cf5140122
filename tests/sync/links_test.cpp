// Symbolic links in mirrored trees: copied as links, compared by target, never followed.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/engine_tree.h"
#include "support/temp_dir.h"
#include "sync/do_directory.h"

namespace {

class LinksTest : public MirrorTest {
protected:
    static std::string TargetOf(const std::string& path) { return std::filesystem::read_symlink(path).string(); }

    // Nothing of the run's names may mention a path below a source link.
    bool LogReachesBelow(const std::string& link) const {
        for (const auto& [colour, line] : rig.log.Lines()) {
            if (line.find(link + "/") != std::string::npos) {
                return true;
            }
        }
        return false;
    }
};

} // namespace

TEST_F(LinksTest, SourceLinksOfEveryKindBecomeLinksAndAreSameOnTheNextRun) {
    SKIP_WITHOUT_LINKS();
    const std::string outside = tmp / "outside";
    MakeDirectories(outside + "/deep");
    Put(outside + "/secret", "outside content");
    Put(outside + "/deep/more", "more");
    const std::string outsideBefore = TreeSnapshot(outside);

    Put(src + "/data.txt", "0123456789");
    Put(src + "/sub/inner", "in");
    MakeLink("data.txt", src + "/to-file");
    MakeLink("sub", src + "/to-dir");
    MakeLink("nowhere/at/all", src + "/dangling");
    MakeLink(outside, src + "/to-outside");
    MakeLink(outside + "/secret", src + "/to-outside-file");
    MakeLink(".", src + "/loop");
    for (const char* name : {"to-file", "to-dir", "dangling", "to-outside", "to-outside-file", "loop"}) {
        SetModified(src + "/" + name, 1500000000);
    }

    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 8) << "two files and six links";
    const std::uint64_t linkBytes =
        std::string("data.txt").size() + 3 + 14 + outside.size() + (outside + "/secret").size() + 1;
    EXPECT_EQ(stats.bytesNew.ToString(), std::to_string(10 + 2 + linkBytes));
    EXPECT_EQ(stats.sourceCount, 8);
    EXPECT_EQ(stats.sourceSize.ToString(), std::to_string(10 + 2 + linkBytes));
    for (const char* name : {"to-file", "to-dir", "dangling", "to-outside", "to-outside-file", "loop"}) {
        const std::string link = dst + "/" + name;
        ASSERT_TRUE(IsLink(link)) << name << Dump(rig.log);
        EXPECT_EQ(TargetOf(link), TargetOf(src + "/" + name)) << name;
        EXPECT_EQ(ModifiedOf(link), 1500000000) << name << ": the link keeps its own time";
        EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/") + name)) << name;
        EXPECT_FALSE(LogReachesBelow(src + "/" + name)) << name << Dump(rig.log);
    }
    EXPECT_EQ(ReadFileBytes(dst + "/data.txt"), "0123456789");
    EXPECT_TRUE(IsDirectoryPath(dst + "/sub"));
    EXPECT_TRUE(rig.log.Texts(LogColour::Red).empty()) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(outside), outsideBefore);
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
    // Besides the destination, only its existing ancestors are attempted by its creation.
    for (const std::string& path : rig.fs.ChangedPaths()) {
        const bool inside = path == dst || path.rfind(dst + "/", 0) == 0;
        EXPECT_TRUE(inside || dst.rfind(path + "/", 0) == 0) << path;
    }

    const std::string mirrored = TreeSnapshot(dst);
    stats = RunStats();
    rig.log.Clear();
    Run();
    EXPECT_EQ(stats.same, 8) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles + stats.changed + stats.deleted + stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(dst), mirrored);
    EXPECT_EQ(TreeSnapshot(outside), outsideBefore);
}

TEST_F(LinksTest, EveryPairingOfLinkFileAndDirectoryIsReplacedInsideTheDestinationOnly) {
    SKIP_WITHOUT_LINKS();
    const std::string outside = tmp / "outside";
    MakeDirectories(outside + "/inner");
    Put(outside + "/victim", "must survive");
    Put(outside + "/inner/victim", "must survive");
    const std::string outsideBefore = TreeSnapshot(outside);

    MakeLink("target-a", src + "/over-file");
    MakeLink("target-b", src + "/over-dir");
    MakeLink("target-c", src + "/over-same-link");
    MakeLink("target-new", src + "/over-other-link");
    MakeLink("target-e", src + "/over-nothing");
    Put(src + "/file-over-link", "mine");
    Put(src + "/dir-over-link/new", "n");
    Put(src + "/file-over-dangling", "also mine");

    Put(dst + "/over-file", "a regular file");
    Put(dst + "/over-dir/content", "c");
    MakeLink("target-c", dst + "/over-same-link");
    MakeLink("target-old", dst + "/over-other-link");
    MakeLink(outside + "/victim", dst + "/file-over-link");
    MakeLink(outside + "/inner", dst + "/dir-over-link");
    MakeLink("missing", dst + "/file-over-dangling");
    MakeLink(outside, dst + "/extra-link");

    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(TreeSnapshot(outside), outsideBefore) << Dump(rig.log);
    EXPECT_EQ(stats.same, 1);
    EXPECT_EQ(stats.changed, 4) << "over-file, over-other-link, file-over-link, file-over-dangling";
    EXPECT_EQ(stats.newFiles, 3) << "over-dir, over-nothing, dir-over-link/new";
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + NativePath(dst + "/over-other-link")));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/over-dir")));

    const std::pair<const char*, const char*> links[] = {{"over-file", "target-a"},
                                                         {"over-dir", "target-b"},
                                                         {"over-same-link", "target-c"},
                                                         {"over-other-link", "target-new"},
                                                         {"over-nothing", "target-e"}};
    for (const auto& [name, target] : links) {
        ASSERT_TRUE(IsLink(dst + "/" + name)) << name;
        EXPECT_EQ(TargetOf(dst + "/" + name), target) << name;
    }
    EXPECT_FALSE(IsLink(dst + "/file-over-link"));
    EXPECT_EQ(ReadFileBytes(dst + "/file-over-link"), "mine");
    EXPECT_FALSE(IsLink(dst + "/file-over-dangling"));
    EXPECT_EQ(ReadFileBytes(dst + "/file-over-dangling"), "also mine");
    EXPECT_TRUE(IsDirectoryPath(dst + "/dir-over-link"));
    EXPECT_EQ(ReadFileBytes(dst + "/dir-over-link/new"), "n");
    EXPECT_FALSE(FileExists(dst + "/extra-link") || IsLink(dst + "/extra-link"));
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST_F(LinksTest, SafeModeKeepsADirectoryInTheWayAndTheLinkFailsCleanly) {
    SKIP_WITHOUT_LINKS();
    MakeLink("elsewhere", src + "/name");
    Put(dst + "/name/kept", "kept");
    task.safeMode = true;
    Run();
    EXPECT_EQ(stats.errors, 1) << Dump(rig.log);
    EXPECT_TRUE(rig.log.CountStartingWith("Failed to copy file " + NativePath(src + "/name") + " to " +
                                          NativePath(dst + "/name") + " with error ") == 1)
        << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 0);
    EXPECT_EQ(ReadFileBytes(dst + "/name/kept"), "kept");
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST_F(LinksTest, AFailedReplacementLeavesTheOldLinkAndNoDebris) {
    SKIP_WITHOUT_LINKS();
    MakeLink("new-target", src + "/l");
    MakeDirectories(dst);
    MakeLink("old-target", dst + "/l");
    for (FsCall kind : {FsCall::MakeLink, FsCall::RenamePath}) {
        rig.fs.Reset();
        rig.log.Clear();
        stats = RunStats();
        rig.fs.FailNth(kind, 1, EIO);
        Run();
        EXPECT_EQ(stats.errors, 1) << static_cast<int>(kind) << Dump(rig.log);
        EXPECT_EQ(stats.changed, 0);
        EXPECT_TRUE(rig.log.CountStartingWith("Failed to copy file " + NativePath(src + "/l") + " to " +
                                              NativePath(dst + "/l") + " with error 5") == 1)
            << Dump(rig.log);
        EXPECT_EQ(TargetOf(dst + "/l"), "old-target");
        EXPECT_TRUE(FindTemporaries(tmp.Path()).empty()) << static_cast<int>(kind);
    }
    // A link time the file system refuses still leaves a correct link.
    rig.fs.Reset();
    stats = RunStats();
    rig.fs.FailNth(FsCall::SetLinkTime, 1, EPERM);
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.changed, 1);
    EXPECT_EQ(TargetOf(dst + "/l"), "new-target");
}

TEST_F(LinksTest, FakeItAnnouncesAndCountsLinksButChangesNothing) {
    SKIP_WITHOUT_LINKS();
    MakeLink("a", src + "/new-link");
    MakeLink("b", src + "/changed-link");
    MakeLink("c", src + "/same-link");
    Put(src + "/file-over-link", "f");
    MakeDirectories(dst);
    MakeLink("old", dst + "/changed-link");
    MakeLink("c", dst + "/same-link");
    MakeLink("x", dst + "/file-over-link");
    const std::string before = TreeSnapshot(dst);
    task.fakeIt = true;
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.newFiles, 1);
    EXPECT_EQ(stats.changed, 2);
    EXPECT_EQ(stats.same, 1);
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Adding file " + NativePath(src + "/new-link")));
    EXPECT_TRUE(rig.log.Has(LogColour::Green, "Updating file " + NativePath(dst + "/changed-link")));
    EXPECT_EQ(TreeSnapshot(dst), before);
    EXPECT_EQ(rig.fs.MutatingCalls(), 0);
}

TEST_F(LinksTest, ALeftoverTemporaryLinkIsRemovedUncounted) {
    Put(src + "/a", "a");
    MakeDirectories(dst);
    const std::string leftover = dst + "/.pemo-copy-0123456789abcdef";
    MakeLink("whatever", leftover);
    task.safeMode = true;
    Run();
    EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
    EXPECT_EQ(stats.saved, 0);
    EXPECT_FALSE(IsLink(leftover));
}

TEST_F(LinksTest, ADestinationWithoutLinksSkipsEachLinkQuietlyOnEveryRun) {
    SKIP_WITHOUT_LINKS();
    Put(src + "/a", "a");
    MakeLink("a", src + "/l");
    for (int run = 0; run < 2; ++run) {
        rig.log.Clear();
        stats = RunStats();
        rig.fs.FailPath(FsCall::MakeLink, dst, EOPNOTSUPP);
        Run();
        EXPECT_EQ(stats.errors, 0) << Dump(rig.log);
        EXPECT_EQ(stats.skipped, 1);
        EXPECT_EQ(stats.same, run) << "the file";
        EXPECT_EQ(rig.log.Texts(LogColour::Purple),
                  std::vector<std::string>{"Not copying link " + NativePath(src + "/l") +
                                           ": the destination cannot hold links"});
        EXPECT_EQ(rig.log.CountStartingWith("Adding file " + NativePath(src + "/l")), 0) << Dump(rig.log);
    }
    EXPECT_FALSE(FileExists(dst + "/l"));
    EXPECT_TRUE(FindTemporaries(tmp.Path()).empty());
}

TEST_F(LinksTest, TheLinkPolicyLeavesLinksOutOrCopiesWhatTheyPointToInsideTheSourceOnly) {
    SKIP_WITHOUT_LINKS();
    const std::string outside = tmp / "outside";
    Put(outside + "/secret", "outside content");
    Put(src + "/data.txt", "0123456789");
    Put(src + "/sub/inner", "in");
    MakeLink("data.txt", src + "/relative");
    MakeLink(src + "/sub/inner", src + "/absolute");
    MakeLink("relative", src + "/chain");
    MakeLink("../data.txt", src + "/sub/up");
    MakeLink("sub", src + "/to-dir");
    MakeLink(outside + "/secret", src + "/out-absolute");
    MakeLink("../outside/secret", src + "/out-relative");
    MakeLink("sub/../../outside/secret", src + "/out-through");
    MakeLink("out-absolute", src + "/out-chain");
    task.linkPolicy = LinkPolicy::Skip;
    Run();
    EXPECT_EQ(stats.skipped, 9) << Dump(rig.log);
    EXPECT_EQ(rig.log.CountStartingWith("Not copying link "), 9);
    EXPECT_FALSE(FileExists(dst + "/relative"));

    // Whatever lies outside is refused without a look at it.
    for (FsCall kind : {FsCall::Status, FsCall::OpenDirectory, FsCall::OpenSource, FsCall::ReadLink}) {
        rig.fs.FailPath(kind, outside, EIO);
    }
    task.linkPolicy = LinkPolicy::CopyTarget;
    for (int run = 0; run < 2; ++run) {
        rig.log.Clear();
        stats = RunStats();
        Run();
        EXPECT_EQ(stats.errors, 4) << Dump(rig.log);
        EXPECT_EQ(rig.log.CountStartingWith("Not copying link "), 5) << "four outside, one directory";
        EXPECT_EQ(stats.newFiles, run == 0 ? 4 : 0) << Dump(rig.log);
        EXPECT_EQ(stats.same, run == 0 ? 2 : 6) << Dump(rig.log);
    }
    for (const char* name : {"relative", "chain", "sub/up"}) {
        EXPECT_FALSE(IsLink(dst + "/" + name)) << name;
        EXPECT_EQ(ReadFileBytes(dst + "/" + name), "0123456789") << name;
    }
    EXPECT_EQ(ReadFileBytes(dst + "/absolute"), "in");
    for (const char* name : {"to-dir", "out-absolute", "out-relative", "out-through", "out-chain"}) {
        EXPECT_FALSE(FileExists(dst + "/" + name)) << name;
    }
}
