// Tests of CStdioFileEx on real files: byte-order marks, line ends, long lines, conversions,
// open flags and the failures it reports.
#include "model/stdio_file_ex.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs_error.h"
#include "support/eight_bit.h"
#include "support/temp_dir.h"

namespace {

constexpr unsigned kWriteUnicode = 0x201001; // create + write + UTF-16
constexpr unsigned kAppendUnicode = 0x203001;
constexpr unsigned kAppendNarrow = 0x3002;

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

std::vector<std::string> ReadLines(const std::string& path, const std::string& codePage = "") {
    CStdioFileEx file(NativeFileSystem());
    file.codePage = codePage;
    EXPECT_TRUE(file.Open(path, CStdioFileEx::modeRead));
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadString(line)) {
        lines.push_back(line);
    }
    EXPECT_TRUE(line.empty());
    return lines;
}

using Lines = std::vector<std::string>;

TEST(StdioFileEx, ByteOrderMarkOnlyAtPositionZero) {
    TempDir dir;
    const std::string path = dir / "a.txt";
    {
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(path, kWriteUnicode));
        file.WriteString("x");
        file.WriteString("x");
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "\xFF\xFE" + Utf16("xx"));
    {
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(path, kAppendUnicode));
        file.SeekToEnd();
        file.WriteString("y\r\n");
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "\xFF\xFE" + Utf16("xxy\r\n"));
    EXPECT_EQ(ReadLines(path), Lines{"xxy"});
    {
        // Created and closed without a write: no mark, zero bytes (and the old content gone).
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(path, kWriteUnicode));
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST(StdioFileEx, DetectsUtf16OnlyByLeadingMark) {
    TempDir dir;
    WriteFileBytes(dir / "u.txt", "\xFF\xFE" + Utf16("first\nsecond"));
    EXPECT_EQ(ReadLines(dir / "u.txt"), (Lines{"first", "second"}));
    // FF FE elsewhere is nothing special in 8-bit text (here Latin-1, where it is "ÿþ").
    WriteFileBytes(dir / "a.txt", "ab\xFF\xFE\ncd\n");
    EXPECT_EQ(ReadLines(dir / "a.txt", "ISO-8859-1"), (Lines{"ab\xC3\xBF\xC3\xBE", "cd"}));
    // A lone mark gives no lines; so does an empty file.
    WriteFileBytes(dir / "bom.txt", "\xFF\xFE");
    EXPECT_EQ(ReadLines(dir / "bom.txt"), Lines{});
    WriteFileBytes(dir / "empty.txt", "");
    EXPECT_EQ(ReadLines(dir / "empty.txt"), Lines{});
}

TEST(StdioFileEx, LineEnds) {
    TempDir dir;
    WriteFileBytes(dir / "a.txt", "abc\r\nabc\r\r\n\nlast");
    EXPECT_EQ(ReadLines(dir / "a.txt"), (Lines{"abc", "abc\r", "", "last"}));
    WriteFileBytes(dir / "u.txt", "\xFF\xFE" + Utf16("abc\r\nabc\r\r\n\nlast"));
    EXPECT_EQ(ReadLines(dir / "u.txt"), (Lines{"abc", "abc\r", "", "last"}));
    // A lone CR is no line end, and U+0A0D (bytes 0D 0A) is no line feed.
    WriteFileBytes(dir / "cr.txt", "a\rb\n");
    EXPECT_EQ(ReadLines(dir / "cr.txt"), Lines{"a\rb"});
    WriteFileBytes(dir / "unit.txt", std::string("\xFF\xFE\x0D\x0A\x41\x00", 6));
    EXPECT_EQ(ReadLines(dir / "unit.txt"), Lines{"\xE0\xA8\x8D"
                                                 "A"});
}

TEST(StdioFileEx, LongLinesAreReadWhole) {
    TempDir dir;
    const std::string tenThousand(10000, 'q');
    WriteFileBytes(dir / "u.txt", "\xFF\xFE" + Utf16(tenThousand + "\n" + "z"));
    EXPECT_EQ(ReadLines(dir / "u.txt"), (Lines{tenThousand, "z"}));
    const std::string tenMegabytes(10 * 1024 * 1024, 'm');
    WriteFileBytes(dir / "a.txt", tenMegabytes + "\r\nend");
    const Lines lines = ReadLines(dir / "a.txt");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), tenMegabytes.size());
    EXPECT_EQ(lines[0], tenMegabytes);
    EXPECT_EQ(lines[1], "end");
}

TEST(StdioFileEx, Utf16RoundTripOfEveryPlane) {
    TempDir dir;
    const std::string text = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z"; // A é € 😀 z
    {
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(dir / "u.txt", kWriteUnicode));
        file.WriteString(text + "\n");
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(dir / "u.txt"),
              std::string("\xFF\xFE\x41\x00\xE9\x00\xAC\x20\x3D\xD8\x00\xDE\x7A\x00\x0A\x00", 16));
    EXPECT_EQ(ReadLines(dir / "u.txt"), Lines{text});
}

