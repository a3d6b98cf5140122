// CStdioFileEx: the one text-file class. It reads and writes line-oriented text as UTF-16LE with
// a byte-order mark or as the locale's 8-bit text, through the platform's file system; strings
// outside it are UTF-8. CFileException is the failure it raises, carrying the kind, the system's code
// and the path.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "platform/file_system.h"

class CFileException : public std::exception {
public:
    enum class Cause {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
        notRegularFile, // a fifo, device or socket where a file of the program's own belongs
        symbolicLink    // a link where the program never follows one
    };

    CFileException() = default;
    CFileException(Cause cause, int osError, std::string fileName);
    // The kind of failure for a file system's failure.
    static Cause CauseOf(ErrorKind kind);
    static CFileException FromError(const FsError& error, const std::string& fileName);

    Cause cause = Cause::none;
    int osError = 0; // the system's code, for its text
    std::string fileName;

    // The kind's text with the path in place of %1.
    std::string ErrorText() const;
    const char* what() const noexcept override;

private:
    mutable std::string whatText;
};

class CStdioFileEx {
public:
    enum : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        // No other opener: an exclusive non-blocking flock; a busy file fails the open with
        // sharingViolation.
        shareExclusive = 0x0010,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        modeWriteUnicode = 0x200000,
        // A symbolic link as the last component is refused (symbolicLink), never written through.
        modeNoFollow = 0x400000
    };

    explicit CStdioFileEx(IFileSystem& fileSystem);
    ~CStdioFileEx(); // closes an open file, never throws
    CStdioFileEx(const CStdioFileEx&) = delete;
    CStdioFileEx& operator=(const CStdioFileEx&) = delete;

    // Without an error record a failed Open returns false and throws nothing; with one it fills
    // it. An open file is closed first. Anything but a regular file is refused (notRegularFile)
    // without waiting for a fifo's other end.
    bool Open(const std::string& path, unsigned flags, CFileException* error = nullptr);
    // The next line in UTF-8, without its line feed and one carriage return before it; false at
    // end of file. Throws CFileException on a read error.
    bool ReadString(std::string& line);
    // Writes UTF-8 text as it stands (the caller supplies line ends), straight to the descriptor.
    // Throws CFileException.
    void WriteString(const std::string& text);
    // Writes text at the end of the file. A write that fails part-way is cut back, so that the
    // file never ends in a torn line that a retry would follow with the whole text again. Throws
    // CFileException.
    void AppendWhole(const std::string& text);
    std::uint64_t Seek(std::int64_t offset, int origin);
    std::uint64_t SeekToEnd();
    std::uint64_t GetPosition() const;
    // Forces written data to the device; throws CFileException. Used before a file replaces
    // another, so that a crash cannot leave an empty file under the final name.
    void Sync();
    // Throws CFileException on a failed close; the descriptor is released either way.
    void Close();
    bool IsOpen() const { return file.IsOpen(); }
    // Takes over a file opened elsewhere (as by an exclusive create) with the flags of Open.
    void Attach(FileHandle&& opened, const std::string& path, unsigned flags);
    // Records the path used in error texts.
    void SetFilePath(const std::string& path) { filePath = path; }
    const std::string& GetFilePath() const { return filePath; }

    bool isUnicodeText = false;
    unsigned openFlags = 0;
    // Character set of 8-bit text as ConvertCharset names it; empty means the locale's (a plain ASCII
    // locale counts as UTF-8, so a program started without a locale keeps non-ASCII names).
    std::string codePage;
    char defaultChar = '#';
    bool writeBom = true;
    bool checkBomOnRead = true;
    // Whether the 8-bit text being read began with UTF-8's byte-order mark.
    bool Utf8Marked() const { return utf8Marked; }
    // Whether the last line read ended in a carriage return and line feed.
    bool LastLineCrLf() const { return lastLineCrLf; }

private:
    void Throw(const FsError& error) const;
    // Fills the read buffer; false at end of file.
    bool Fill();
    // Gives the descriptor back the position of the first unread byte before a write or seek.
    void DropReadBuffer();
    void WriteBytes(const char* data, std::size_t size);
    std::string DecodeNarrow(const std::string& bytes);
    std::string EncodeNarrow(const std::string& utf8);
    std::string EffectiveCharset() const;

    IFileSystem* fs;
    FileHandle file;
    // 8-bit text that begins with UTF-8's byte-order mark is UTF-8, whatever the locale's set.
    bool utf8Marked = false;
    bool lastLineCrLf = false;
    std::string filePath;
    // The descriptor's own offset; the logical position lags it by the unread buffered bytes.
    std::uint64_t position = 0;
    std::vector<char> readBuffer;
    std::size_t readPos = 0;
    std::size_t readEnd = 0;
};

// UTF-8 <-> UTF-16LE bytes, with U+FFFD for what does not decode. Exposed for tests and for
// the rare caller that needs the file form of a text.
std::string Utf8ToUtf16Le(const std::string& utf8);
std::string Utf16LeToUtf8(const std::u16string& units);
