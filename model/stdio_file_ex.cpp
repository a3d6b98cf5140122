// CStdioFileEx over the platform's file handles: UTF-16LE with byte-order mark or the locale's 8-bit text,
// converted to and from UTF-8; and the file exception with its texts.
#include "model/stdio_file_ex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/fs_error.h"
#include "platform/locale_text.h"
#include "util/utf8.h"

namespace {

constexpr std::size_t kReadChunk = std::size_t{64} * 1024;
constexpr const char* kReplacementUtf8 = "\xEF\xBF\xBD";

// Valid UTF-8 of text, each malformed byte replaced by `replacement`.
std::string SanitiseUtf8(const std::string& text, const std::string& replacement) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const long cp = DecodeUtf8(text, i);
        if (cp < 0) {
            out += replacement;
        } else {
            out.append(text, start, i - start);
        }
    }
    return out;
}

bool IsUtf8Name(const std::string& charset) {
    std::string name;
    for (char c : charset) {
        if (c != '-' && c != '_') {
            name.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
        }
    }
    return name == "UTF8";
}

} // namespace

std::string Utf8ToUtf16Le(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size() * 2);
    const auto unit = [&](unsigned long u) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    };
    for (std::size_t i = 0; i < utf8.size();) {
        long cp = DecodeUtf8(utf8, i);
        if (cp < 0) {
            cp = 0xFFFD;
        }
        const auto value = static_cast<unsigned long>(cp);
        if (value >= 0x10000) {
            unit(0xD800 + ((value - 0x10000) >> 10));
            unit(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            unit(value);
        }
    }
    return out;
}

std::string Utf16LeToUtf8(const std::u16string& units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const unsigned long u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (static_cast<unsigned long>(units[i + 1]) - 0xDC00));
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out += kReplacementUtf8;
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

// ---- CFileException ------------------------------------------------------------------------

CFileException::CFileException(Cause cause_, int osError_, std::string fileName_)
    : cause(cause_), osError(osError_), fileName(std::move(fileName_)) {}

CFileException::Cause CFileException::CauseOf(ErrorKind kind) {
    using enum Cause;
    switch (kind) {
    case ErrorKind::None:
        return none;
    case ErrorKind::NotFound:
        return fileNotFound;
    case ErrorKind::NotADirectory:
    case ErrorKind::NameTooLong:
    case ErrorKind::IsALink:
        return badPath;
    case ErrorKind::TooManyOpen:
        return tooManyOpenFiles;
    case ErrorKind::AccessDenied:
    case ErrorKind::ReadOnly:
    case ErrorKind::IsADirectory:
    case ErrorKind::Exists:
        return accessDenied;
    case ErrorKind::BadHandle:
        return invalidFile;
    case ErrorKind::DeviceFault:
        return hardIO;
    case ErrorKind::Busy:
        return sharingViolation;
    case ErrorKind::LockFailed:
        return lockViolation;
    case ErrorKind::NoSpace:
        return diskFull;
    default:
        return genericException;
    }
}

CFileException CFileException::FromError(const FsError& error, const std::string& fileName) {
    return CFileException(CauseOf(error.kind), error.code, fileName);
}

std::string CFileException::ErrorText() const {
    const char* pattern = "An unknown error occurred while accessing %1.";
    using enum Cause;
    switch (cause) {
    case none:
        pattern = "No error occurred.";
        break;
    case fileNotFound:
        pattern = "%1 was not found.";
        break;
    case badPath:
        pattern = "%1 contains an invalid path.";
        break;
    case tooManyOpenFiles:
        pattern = "%1 could not be opened because there are too many open files.";
        break;
    case accessDenied:
        pattern = "Access to %1 was denied.";
        break;
    case invalidFile:
        pattern = "An invalid file handle was associated with %1.";
        break;
    case removeCurrentDir:
        pattern = "%1 could not be removed because it is the current directory.";
        break;
    case directoryFull:
        pattern = "%1 could not be created because the directory is full.";
        break;
    case badSeek:
        pattern = "Seek failed on %1";
        break;
    case hardIO:
        pattern = "A hardware I/O error was reported while accessing %1.";
        break;
    case sharingViolation:
        pattern = "A sharing violation occurred while accessing %1.";
        break;
    case lockViolation:
        pattern = "A locking violation occurred while accessing %1.";
        break;
    case diskFull:
        pattern = "Disk full while accessing %1.";
        break;
    case endOfFile:
        pattern = "An attempt was made to access %1 past its end.";
        break;
    case notRegularFile:
        pattern = "%1 is not a regular file.";
        break;
    case symbolicLink:
        pattern = "%1 is a symbolic link, which is not followed here.";
        break;
    default:
        break;
    }
    std::string text = pattern;
    const std::size_t at = text.find("%1");
    if (at != std::string::npos) {
        text.replace(at, 2, fileName);
    }
    return text;
}

