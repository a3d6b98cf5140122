// Reading and writing the .job format: one task per line of tagged fields.
#include "model/job_file.h"

#include <algorithm>
#include <unordered_map>

#include "model/replace_file.h"
#include "model/stdio_file_ex.h"
#include "platform/fs_error.h"
#include "util/texts.h"

namespace {

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

// The tags a job carries only when they differ from their default.
void StoreOptionalField(const std::string& tag, const std::string& value, Task& task) {
    if (tag == "<VERSIONS>") {
        task.versionDays = std::max(0, IntFromText(value));
    } else if (tag == "<VERSIONCOUNT>") {
        task.versionCount = std::max(0, IntFromText(value));
    } else if (tag == "<MOUNTED>") {
        task.mustBeMounted = value == "1";
    } else if (tag == "<LINKS>") {
        const int policy = IntFromText(value);
        task.linkPolicy = policy == 1 ? LinkPolicy::Skip : policy == 2 ? LinkPolicy::CopyTarget : LinkPolicy::Mirror;
    }
}

void StoreField(const std::string& tag, const std::string& value, Task& task) {
    const bool flag = value == "1";
    if (tag == "<NAME>") {
        task.name = value;
    } else if (tag == "<SRC>") {
        task.source = value;
    } else if (tag == "<DST>") {
        task.destination = value;
    } else if (tag == "<EXC>") {
        task.exclusions = value;
    } else if (tag == "<ENA>") {
        task.enabled = flag;
    } else if (tag == "<SAFEMODE>") {
        task.safeMode = flag;
    } else if (tag == "<RECURSE>") {
        task.recurse = flag;
    } else if (tag == "<CHECKOPEN>") {
        task.checkOpen = flag;
    } else if (tag == "<LASTRUN>") {
        task.lastRun = IntFromText(value);
    } else if (tag == "<FAKEIT>") {
        task.fakeIt = flag;
    } else if (tag == "<RENAME>") {
        task.rename = flag;
    } else if (tag == "<EXCLUDEHIDDEN>") {
        task.excludeHidden = flag;
    } else if (tag == "<EXCLUDESYSTEM>") {
        task.excludeSystem = flag;
    } else if (tag == "<EXCLUDEHIDDENDIRS>") {
        task.excludeHiddenDirs = flag;
    } else if (tag == "<EXCLUDESYSTEMDIRS>") {
        task.excludeSystemDirs = flag;
    } else if (tag == "<ONLYIFNEWER>") {
        task.onlyIfNewer = flag;
    } else if (tag == "<COLOUR>") {
        task.colour = static_cast<std::uint32_t>(IntFromText(value));
    } else if (tag == "<ONEHOUR>") {
        task.oneHour = flag;
    } else {
        StoreOptionalField(tag, value, task);
    }
}

std::string Failure(const char* prefix, const std::string& path, const CFileException& e) {
    return prefix + path + "\n\n" + LeadingCharacters(e.ErrorText(), kMessageTextLimit);
}

} // namespace

void ParseJobLine(const std::string& line, Task& task) {
    std::size_t pos = 0;
    while (pos < line.size() && line[pos] == '<') {
        const std::size_t close = line.find('>', pos);
        if (close == std::string::npos) {
            // A "<" without ">" ends the line's fields; what was read so far stays.
            return;
        }
        const std::string tag = Upper(line.substr(pos, close + 1 - pos));
        const std::size_t valueStart = close + 1;
        std::size_t next = line.find('<', valueStart);
        if (next == std::string::npos) {
            next = line.size();
        }
        StoreField(tag, line.substr(valueStart, next - valueStart), task);
        pos = next;
    }
}

std::string JobLine(const Task& t) {
    const auto b = [](bool value) { return value ? "1" : "0"; };
    std::string line;
    line.reserve(256 + t.name.size() + t.source.size() + t.destination.size() + t.exclusions.size());
    line += "<NAME>" + t.name;
    line += "<SRC>" + t.source;
    line += "<DST>" + t.destination;
    line += "<EXC>" + t.exclusions;
    line += std::string("<ENA>") + b(t.enabled);
    line += std::string("<SAFEMODE>") + b(t.safeMode);
    line += std::string("<RECURSE>") + b(t.recurse);
    line += std::string("<CHECKOPEN>") + b(t.checkOpen);
    line += "<LASTRUN>" + std::to_string(t.lastRun);
    line += std::string("<FAKEIT>") + b(t.fakeIt);
    line += std::string("<RENAME>") + b(t.rename);
    line += std::string("<EXCLUDEHIDDEN>") + b(t.excludeHidden);
    line += std::string("<EXCLUDESYSTEM>") + b(t.excludeSystem);
    line += std::string("<EXCLUDEHIDDENDIRS>") + b(t.excludeHiddenDirs);
    line += std::string("<EXCLUDESYSTEMDIRS>") + b(t.excludeSystemDirs);
    line += std::string("<ONLYIFNEWER>") + b(t.onlyIfNewer);
    line += "<COLOUR>" + std::to_string(static_cast<std::int32_t>(t.colour));
    line += std::string("<ONEHOUR>") + b(t.oneHour);
    // Written only when set, so that a job without versions stays what older readers know.
    if (t.versionDays > 0) {
        line += "<VERSIONS>" + std::to_string(t.versionDays);
    }
    if (t.versionCount > 0) {
        line += "<VERSIONCOUNT>" + std::to_string(t.versionCount);
    }
    if (t.mustBeMounted) {
        line += "<MOUNTED>1";
    }
    if (t.linkPolicy != LinkPolicy::Mirror) {
        line += "<LINKS>" + std::to_string(static_cast<std::int32_t>(t.linkPolicy));
    }
    line += "\n";
    return line;
}