TEST(StdioFileEx, MalformedInputNeverStopsReading) {
    TempDir dir;
    // Truncated UTF-16: the last half unit is dropped, the rest is kept.
    WriteFileBytes(dir / "t.txt", "\xFF\xFE" + Utf16("ok\nab") + "c");
    EXPECT_EQ(ReadLines(dir / "t.txt"), (Lines{"ok", "ab"}));
    // Unpaired surrogates become U+FFFD.
    WriteFileBytes(dir / "s.txt", std::string("\xFF\xFE\x00\xD8x\x00\x00\xDC", 8));
    EXPECT_EQ(ReadLines(dir / "s.txt"), Lines{"\xEF\xBF\xBDx\xEF\xBF\xBD"});
    // Invalid UTF-8 in 8-bit text: each bad byte becomes U+FFFD, the line survives.
    WriteFileBytes(dir / "a.txt", "<NAME>a\xC3(\xFF"
                                  "b\n<SRC>c\n");
    EXPECT_EQ(ReadLines(dir / "a.txt", "UTF-8"), (Lines{"<NAME>a\xEF\xBF\xBD(\xEF\xBF\xBD"
                                                        "b",
                                                        "<SRC>c"}));
    // A NUL ends the line's text.
    WriteFileBytes(dir / "n.txt", std::string("ab\0cd\nef\n", 9));
    EXPECT_EQ(ReadLines(dir / "n.txt"), (Lines{"ab", "ef"}));
}

TEST(StdioFileEx, EightBitTextUsesItsCharacterSet) {
    TempDir dir;
    {
        CStdioFileEx file(NativeFileSystem());
        file.codePage = "ISO-8859-1";
        ASSERT_TRUE(file.Open(dir / "l.txt", CStdioFileEx::modeCreate | CStdioFileEx::modeWrite));
        file.WriteString("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xFF!\n"); // é fits, € and 😀 do not
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(dir / "l.txt"), "caf\xE9 # # #!\n");
    EXPECT_EQ(ReadLines(dir / "l.txt", "ISO-8859-1"), Lines{"caf\xC3\xA9 # # #!"});
    // With the locale's set (UTF-8, or plain ASCII taken as UTF-8; the ANSI code page on Windows).
    {
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(dir / "u.txt", CStdioFileEx::modeCreate | CStdioFileEx::modeWrite));
        file.WriteString("caf\xC3\xA9\n");
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(dir / "u.txt"), EightBit("caf\xC3\xA9\n"));
}

TEST(StdioFileEx, ReadWriteAppendAndPositions) {
    TempDir dir;
    const std::string path = dir / "summary.log";
    for (const char* line : {"one\r\n", "two\r\n"}) {
        CStdioFileEx file(NativeFileSystem());
        ASSERT_TRUE(file.Open(path, kAppendNarrow));
        EXPECT_EQ(file.SeekToEnd(), ReadFileBytes(path).size());
        file.WriteString(line);
        file.Close();
    }
    EXPECT_EQ(ReadFileBytes(path), "one\r\ntwo\r\n");

    WriteFileBytes(dir / "u.txt", "\xFF\xFE" + Utf16("ab\ncd\n"));
    CStdioFileEx file(NativeFileSystem());
    ASSERT_TRUE(file.Open(dir / "u.txt", CStdioFileEx::modeRead));
    std::string line;
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(file.GetPosition(), 8u);
    // Seeking back to the start skips the mark again.
    EXPECT_EQ(file.Seek(0, SEEK_SET), 0u);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "ab");
    EXPECT_EQ(file.Seek(2, SEEK_CUR), 10u);
    ASSERT_TRUE(file.ReadString(line));
    EXPECT_EQ(line, "d");
    EXPECT_FALSE(file.ReadString(line));
}

TEST(StdioFileEx, OpenFailuresCarryKindErrnoAndPath) {
    TempDir dir;
    CStdioFileEx file(NativeFileSystem());
    const std::string missing = dir / "missing.job";
    EXPECT_FALSE(file.Open(missing, CStdioFileEx::modeRead)); // no record: just false
    CFileException error;
    EXPECT_FALSE(file.Open(missing, CStdioFileEx::modeRead, &error));
    EXPECT_EQ(error.cause, CFileException::Cause::fileNotFound);
    EXPECT_EQ(error.osError, SystemCodeOfKind(ErrorKind::NotFound));
    EXPECT_EQ(error.ErrorText(), missing + " was not found.");
    EXPECT_FALSE(file.Open(dir / "no/such/dir.txt", kWriteUnicode, &error));
    EXPECT_EQ(error.cause, CFileException::Cause::fileNotFound);
    WriteFileBytes(dir / "plain", "x");
    EXPECT_FALSE(file.Open(dir / "plain/below", CStdioFileEx::modeRead, &error));
    // Windows tells a file on the way from a missing directory no more than by "path not found".
    EXPECT_EQ(error.cause,
              kPathSeparator == '/' ? CFileException::Cause::badPath : CFileException::Cause::fileNotFound);
    EXPECT_FALSE(file.Open(dir.Path(), CStdioFileEx::modeRead, &error));
    EXPECT_EQ(error.cause, CFileException::Cause::accessDenied);
    EXPECT_EQ(error.ErrorText(), "Access to " + dir.Path() + " was denied.");
}