const char* CFileException::what() const noexcept {
    try {
        whatText = ErrorText();
        return whatText.c_str();
    } catch (...) {
        return "file error";
    }
}

// ---- CStdioFileEx --------------------------------------------------------------------------

CStdioFileEx::CStdioFileEx(IFileSystem& fileSystem) : fs(&fileSystem) {}

CStdioFileEx::~CStdioFileEx() = default;

void CStdioFileEx::Attach(FileHandle&& opened, const std::string& path, unsigned flags) {
    file = std::move(opened);
    readPos = readEnd = 0;
    position = 0;
    filePath = path;
    isUnicodeText = (flags & modeWriteUnicode) != 0;
    utf8Marked = false;
    openFlags = (flags & ~static_cast<unsigned>(typeText)) | typeBinary;
}

void CStdioFileEx::Throw(const FsError& error) const {
    throw CFileException::FromError(error, filePath);
}

bool CStdioFileEx::Open(const std::string& path, unsigned flags, CFileException* error) {
    file.Close();
    readPos = readEnd = 0;
    position = 0;
    filePath = path;
    isUnicodeText = (flags & modeWriteUnicode) != 0;
    utf8Marked = false;
    // Line ends are never translated.
    flags = (flags & ~static_cast<unsigned>(typeText)) | typeBinary;
    openFlags = flags;

    FileOpenMode mode;
    switch (flags & 3u) {
    case modeWrite:
        mode.access = FileAccess::Write;
        break;
    case modeReadWrite:
        mode.access = FileAccess::ReadWrite;
        break;
    default:
        mode.access = FileAccess::Read;
        break;
    }
    mode.create = (flags & modeCreate) != 0;
    mode.noFollow = (flags & modeNoFollow) != 0;
    mode.regularOnly = true;
    const auto fail = [&](const FsError& failure) {
        file.Close();
        if (error) {
            *error = CFileException::FromError(failure, path);
            if (failure.Is(ErrorKind::NotSupported)) {
                error->cause = CFileException::Cause::notRegularFile;
            } else if (failure.Is(ErrorKind::IsALink) && mode.noFollow) {
                error->cause = CFileException::Cause::symbolicLink;
            }
        }
        return false;
    };

    if (FsError e = fs->OpenFile(path, mode, file)) {
        return fail(e);
    }
    OpenFileInfo info;
    if (FsError e = fs->FileInfo(file, info)) {
        return fail(e);
    }
    if ((flags & shareExclusive)) {
        if (FsError e = fs->LockWholeFile(file, false)) {
            return fail(e);
        }
    }
    // Truncated only now, so that a file someone else holds is not emptied by a refused open.
    if ((flags & modeCreate) && !(flags & modeNoTruncate) && info.regular) {
        if (FsError e = fs->TruncateFile(file, 0)) {
            return fail(e);
        }
    }
    if (!(flags & (modeCreate | modeWrite))) {
        unsigned char bom[3] = {0, 0, 0};
        std::size_t n = 0;
        const bool read = !fs->ReadFileDataAt(file, 0, bom, 3, n);
        isUnicodeText = read && n >= 2 && bom[0] == 0xFF && bom[1] == 0xFE;
        utf8Marked = read && n == 3 && bom[0] == 0xEF && bom[1] == 0xBB && bom[2] == 0xBF;
        checkBomOnRead = true;
    }
    return true;
}

bool CStdioFileEx::Fill() {
    if (readBuffer.size() < kReadChunk) {
        readBuffer.resize(kReadChunk);
    }
    std::size_t n = 0;
    if (FsError e = fs->ReadFileData(file, readBuffer.data(), readBuffer.size(), n)) {
        Throw(e);
    }
    readPos = 0;
    readEnd = n;
    position += static_cast<std::uint64_t>(n);
    return n > 0;
}

