// Reading a level whole, and reading it ahead of the walk: what each entry is marked as, and that
// a reading is only ever used for the very directory it was taken from.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/engine_tree.h"
#include "support/fake_file_system.h"
#include "support/temp_dir.h"
#include "sync/level_reader.h"

namespace {

// The files of a side by name, each with its flags; the directories apart.
std::map<std::string, std::uint8_t> FilesOf(const ListedSide& side) {
    std::map<std::string, std::uint8_t> files;
    for (std::size_t i = 0; i < side.files.size(); ++i) {
        files[std::string(side.files[i].name)] = side.flags[i];
    }
    return files;
}

[[maybe_unused]] std::vector<std::string> DirsOf(const ListedSide& side) {
    std::vector<std::string> dirs(side.dirs.begin(), side.dirs.end());
    std::sort(dirs.begin(), dirs.end());
    return dirs;
}

DirectoryHandle Open(IFileSystem& fs, const std::string& path) {
    DirectoryHandle dir;
    EXPECT_FALSE(fs.OpenDirectoryPath(path, false, dir)) << path;
    return dir;
}

CReadAhead::Opener OpenerOf(const std::string& path) {
    return [path](IFileSystem& fs, DirectoryHandle& dir) { return fs.OpenDirectoryPath(path, false, dir); };
}

const std::atomic<int> kRunning{0};

#ifndef _WIN32
TEST(ReadSide, MarksEveryKindOfEntryAndLeavesOutWhatTheSourceSkips) {
    TempDir tmp;
    const std::string level = tmp.Path() + "/level";
    MakeDirectories(level + "/sub");
    MakeDirectories(level + "/.hidden");
    MakeDirectories(level + "/mirror");
    WriteFileBytes(level + "/plain.txt", "12345");
    SetModified(level + "/plain.txt", 1600000000);
    WriteFileBytes(level + "/unreadable", "x");
    MakeLink("../anywhere", level + "/link");
    ASSERT_EQ(::mkfifo((level + "/fifo").c_str(), 0600), 0);
    const std::string temporary = std::string(kTemporaryCopyPrefix) + std::string(kTemporaryCopySuffixLength, 'a');
    WriteFileBytes(level + "/" + temporary, "partial");

    FakeFileSystem fs;
    fs.FailPath(FsCall::Status, "unreadable", EIO);
    DirectoryHandle dir = Open(fs, level);

    ListedSide source;
    const SideReading asSource{.source = true, .excludeHiddenDirs = true, .excludeSystemDirs = false};
    ASSERT_FALSE(ReadSide(fs, dir, asSource, source));
    EXPECT_FALSE(source.end);
    EXPECT_EQ(source.entries, 8u) << "every entry counts, those left out too";
    EXPECT_EQ(DirsOf(source), (std::vector<std::string>{"mirror", "sub"}));
    const std::map<std::string, std::uint8_t> sourceFiles = FilesOf(source);
    EXPECT_EQ(sourceFiles,
              (std::map<std::string, std::uint8_t>{
                  {"plain.txt", 0}, {"unreadable", kStatFailed}, {"link", 0}, {"fifo", kSpecial}, {temporary, 0}}));
    for (std::size_t i = 0; i < source.files.size(); ++i) {
        if (source.files[i].name == "plain.txt") {
            EXPECT_EQ(source.files[i].size, 5u);
            EXPECT_EQ(source.files[i].modified, 1600000000);
            EXPECT_EQ(source.LinkOf(i), nullptr);
        } else if (source.files[i].name == "link") {
            ASSERT_NE(source.LinkOf(i), nullptr);
            EXPECT_EQ(source.LinkOf(i)->target, "../anywhere");
            EXPECT_FALSE(source.LinkOf(i)->readError);
        }
    }
    EXPECT_EQ(source.links.size(), 1u);

    ListedSide destination;
    ASSERT_FALSE(ReadSide(fs, dir, SideReading{}, destination));
    EXPECT_EQ(DirsOf(destination), (std::vector<std::string>{".hidden", "mirror", "sub"}));
    EXPECT_EQ(FilesOf(destination), (std::map<std::string, std::uint8_t>{{"plain.txt", 0},
                                                                         {"unreadable", kStatFailed},
                                                                         {"link", kListedLink},
                                                                         {"fifo", 0},
                                                                         {temporary, kTemporary}}));
    EXPECT_TRUE(destination.links.empty()) << "a destination link's target is read only when it is compared";

    destination.ReleaseFiles();
    EXPECT_TRUE(destination.files.empty());
    EXPECT_EQ(destination.dirs.size(), 3u) << "the directories stay for the descent";
    EXPECT_EQ(destination.fileNames.Capacity(), 0u);
}
#endif

TEST(ReadSide, ALevelTooLargeForOneNameBlockKeepsEveryNameWithItsOwnStatus) {
    TempDir tmp;
    const std::string level = tmp.Path() + "/big";
    MakeDirectories(level);
    for (int i = 0; i < 3000; ++i) {
        // Names long enough to fill several name blocks; each size tells which file it is.
        WriteFileBytes(level + "/" + std::string(40, 'n') + std::to_string(i), std::string(i % 97, 'x'));
    }
    FakeFileSystem fs;
    DirectoryHandle dir = Open(fs, level);
    ListedSide side;
    SideReading asSource;
    asSource.source = true;
    ASSERT_FALSE(ReadSide(fs, dir, asSource, side));
    ASSERT_EQ(side.files.size(), 3000u);
    EXPECT_TRUE(std::is_sorted(side.files.begin(), side.files.end(),
                               [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; }));
    EXPECT_GT(side.fileNames.Capacity(), 64u * 1024u);
    for (const FileEntry& file : side.files) {
        const int i = std::stoi(std::string(file.name.substr(40)));
        EXPECT_EQ(file.size, static_cast<std::uint64_t>(i % 97)) << file.name;
    }
}

// A level holding one file, "first".
class ReadAhead : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirectories(level);
        WriteFileBytes(level + "/first", "1");
    }

    TempDir tmp;
    const std::string level = tmp.Path() + "/level";
    FakeFileSystem fs;
};

