// The Win32 file-system backend on real files: attributes, reparse points, sharing, long paths,
// names no UTF-16 text can spell, and locks.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/windows/wtf8.h"

namespace {

std::wstring Long(const std::string& path) {
    return L"\\\\?\\" + WideFromWtf8(path);
}

void Write(const std::string& path, const std::string& bytes) {
    HANDLE h = ::CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(h);
}

std::vector<DirEntry> List(IFileSystem& fs, const std::string& path) {
    FsError e;
    std::vector<DirEntry> entries;
    auto stream = fs.OpenDirectory(path, true, e);
    EXPECT_FALSE(e) << path << " " << e.code;
    for (DirEntry entry; stream && stream->Next(entry);) {
        entries.push_back(entry);
    }
    return entries;
}

class WindowsFileSystem : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(::GetTempPathW(MAX_PATH + 1, temp), 0u);
        root = Wtf8FromWide(temp) + "pemo-" + std::to_string(::GetTickCount64()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(::CreateDirectoryW(Long(root).c_str(), nullptr));
    }
    void TearDown() override {
        DirectoryHandle parent;
        std::string name;
        if (!fs.OpenParent(root, parent, name)) {
            RemoveTree(parent, name);
        }
    }
    void RemoveTree(const DirectoryHandle& parent, const std::string& name) {
        DirectoryHandle dir;
        FsError e;
        if (!fs.OpenDirectoryAt(parent, name, dir)) {
            for (auto stream = fs.ListDirectory(dir, e); stream != nullptr;) {
                DirEntry entry;
                if (!stream->Next(entry)) {
                    break;
                }
                if (entry.kind == EntryKind::Directory) {
                    RemoveTree(dir, entry.name);
                } else {
                    fs.SetNormalAttributesAt(dir, entry.name);
                    fs.RemoveFileAt(dir, entry.name);
                }
            }
        }
        dir.Close();
        fs.RemoveDirectoryAt(parent, name);
    }
    std::string At(const std::string& name) const { return root + "\\" + name; }

    IFileSystem& fs = NativeFileSystem();
    std::string root;
};

