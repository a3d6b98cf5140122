// The text reader on any file. The first byte chooses the form: bits 0-1 the character set of
// 8-bit text (the locale's, CP1252, KOI8-R) or UTF-16 (the byte-order mark is written here), bits 2-5
// all set a filler line that puts the rest across the end of the reader's first buffer, the second byte
// how far. Every line read must be UTF-8 without line feed or NUL, and the lines written back in
// the form read must read back equal.
#include <cstddef>
#include <cstdint>

#include "model/stdio_file_ex.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::size_t kReadBuffer = 64 * 1024;

std::vector<std::string> ReadLines(const std::string& path, const std::string& codePage, bool& unicode, bool& marked) {
    CStdioFileEx file(NativeFileSystem());
    file.codePage = codePage;
    FUZZ_CHECK(file.Open(path, CStdioFileEx::modeRead));
    unicode = file.isUnicodeText;
    marked = file.Utf8Marked();
    std::vector<std::string> lines;
    std::string line;
    while (file.ReadString(line)) {
        lines.push_back(line);
    }
    file.Close();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    static const char* const kCodePages[] = {"", "CP1252", "KOI8-R"};
    const unsigned form = data[0] & 3u;
    const bool utf16 = form == 3;
    const std::string codePage = utf16 ? "" : kCodePages[form];
    const bool filler = (data[0] & 0x3Cu) == 0x3Cu;
    std::string bytes;
    if (utf16) {
        bytes = "\xFF\xFE";
    }
    if (filler) {
        const std::size_t before = kReadBuffer - bytes.size() - 2 * data[1];
        const std::string line = std::string(utf16 ? before / 2 - 1 : before - 1, 'f') + "\n";
        bytes += utf16 ? Utf8ToUtf16Le(line) : line;
    }
    bytes.append(reinterpret_cast<const char*>(data) + 2, size - 2);
    const std::string path = fuzz::Scratch("read.txt");
    fuzz::WriteBytes(path, bytes);

    bool unicode = false;
    bool marked = false;
    const std::vector<std::string> lines = ReadLines(path, codePage, unicode, marked);
    // The filler line has served once read: the round trip leaves it out, for speed.
    const std::vector<std::string> kept(lines.begin() + (filler && !lines.empty() ? 1 : 0), lines.end());
    bool replaced = false;
    for (const std::string& line : kept) {
        FUZZ_CHECK(fuzz::IsUtf8(line));
        FUZZ_CHECK(line.find('\n') == std::string::npos && line.find('\0') == std::string::npos);
        replaced = replaced || line.find("\xEF\xBF\xBD") != std::string::npos;
    }

    // An undecodable byte of a legacy set is shown as U+FFFD, which that set cannot store.
    if (replaced && !unicode && !marked && !codePage.empty()) {
        return 0;
    }
    const std::string written = fuzz::Scratch("written.txt");
    {
        // Text read as UTF-8 for its byte-order mark is written back so, as a job is.
        CStdioFileEx file(NativeFileSystem());
        file.codePage = marked ? "UTF-8" : codePage;
        FUZZ_CHECK(file.Open(written, CStdioFileEx::modeCreate | CStdioFileEx::modeWrite |
                                          (unicode ? CStdioFileEx::modeWriteUnicode : 0u)));
        if (marked) {
            file.WriteString("\xEF\xBB\xBF");
        }
        for (const std::string& line : kept) {
            file.WriteString(line + "\r\n");
        }
        file.Close();
    }
    bool unicodeAgain = false;
    bool markedAgain = false;
    const std::vector<std::string> again = ReadLines(written, codePage, unicodeAgain, markedAgain);
    if (!unicode && (unicodeAgain || (markedAgain && !marked))) {
        return 0; // 8-bit text whose first bytes are those of a UTF-16 or UTF-8 byte-order mark
    }
    FUZZ_CHECK(again == kept);
    FUZZ_CHECK(unicodeAgain == unicode || kept.empty());
    FUZZ_CHECK(markedAgain == marked);
    return 0;
}
