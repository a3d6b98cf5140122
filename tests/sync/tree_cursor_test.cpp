// The walk's directory cursor: a fixed descriptor budget at any depth, and levels closed for it
// opened again, as the same directories, when the walk comes back up.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/engine_tree.h"
#include "support/fake_file_system.h"
#include "support/temp_dir.h"
#include "sync/tree_cursor.h"

namespace {

// On Windows there is no descriptor table to look at: only the reopening is checked there.
std::size_t OpenDescriptors() {
    std::size_t count = 0;
#ifndef _WIN32
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
#endif
    return count;
}

} // namespace

TEST(CTreeCursor, HoldsItsBudgetAtAnyDepthAndReopensTheSameLevelsOnTheWayBack) {
    TempDir tmp;
    std::string path = tmp / "top";
    MakeDirectories(path);
    for (int level = 1; level <= 12; ++level) {
        path += "/l";
        MakeDirectories(path);
        WriteFileBytes(path + "/marker-" + std::to_string(level), "");
    }
    FakeFileSystem fs;
    CTreeCursor tree(fs, 3);
    tree.Reset(tmp / "top", tmp / "top", false);
    ASSERT_EQ(tree.Open().code, 0);
    const std::size_t before = OpenDescriptors();
    for (int level = 1; level <= 12; ++level) {
        tree.Push("l");
        ASSERT_EQ(tree.Open().code, 0) << level;
        EXPECT_LE(OpenDescriptors(), before + 3) << level;
    }
    EXPECT_EQ(tree.Path(), NativePath(path));
    const int opensDown = fs.Calls(FsCall::OpenDirectory);
    for (int level = 12; level >= 1; --level) {
        FsError error;
        const DirectoryHandle* dir = tree.Current(error);
        ASSERT_NE(dir, nullptr) << level << " " << error.code;
        FileStatus status;
        EXPECT_FALSE(fs.StatusAt(*dir, "marker-" + std::to_string(level), false, status)) << level;
        EXPECT_LE(OpenDescriptors(), before + 3) << level;
        tree.Pop();
    }
    EXPECT_EQ(tree.Path(), tmp / "top");
    EXPECT_LT(fs.Calls(FsCall::OpenDirectory) - opensDown, 12 * 4) << "re-opening stays bounded";

    // A level swapped for a link while closed is refused, not followed.
    SKIP_WITHOUT_LINKS();
    MakeDirectories(tmp / "outside");
    tree.Push("l");
    ASSERT_EQ(tree.Open().code, 0);
    for (int level = 2; level <= 6; ++level) {
        tree.Push("l");
        ASSERT_EQ(tree.Open().code, 0);
    }
    std::filesystem::rename(tmp / "top/l/l", tmp / "top/l/away");
    MakeLink(tmp / "outside", tmp / "top/l/l");
    for (int level = 6; level >= 3; --level) {
        tree.Pop();
    }
    FsError error;
    EXPECT_EQ(tree.Current(error), nullptr) << "level 2, closed for the budget, is now a link";
    EXPECT_TRUE(error.Is(ErrorKind::NotADirectory) || error.Is(ErrorKind::IsALink)) << error.code;
}