bool LoadJob(const std::string& path, TaskList& tasks, std::string& jobPath, IMessagePort& messages, IFileSystem& fs,
             JobForm* form) {
    tasks.clear();
    JobForm read;
    FileStatus st;
    if (const FsError e = fs.Status(path, true, st)) {
        // A job that is not there is an empty job; one we cannot even look at is worth a word.
        if (!e.Is(ErrorKind::NotFound) && !e.Is(ErrorKind::NotADirectory)) {
            messages.MessageBox(Failure("Error reading ", path, CFileException::FromError(e, path)));
        }
        return false;
    }
    CStdioFileEx file(fs);
    CFileException error;
    if (!file.Open(path, CStdioFileEx::modeRead, &error)) {
        messages.MessageBox(Failure("Error reading ", path, error));
        return false;
    }
    try {
        std::string line;
        bool first = true;
        while (file.ReadString(line)) {
            if (first) {
                read.encoding = file.isUnicodeText  ? JobForm::Encoding::Utf16
                                : file.Utf8Marked() ? JobForm::Encoding::Utf8Marked
                                                    : JobForm::Encoding::EightBit;
                read.crLf = file.LastLineCrLf();
                first = false;
            }
            if (line.empty() || line[0] != '<') {
                read.linesAfter.push_back(line);
                continue;
            }
            auto task = std::make_unique<Task>();
            ParseJobLine(line, *task);
            if (!read.linesAfter.empty()) {
                read.linesBefore.emplace_back(task.get(), std::move(read.linesAfter));
                read.linesAfter.clear();
            }
            tasks.push_back(std::move(task));
        }
        file.Close();
    } catch (const CFileException& e) {
        messages.MessageBox(Failure("Error reading ", path, e));
        return false;
    }
    jobPath = path;
    if (form) {
        *form = std::move(read);
    }
    return true;
}

bool SaveJob(const std::string& path, const TaskList& tasks, std::string& jobPath, IMessagePort& messages,
             IFileSystem& fs, const JobForm* form) {
    const JobForm plain;
    const JobForm& f = form ? *form : plain;
    const std::string end = f.crLf ? "\r\n" : "\n";
    std::vector<std::string> text;
    if (f.encoding == JobForm::Encoding::Utf8Marked) {
        text.emplace_back("\xEF\xBB\xBF");
    }
    std::unordered_map<const Task*, std::vector<std::string>> before;
    std::vector<std::string> carried;
    for (const auto& [task, lines] : f.linesBefore) {
        carried.insert(carried.end(), lines.begin(), lines.end());
        const bool present =
            std::any_of(tasks.begin(), tasks.end(), [task = task](const auto& t) { return t.get() == task; });
        if (present) {
            before[task] = std::move(carried);
            carried.clear();
        }
    }
    carried.insert(carried.end(), f.linesAfter.begin(), f.linesAfter.end());
    const auto addLines = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            text.push_back(line + end);
        }
    };
    for (const auto& task : tasks) {
        if (task) {
            if (const auto found = before.find(task.get()); found != before.end()) {
                addLines(found->second);
            }
            std::string line = JobLine(*task);
            line.pop_back();
            text.push_back(line + end);
        }
    }
    addLines(carried);
    unsigned flags = CStdioFileEx::modeCreate | CStdioFileEx::modeWrite;
    if (f.encoding == JobForm::Encoding::Utf16) {
        flags |= CStdioFileEx::modeWriteUnicode;
    }
    try {
        ReplaceFile(
            path, flags,
            [&](CStdioFileEx& file) {
                if (f.encoding == JobForm::Encoding::Utf8Marked) {
                    file.codePage = "UTF-8";
                }
                for (const std::string& piece : text) {
                    file.WriteString(piece);
                }
            },
            fs);
    } catch (const CFileException& e) {
        messages.MessageBox(Failure("Error saving ", path, e));
        return false;
    }
    jobPath = path;
    return true;
}
