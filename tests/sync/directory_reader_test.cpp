// The engine's one directory reader on real trees: where a level cannot be reached as against
// listed, what a broken-off listing still hands back, and status looked up in the level read.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/engine_tree.h"
#include "support/fake_file_system.h"
#include "support/temp_dir.h"
#include "sync/directory_reader.h"
#include "sync/tree_cursor.h"

namespace {

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
    std::vector<std::string> names;
    for (const DirEntry& entry : entries) {
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(CDirectoryReader, TellsALevelThatCannotBeReachedFromOneThatCannotBeListed) {
    TempDir tmp;
    MakeDirectories(tmp / "top/sub");
    MakeDirectories(tmp / "outside");
    WriteFileBytes(tmp / "outside/secret", "s");
    MakeLink(tmp / "outside", tmp / "top/link");
    WriteFileBytes(tmp / "top/file", "f");
    FakeFileSystem fs;
    CTreeCursor tree(fs);
    tree.Reset(tmp / "top", tmp / "top", false);

    tree.Push("missing");
    {
        CDirectoryReader reader(fs, tree);
        EXPECT_EQ(reader.Open().kind, ErrorKind::NotFound);
        EXPECT_EQ(reader.Directory(), nullptr);
        DirEntry entry;
        EXPECT_FALSE(reader.Next(entry));
    }
    tree.Pop();

    // Neither a file nor a link below the top is ever a level to read, whatever a link points to.
    auto expectNoLevel = [&](const std::string& name) {
        tree.Push(name);
        CDirectoryReader reader(fs, tree);
        const FsError e = reader.Open();
        EXPECT_TRUE(e.Is(ErrorKind::NotADirectory) || e.Is(ErrorKind::IsALink)) << name << " " << e.code;
        std::vector<DirEntry> entries;
        EXPECT_TRUE(reader.ReadAll(entries));
        EXPECT_TRUE(entries.empty()) << name;
        tree.Pop();
    };
    expectNoLevel("file");

    // Reached, but its listing refused: the failure comes from List, not Open.
    tree.Push("sub");
    fs.FailPath(FsCall::ListDirectory, tmp / "top/sub", EACCES);
    {
        CDirectoryReader reader(fs, tree);
        EXPECT_FALSE(reader.Open());
        ASSERT_NE(reader.Directory(), nullptr);
        const FsError listed = reader.List();
        EXPECT_EQ(listed.kind, ErrorKind::AccessDenied);
        EXPECT_EQ(listed.code, FakeFileSystem::SystemCode(EACCES));
    }
    tree.Pop();

    SKIP_WITHOUT_LINKS();
    expectNoLevel("link");
}

TEST(CDirectoryReader, ABrokenOffListingKeepsWhatItReadAndSaysWhy) {
    TempDir tmp;
    MakeDirectories(tmp / "top");
    for (const char* name : {"a", "b", "c", "d"}) {
        WriteFileBytes(tmp / ("top/" + std::string(name)), name);
    }
    FakeFileSystem fs;
    CTreeCursor tree(fs);
    tree.Reset(tmp / "top", tmp / "top", false);

    std::vector<DirEntry> entries;
    EXPECT_FALSE(CDirectoryReader(fs, tree).ReadAll(entries));
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"a", "b", "c", "d"}));

    fs.FailNth(FsCall::ReadDirectory, 3, EIO);
    entries.clear();
    CDirectoryReader reader(fs, tree);
    const FsError e = reader.ReadAll(entries);
    EXPECT_EQ(e.code, FakeFileSystem::SystemCode(EIO));
    EXPECT_EQ(e.kind, ErrorKind::DeviceFault);
    EXPECT_EQ(entries.size(), 2u) << "the two entries read before the failure";

    // Streamed, the end of a whole listing is no failure.
    fs.Reset();
    CDirectoryReader streamed(fs, tree);
    ASSERT_FALSE(streamed.OpenAndList());
    DirEntry entry;
    int count = 0;
    while (streamed.Next(entry)) {
        ++count;
    }
    EXPECT_EQ(count, 4);
    EXPECT_FALSE(streamed.End());
}

TEST(CDirectoryReader, StatusIsLookedUpInTheLevelReadWithoutFollowingUnasked) {
    TempDir tmp;
    MakeDirectories(tmp / "top/sub");
    WriteFileBytes(tmp / "top/sub/data", "12345");
    MakeLink("data", tmp / "top/sub/alias");
    FakeFileSystem fs;
    CTreeCursor tree(fs);
    tree.Reset(tmp / "top", tmp / "top", false);
    tree.Push("sub");
    CDirectoryReader reader(fs, tree);
    FileStatus status;
    EXPECT_EQ(reader.StatusOf("data", false, status).kind, ErrorKind::NotFound) << "nothing is open yet";
    ASSERT_FALSE(reader.OpenAndList());
    EXPECT_EQ(reader.StatusOf("absent", true, status).kind, ErrorKind::NotFound);
    SKIP_WITHOUT_LINKS();
    ASSERT_FALSE(reader.StatusOf("alias", false, status));
    EXPECT_EQ(status.kind, EntryKind::Symlink);
    ASSERT_FALSE(reader.StatusOf("alias", true, status));
    EXPECT_EQ(status.kind, EntryKind::File);
    EXPECT_EQ(status.size, 5u);
}