void CStdioFileEx::DropReadBuffer() {
    if (readPos < readEnd) {
        const std::uint64_t logical = GetPosition();
        std::uint64_t at = 0;
        if (FsError e = fs->SeekFile(file, static_cast<std::int64_t>(logical), SeekOrigin::Begin, at)) {
            Throw(e);
        }
        position = logical;
    }
    readPos = readEnd = 0;
}

// Kept whole: one loop over the buffer for both encodings and every line end.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
bool CStdioFileEx::ReadString(std::string& line) {
    line.clear();
    if (!file.IsOpen()) {
        Throw(FsError::OfKind(ErrorKind::BadHandle));
    }
    try {
        const bool atStart = checkBomOnRead && GetPosition() == 0;
        if (atStart && isUnicodeText) {
            for (int skipped = 0; skipped < 2; ++skipped) {
                if (readPos == readEnd && !Fill()) {
                    break;
                }
                ++readPos;
            }
        }
        std::string raw;
        bool gotAny = false;
        bool done = false;
        while (!done) {
            if (readPos == readEnd && !Fill()) {
                break;
            }
            gotAny = true;
            const char* buf = readBuffer.data();
            if (!isUnicodeText) {
                const void* lf = std::memchr(buf + readPos, '\n', readEnd - readPos);
                std::size_t end = readEnd;
                if (lf) {
                    end = static_cast<std::size_t>(static_cast<const char*>(lf) - buf) + 1;
                    done = true;
                }
                raw.append(buf + readPos, end - readPos);
                readPos = end;
                continue;
            }
            if (raw.size() % 2 == 1) {
                // The second byte of a unit that straddled the buffer's end.
                raw.push_back(buf[readPos++]);
                done = raw[raw.size() - 2] == '\n' && raw.back() == '\0';
                continue;
            }
            std::size_t i = readPos;
            while (i + 1 < readEnd) {
                if (buf[i] == '\n' && buf[i + 1] == '\0') {
                    i += 2;
                    done = true;
                    break;
                }
                i += 2;
            }
            if (!done) {
                i = readEnd;
            }
            raw.append(buf + readPos, i - readPos);
            readPos = i;
        }
        if (!gotAny) {
            return false;
        }
        if (isUnicodeText) {
            // A last odd byte is half a unit of a truncated file: nothing to show for it.
            std::u16string units(raw.size() / 2, u'\0');
            for (std::size_t k = 0; k < units.size(); ++k) {
                units[k] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * k]) |
                                                 (static_cast<unsigned char>(raw[2 * k + 1]) << 8));
            }
            raw.clear();
            lastLineCrLf = false;
            if (!units.empty() && units.back() == u'\n') {
                units.pop_back();
                lastLineCrLf = !units.empty() && units.back() == u'\r';
            }
            if (!units.empty() && units.back() == u'\r') {
                units.pop_back();
            }
            const std::size_t nul = units.find(u'\0');
            if (nul != std::u16string::npos) {
                units.erase(nul);
            }
            line = Utf16LeToUtf8(units);
        } else {
            lastLineCrLf = false;
            if (!raw.empty() && raw.back() == '\n') {
                raw.pop_back();
                lastLineCrLf = !raw.empty() && raw.back() == '\r';
            }
            if (!raw.empty() && raw.back() == '\r') {
                raw.pop_back();
            }
            const std::size_t nul = raw.find('\0');
            if (nul != std::string::npos) {
                raw.erase(nul);
            }
            line = DecodeNarrow(raw);
            // Editors save UTF-8 with a byte-order mark; left in, it would spoil the first line.
            if (atStart && utf8Marked && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
                line.erase(0, 3);
            }
        }
    } catch (const std::bad_alloc&) {
        // A line too long to hold is treated like the end of the file.
        line.clear();
        return false;
    }
    checkBomOnRead = false;
    return true;
}

void CStdioFileEx::WriteBytes(const char* data, std::size_t size) {
    std::size_t written = 0;
    const FsError e = fs->WriteFileData(file, data, size, written);
    position += static_cast<std::uint64_t>(written);
    if (e) {
        Throw(e);
    }
}