TEST_F(WindowsFileSystem, ListsAttributesKindsAndModes) {
    Write(At("hidden"), "h");
    Write(At("system"), "s");
    Write(At("plain"), "p");
    ASSERT_TRUE(::CreateDirectoryW(Long(At("dir")).c_str(), nullptr));
    ::SetFileAttributesW(Long(At("hidden")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesW(Long(At("system")).c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    int seen = 0;
    for (const DirEntry& entry : List(fs, root)) {
        ++seen;
        EXPECT_EQ(entry.hidden, entry.name == "hidden") << entry.name;
        EXPECT_EQ(entry.system, entry.name == "system") << entry.name;
        EXPECT_EQ(entry.kind, entry.name == "dir" ? EntryKind::Directory : EntryKind::File) << entry.name;
    }
    EXPECT_EQ(seen, 4);
    FileStatus st;
    ASSERT_FALSE(fs.Status(At("system"), false, st));
    EXPECT_TRUE(st.system);
    EXPECT_EQ(st.mode, 0444u);
    EXPECT_EQ(st.size, 1u);
    // The attribute reset clears what would make a deletion fail.
    ASSERT_FALSE(fs.SetNormalAttributes(At("system")));
    ASSERT_FALSE(fs.Status(At("system"), false, st));
    EXPECT_FALSE(st.system);
    EXPECT_EQ(st.mode, 0666u);
    EXPECT_FALSE(fs.RemoveFile(At("system")));
    // "." is the open directory itself, which its metadata is set through, never removed through.
    DirectoryHandle dir;
    ASSERT_FALSE(fs.OpenDirectoryPath(At("dir"), false, dir));
    ASSERT_FALSE(fs.SetModeAt(dir, ".", FileIdentity{}, 0555));
    ASSERT_FALSE(fs.StatusAt(dir, ".", false, st));
    EXPECT_EQ(st.kind, EntryKind::Directory);
    EXPECT_TRUE(fs.RemoveDirectoryAt(dir, ".").Failed());
}

TEST_F(WindowsFileSystem, NeverFollowsALinkInTheDestination) {
    ASSERT_TRUE(::CreateDirectoryW(Long(At("outside")).c_str(), nullptr));
    Write(At("outside\\keep"), "keep");
    ASSERT_TRUE(::CreateDirectoryW(Long(At("dest")).c_str(), nullptr));
    DirectoryHandle dest;
    ASSERT_FALSE(fs.OpenDirectoryPath(At("dest"), false, dest));
    if (FsError e = fs.MakeLinkAt(dest, "link", At("outside"))) {
        // Wine 8's CreateSymbolicLinkW reports success and makes nothing, which the backend's
        // look through the directory's handle finds (not found).
        GTEST_SKIP() << "the system makes no symbolic links here: error " << e.code;
    }
    std::string target;
    ASSERT_FALSE(fs.ReadLinkAt(dest, "link", target));
    EXPECT_EQ(target, At("outside"));
    const std::vector<DirEntry> listed = List(fs, At("dest"));
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].kind, EntryKind::Symlink);
    DirectoryHandle through;
    EXPECT_TRUE(fs.OpenDirectoryAt(dest, "link", through).Is(ErrorKind::IsALink));
    EXPECT_TRUE(fs.RemoveDirectoryAt(dest, "link").Is(ErrorKind::NotADirectory));
    // A copy onto the link's name replaces the link, never writes through it.
    Write(At("source"), "new");
    EXPECT_EQ(fs.CopyFileContent(At("source"), At("dest\\link"), nullptr, nullptr).outcome, CopyOutcome::Copied);
    FileStatus st;
    ASSERT_FALSE(fs.StatusAt(dest, "link", false, st));
    EXPECT_EQ(st.kind, EntryKind::File);
    EXPECT_EQ(List(fs, At("outside")).size(), 1u);
}

TEST_F(WindowsFileSystem, AFileAnotherProgramHoldsOpenIsLocked) {
    Write(At("held"), "data");
    bool locked = false;
    ASSERT_FALSE(fs.CheckLocked(At("held"), locked));
    EXPECT_FALSE(locked);
    // Even a reader that lets everyone else in holds it.
    HANDLE other = ::CreateFileW(Long(At("held")).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_FALSE(fs.CheckLocked(At("held"), locked));
    EXPECT_TRUE(locked);
    // The program's own open source does not count against it.
    ::CloseHandle(other);
    DirectoryHandle dir;
    FileHandle source;
    ASSERT_FALSE(fs.OpenDirectoryPath(root, false, dir));
    ASSERT_FALSE(fs.OpenCopySourceAt(dir, "held", FileIdentity{}, false, source));
    ASSERT_FALSE(fs.CheckOpenFileLocked(source, locked));
    EXPECT_FALSE(locked);
    EXPECT_EQ(fs.CopyOpenFileAt(source, dir, "copy", nullptr, nullptr).outcome, CopyOutcome::Copied);
}

TEST_F(WindowsFileSystem, ReachesATreeDeeperThanMaxPath) {
    const std::string level(40, 'd');
    std::string path = root;
    DirectoryHandle dir;
    ASSERT_FALSE(fs.OpenDirectoryPath(root, false, dir));
    for (int depth = 0; depth < 10; ++depth) {
        ASSERT_FALSE(fs.MakeDirectoryAt(dir, level));
        DirectoryHandle next;
        ASSERT_FALSE(fs.OpenDirectoryAt(dir, level, next));
        dir = std::move(next);
        path += "\\" + level;
    }
    ASSERT_GT(path.size(), static_cast<std::size_t>(MAX_PATH));
    ASSERT_FALSE(fs.MakeDirectory(path + "\\byPath"));
    Write(At("source"), "deep");
    EXPECT_EQ(fs.CopyFileContent(At("source"), path + "\\byPath\\copy", nullptr, nullptr).outcome, CopyOutcome::Copied);
    FileStatus st;
    ASSERT_FALSE(fs.Status(path + "\\byPath\\copy", false, st));
    EXPECT_EQ(st.size, 4u);
    EXPECT_EQ(List(fs, path + "\\byPath").size(), 1u);
}

TEST_F(WindowsFileSystem, ANameWithAnUnpairedSurrogateRoundTrips) {
    const std::wstring wide = std::wstring(L"odd") + static_cast<wchar_t>(0xD800) + L".txt";
    EXPECT_EQ(WideFromWtf8(Wtf8FromWide(wide)), wide);
    const std::wstring paired = std::wstring(L"pair") + static_cast<wchar_t>(0xD83D) + static_cast<wchar_t>(0xDE00);
    EXPECT_EQ(Wtf8FromWide(paired), "pair\xF0\x9F\x98\x80");
    HANDLE h = ::CreateFileW((Long(root) + L"\\" + wide).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        // Wine keeps names as UTF-8 on the host and refuses one that no UTF-8 can spell.
        GTEST_SKIP() << "the system refuses the name: error " << ::GetLastError();
    }
    ::CloseHandle(h);
    const std::vector<DirEntry> listed = List(fs, root);
    ASSERT_EQ(listed.size(), 1u);
    const std::string name = listed[0].name;
    EXPECT_EQ(WideFromWtf8(name), wide);
    DirectoryHandle dir;
    ASSERT_FALSE(fs.OpenDirectoryPath(root, false, dir));
    EXPECT_EQ(fs.CopyFileAt(dir, name, dir, name + ".copy", nullptr, nullptr).outcome, CopyOutcome::Copied);
    EXPECT_NE(::GetFileAttributesW((L"\\\\?\\" + WideFromWtf8(root) + L"\\" + wide + L".copy").c_str()),
              INVALID_FILE_ATTRIBUTES);
    ASSERT_FALSE(fs.RemoveFileAt(dir, name));
    EXPECT_EQ(::GetFileAttributesW((L"\\\\?\\" + WideFromWtf8(root) + L"\\" + wide).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(WindowsFileSystem, CopyKeepsTimeAndReadOnlyAndACancelLeavesTheOldCopy) {
    Write(At("source"), std::string(3 << 20, 's'));
    Write(At("dest"), "old");
    // A source written to while it is read gives no copy.
    auto append = [&](std::uint64_t, std::uint64_t) {
        HANDLE writer = ::CreateFileW(Long(At("source")).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(writer, "+", 1, &written, nullptr);
        ::CloseHandle(writer);
    };
    EXPECT_EQ(fs.CopyFileContent(At("source"), At("dest"), append, nullptr).outcome, CopyOutcome::SourceChanged);
    FILETIME when{};
    when.dwHighDateTime = 0x01D00000;
    HANDLE h = ::CreateFileW(Long(At("source")).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ::SetFileTime(h, nullptr, nullptr, &when);
    ::CloseHandle(h);
    ::SetFileAttributesW(Long(At("source")).c_str(), FILE_ATTRIBUTE_READONLY);
    std::atomic<int> cancel{0};
    auto stop = [&](std::uint64_t, std::uint64_t) { cancel = 1; };
    EXPECT_EQ(fs.CopyFileContent(At("source"), At("dest"), stop, &cancel).outcome, CopyOutcome::Cancelled);
    FileStatus st;
    ASSERT_FALSE(fs.Status(At("dest"), false, st));
    EXPECT_EQ(st.size, 3u);
    EXPECT_EQ(List(fs, root).size(), 2u); // no temporary left
    EXPECT_EQ(fs.CopyFileContent(At("source"), At("dest"), nullptr, nullptr).outcome, CopyOutcome::Copied);
    FileStatus source;
    ASSERT_FALSE(fs.Status(At("source"), false, source));
    ASSERT_FALSE(fs.Status(At("dest"), false, st));
    EXPECT_EQ(st.size, source.size);
    EXPECT_EQ(st.mtimeSeconds, source.mtimeSeconds);
    EXPECT_EQ(st.mode, 0444u);
    // A read-only destination refuses to be replaced until its attributes are reset.
    const CopyResult refused = fs.CopyFileContent(At("source"), At("dest"), nullptr, nullptr);
    EXPECT_EQ(List(fs, root).size(), 2u);
    if (refused.outcome == CopyOutcome::Copied) {
        // Wine renames over a read-only file as its host does.
        GTEST_SKIP() << "the system replaced a read-only file";
    }
    EXPECT_TRUE(refused.error.Is(ErrorKind::AccessDenied));
    ASSERT_FALSE(fs.SetNormalAttributes(At("dest")));
    EXPECT_EQ(fs.CopyFileContent(At("source"), At("dest"), nullptr, nullptr).outcome, CopyOutcome::Copied);
    EXPECT_EQ(List(fs, root).size(), 2u);
}

TEST_F(WindowsFileSystem, AWholeFileLockHeldElsewhereIsBusy) {
    FileOpenMode mode;
    mode.access = FileAccess::ReadWrite;
    mode.create = true;
    FileHandle first;
    FileHandle second;
    ASSERT_FALSE(fs.OpenFile(At("job.lock"), mode, first));
    ASSERT_FALSE(fs.OpenFile(At("job.lock"), mode, second));
    ASSERT_FALSE(fs.LockWholeFile(first, false));
    EXPECT_TRUE(fs.LockWholeFile(second, false).Is(ErrorKind::Busy));
    // The lock keeps other holders out, not readers and writers of the content; a read at an
    // offset leaves the position where it was.
    std::size_t done = 0;
    ASSERT_FALSE(fs.WriteFileData(second, "hello", 5, done));
    char bytes[8] = {};
    ASSERT_FALSE(fs.ReadFileDataAt(second, 1, bytes, 3, done));
    EXPECT_EQ(std::string(bytes, done), "ell");
    ASSERT_FALSE(fs.ReadFileData(second, bytes, sizeof bytes, done));
    EXPECT_EQ(done, 0u);
    ASSERT_FALSE(fs.UnlockWholeFile(first));
    EXPECT_FALSE(fs.LockWholeFile(second, false));
    OpenFileInfo info;
    ASSERT_FALSE(fs.FileInfo(second, info));
    EXPECT_TRUE(info.ownedByUser);
}

TEST(WindowsErrorText, IsTheSystemsTextWithoutItsLineBreak) {
    const std::string text = ErrorText(ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_EQ(ErrorText(0xE0001234u), "Unknown error code e0001234 (4660)");
    EXPECT_EQ(KindOfSystemError(SystemCodeOfKind(ErrorKind::Busy)), ErrorKind::Busy);
}

} // namespace