#ifndef _WIN32
TEST(StdioFileEx, PermissionRefusalAsUnprivilegedUser) {
    TempDir dir;
    OpenToEveryone(dir.Path());
    const std::string path = dir / "secret.txt";
    WriteFileBytes(path, "x");
    chmod(path.c_str(), 0600);
    const int cause = RunAsNobody([&] {
        CStdioFileEx file(NativeFileSystem());
        CFileException error;
        return file.Open(path, CStdioFileEx::modeRead, &error) ? 100 : static_cast<int>(error.cause);
    });
    ASSERT_NE(cause, -1) << "could not drop privileges";
    EXPECT_EQ(cause, static_cast<int>(CFileException::Cause::accessDenied));
}
#endif

TEST(StdioFileEx, ShareExclusiveRefusesASecondOpenerWithoutHarm) {
    TempDir dir;
    const std::string path = dir / "busy.job";
    WriteFileBytes(path, "keep me");
    CStdioFileEx first(NativeFileSystem());
    ASSERT_TRUE(first.Open(path, CStdioFileEx::modeRead | CStdioFileEx::shareExclusive));
    CStdioFileEx second(NativeFileSystem());
    CFileException error;
    EXPECT_FALSE(second.Open(path, kWriteUnicode | CStdioFileEx::shareExclusive, &error));
    EXPECT_EQ(error.cause, CFileException::Cause::sharingViolation);
    EXPECT_EQ(ReadFileBytes(path), "keep me"); // the refused create did not truncate
    first.Close();
    EXPECT_TRUE(second.Open(path, kWriteUnicode | CStdioFileEx::shareExclusive));
}

TEST(StdioFileEx, WriteFailuresThrow) {
    TempDir dir;
    WriteFileBytes(dir / "r.txt", "x");
    CStdioFileEx readOnly(NativeFileSystem());
    ASSERT_TRUE(readOnly.Open(dir / "r.txt", CStdioFileEx::modeRead));
    try {
        readOnly.WriteString("y");
        FAIL() << "no exception";
    } catch (const CFileException& e) {
        // POSIX finds the descriptor not open for writing; Windows refuses the write itself.
        EXPECT_EQ(e.cause,
                  kPathSeparator == '/' ? CFileException::Cause::invalidFile : CFileException::Cause::accessDenied);
        EXPECT_EQ(e.fileName, dir / "r.txt");
    }
    // A device is no file of the program's own.
    const std::string device = kPathSeparator == '/' ? "/dev/full" : "\\\\.\\NUL";
    CStdioFileEx full(NativeFileSystem());
    CFileException error;
    EXPECT_FALSE(full.Open(device, CStdioFileEx::modeWrite, &error));
    EXPECT_EQ(error.ErrorText(), device + " is not a regular file.");
}

TEST(FileException, TextsOfEveryKind) {
    const std::pair<CFileException::Cause, const char*> expected[] = {
        {CFileException::Cause::none, "No error occurred."},
        {CFileException::Cause::genericException, "An unknown error occurred while accessing P."},
        {CFileException::Cause::fileNotFound, "P was not found."},
        {CFileException::Cause::badPath, "P contains an invalid path."},
        {CFileException::Cause::tooManyOpenFiles, "P could not be opened because there are too many open files."},
        {CFileException::Cause::accessDenied, "Access to P was denied."},
        {CFileException::Cause::invalidFile, "An invalid file handle was associated with P."},
        {CFileException::Cause::removeCurrentDir, "P could not be removed because it is the current directory."},
        {CFileException::Cause::directoryFull, "P could not be created because the directory is full."},
        {CFileException::Cause::badSeek, "Seek failed on P"},
        {CFileException::Cause::hardIO, "A hardware I/O error was reported while accessing P."},
        {CFileException::Cause::sharingViolation, "A sharing violation occurred while accessing P."},
        {CFileException::Cause::lockViolation, "A locking violation occurred while accessing P."},
        {CFileException::Cause::diskFull, "Disk full while accessing P."},
        {CFileException::Cause::endOfFile, "An attempt was made to access P past its end."},
    };
    for (const auto& [cause, text] : expected) {
        EXPECT_EQ(CFileException(cause, 0, "P").ErrorText(), text);
    }
#ifndef _WIN32
    // The system's codes reach their kind through the file system's own taxonomy.
    for (const auto& [code, cause] :
         std::vector<std::pair<int, CFileException::Cause>>{{EMFILE, CFileException::Cause::tooManyOpenFiles},
                                                            {EIO, CFileException::Cause::hardIO},
                                                            {EDQUOT, CFileException::Cause::diskFull},
                                                            {EFBIG, CFileException::Cause::diskFull},
                                                            {ENOLCK, CFileException::Cause::lockViolation},
                                                            {EPROTO, CFileException::Cause::genericException}}) {
        const CFileException e = CFileException::FromError(FsError::FromSystem(code), "P");
        EXPECT_EQ(e.cause, cause) << code;
        EXPECT_EQ(e.osError, code);
    }
#endif
}

} // namespace
