// Formatting and appending the summary log line.
#include "run/summary_log.h"

#include "model/stdio_file_ex.h"
#include "platform/fs_error.h"
#include "util/texts.h"

std::string SummaryLine(const std::string& jobPath, const std::string& taskLabel, const std::tm& when,
                        const RunStats& stats, std::int32_t seconds) {
    auto n = [](long long value) { return std::to_string(value); };
    std::string line = jobPath + "," + taskLabel;
    for (long long value : {when.tm_year + 1900LL, when.tm_mon + 1LL, static_cast<long long>(when.tm_mday),
                            static_cast<long long>(when.tm_hour), static_cast<long long>(when.tm_min),
                            static_cast<long long>(when.tm_sec), static_cast<long long>(stats.changed),
                            static_cast<long long>(stats.same), static_cast<long long>(stats.deleted),
                            static_cast<long long>(stats.skipped), static_cast<long long>(stats.newFiles),
                            static_cast<long long>(stats.saved), static_cast<long long>(stats.errors)}) {
        line += "," + n(value);
    }
    line += "," + stats.bytesNew.ToString() + "," + stats.bytesChanged.ToString() + "," + n(seconds) + "," +
            n(stats.sourceCount) + "," + stats.sourceSize.ToString() + "\r\n";
    return line;
}

bool AppendSummaryLine(const std::string& path, const std::string& line, IMessagePort& messages, IFileSystem& fs) {
    auto report = [&](const CFileException& error) {
        messages.MessageBox("Error writing to summary:\n\n" + LeadingCharacters(error.ErrorText(), kMessageTextLimit));
    };
    CStdioFileEx file(fs);
    CFileException error;
    if (!file.Open(path,
                   CStdioFileEx::modeReadWrite | CStdioFileEx::modeCreate | CStdioFileEx::modeNoTruncate |
                       CStdioFileEx::typeText | CStdioFileEx::modeNoFollow,
                   &error)) {
        report(error);
        return false;
    }
    try {
        file.AppendWhole(line);
        file.Close();
    } catch (const CFileException& failure) {
        report(failure);
        return false;
    }
    return true;
}