TEST_F(ReadAhead, AReadingIsUsedOnlyForTheVeryDirectoryItWasTakenFrom) {

    // Taken from this directory: used as it was read, even though a file came since.
    {
        CReadAhead ahead;
        ahead.Run(fs, OpenerOf(level), SideReading{}, kRunning);
        WriteFileBytes(level + "/later", "2");
        DirectoryHandle dir = Open(fs, level);
        const std::size_t listings = fs.ListedPaths().size();
        ListedSide side;
        ASSERT_FALSE(TakeOrReadSide(fs, dir, &ahead, SideReading{}, side));
        EXPECT_EQ(FilesOf(side), (std::map<std::string, std::uint8_t>{{"first", 0}}));
        EXPECT_EQ(fs.ListedPaths().size(), listings) << "the walk did not list the level again";
    }
    // The name now stands for another directory: the reading is of a directory the walk is no
    // longer in, and is dropped.
    {
        CReadAhead ahead;
        ahead.Run(fs, OpenerOf(level), SideReading{}, kRunning);
        ASSERT_EQ(std::rename(level.c_str(), (tmp.Path() + "/moved").c_str()), 0);
        MakeDirectories(level);
        WriteFileBytes(level + "/other", "3");
        DirectoryHandle dir = Open(fs, level);
        ListedSide side;
        ASSERT_FALSE(TakeOrReadSide(fs, dir, &ahead, SideReading{}, side));
        EXPECT_EQ(FilesOf(side), (std::map<std::string, std::uint8_t>{{"other", 0}}));
    }
}

TEST_F(ReadAhead, AFailedStoppedOrUnstartedReadingLeavesTheLevelToTheWalk) {
    DirectoryHandle dir = Open(fs, level);
    auto expectReadByTheWalk = [&](CReadAhead& ahead) {
        const std::size_t listings = fs.ListedPaths().size();
        ListedSide side;
        ASSERT_FALSE(TakeOrReadSide(fs, dir, &ahead, SideReading{}, side));
        EXPECT_EQ(FilesOf(side), (std::map<std::string, std::uint8_t>{{"first", 0}}));
        EXPECT_EQ(fs.ListedPaths().size(), listings + 1);
    };

    // The worker's listing failed: the walk lists again and meets, or not, the failure itself.
    fs.FailNth(FsCall::ListDirectory, 1, EIO);
    CReadAhead failed;
    failed.Run(fs, OpenerOf(level), SideReading{}, kRunning);
    expectReadByTheWalk(failed);

    // A stop came before the worker began: nothing was read.
    const std::atomic<int> stopped{1};
    CReadAhead afterStop;
    const std::size_t before = fs.ListedPaths().size();
    afterStop.Run(fs, OpenerOf(level), SideReading{}, stopped);
    EXPECT_EQ(fs.ListedPaths().size(), before);
    expectReadByTheWalk(afterStop);

    // The walk got there first: it reads the level itself, and the worker's turn does nothing.
    CReadAhead unstarted;
    expectReadByTheWalk(unstarted);
    const std::size_t after = fs.ListedPaths().size();
    unstarted.Run(fs, OpenerOf(level), SideReading{}, kRunning);
    EXPECT_EQ(fs.ListedPaths().size(), after);
}

} // namespace