void CStdioFileEx::WriteString(const std::string& text) {
    if (!file.IsOpen()) {
        Throw(FsError::OfKind(ErrorKind::BadHandle));
    }
    DropReadBuffer();
    std::string bytes;
    if (openFlags & modeWriteUnicode) {
        if (writeBom && GetPosition() == 0) {
            bytes = "\xFF\xFE";
        }
        bytes += Utf8ToUtf16Le(text);
    } else {
        bytes = EncodeNarrow(text);
    }
    WriteBytes(bytes.data(), bytes.size());
}

void CStdioFileEx::AppendWhole(const std::string& text) {
    const std::uint64_t end = SeekToEnd();
    try {
        WriteString(text);
    } catch (const CFileException&) {
        // Best effort: the write's own failure is the one to report.
        if (!fs->TruncateFile(file, end)) {
            std::uint64_t at = 0;
            (void)fs->SeekFile(file, static_cast<std::int64_t>(end), SeekOrigin::Begin, at);
            position = end;
        }
        throw;
    }
}

std::uint64_t CStdioFileEx::Seek(std::int64_t offset, int origin) {
    if (!file.IsOpen()) {
        Throw(FsError::OfKind(ErrorKind::BadHandle));
    }
    if (origin == SEEK_CUR) {
        offset += static_cast<std::int64_t>(GetPosition());
        origin = SEEK_SET;
    }
    readPos = readEnd = 0;
    const SeekOrigin from = origin == SEEK_END ? SeekOrigin::End : SeekOrigin::Begin;
    std::uint64_t result = 0;
    if (FsError e = fs->SeekFile(file, offset, from, result)) {
        CFileException failure = CFileException::FromError(e, filePath);
        // A position before the start, or past what the file can hold, is a bad seek, not some unknown error.
        if (e.Is(ErrorKind::Other)) {
            failure.cause = CFileException::Cause::badSeek;
        }
        throw failure;
    }
    position = result;
    checkBomOnRead = true;
    return position;
}

std::uint64_t CStdioFileEx::SeekToEnd() {
    return Seek(0, SEEK_END);
}

std::uint64_t CStdioFileEx::GetPosition() const {
    return position - (readEnd - readPos);
}

void CStdioFileEx::Sync() {
    if (!file.IsOpen()) {
        Throw(FsError::OfKind(ErrorKind::BadHandle));
    }
    // Pipes and character devices cannot be synchronised; the file system counts that as done.
    if (FsError e = fs->SyncFile(file)) {
        Throw(e);
    }
}

void CStdioFileEx::Close() {
    if (!file.IsOpen()) {
        return;
    }
    const FsError e = fs->CloseFile(file);
    readPos = readEnd = 0;
    if (e) {
        Throw(e);
    }
}

std::string CStdioFileEx::EffectiveCharset() const {
    if (!codePage.empty()) {
        return codePage;
    }
    std::string name = LocaleCharset();
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "646") {
        return "UTF-8";
    }
    return name;
}

std::string CStdioFileEx::DecodeNarrow(const std::string& bytes) {
    const std::string charset = utf8Marked ? std::string("UTF-8") : EffectiveCharset();
    if (IsUtf8Name(charset)) {
        return SanitiseUtf8(bytes, kReplacementUtf8);
    }
    std::string out;
    const bool converted = ConvertCharset(charset, "UTF-8", bytes, out, [](std::size_t, std::string& output) {
        output += kReplacementUtf8;
        return std::size_t{1};
    });
    return converted ? out : SanitiseUtf8(bytes, kReplacementUtf8);
}

std::string CStdioFileEx::EncodeNarrow(const std::string& utf8) {
    const std::string replacement(1, defaultChar);
    std::string valid = SanitiseUtf8(utf8, replacement);
    const std::string charset = EffectiveCharset();
    if (IsUtf8Name(charset)) {
        return valid;
    }
    std::string out;
    const bool converted = ConvertCharset("UTF-8", charset, valid, out, [&](std::size_t at, std::string& output) {
        // The character at `at` has no form in the target set: one replacement for all its bytes.
        output += replacement;
        std::size_t next = at;
        DecodeUtf8(valid, next);
        return next - at;
    });
    return converted ? out : valid;
}
