// The job reader on any file: it must not fail, a job it read must save and read back equal, and
// a job in UTF-8 must read as the same job in UTF-16.
#include <cstddef>
#include <cstdint>

#include "model/job_file.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string read = fuzz::Scratch("read.job");
    const std::string saved = fuzz::Scratch("saved.job");
    fuzz::WriteBytes(read, std::string(reinterpret_cast<const char*>(data), size));
    fuzz::QuietMessages messages;
    TaskList tasks;
    std::string jobPath;
    FUZZ_CHECK(LoadJob(read, tasks, jobPath, messages, NativeFileSystem()));
    FUZZ_CHECK(jobPath == read);

    const std::string text(reinterpret_cast<const char*>(data), size);
    if (fuzz::IsUtf8(text) && text.find('\0') == std::string::npos && text.compare(0, 2, "\xFF\xFE") != 0 &&
        text.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        const std::string wide = fuzz::Scratch("wide.job");
        fuzz::WriteBytes(wide, "\xFF\xFE" + Utf8ToUtf16Le(text));
        TaskList same;
        FUZZ_CHECK(LoadJob(wide, same, jobPath, messages, NativeFileSystem()));
        FUZZ_CHECK(same.size() == tasks.size());
        for (std::size_t i = 0; i < tasks.size(); ++i) {
            FUZZ_CHECK(*same[i] == *tasks[i]);
        }
    }

    FUZZ_CHECK(SaveJob(saved, tasks, jobPath, messages, NativeFileSystem()));
    TaskList again;
    FUZZ_CHECK(LoadJob(saved, again, jobPath, messages, NativeFileSystem()));
    FUZZ_CHECK(again.size() == tasks.size());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        FUZZ_CHECK(*again[i] == *tasks[i]);
    }
    return 0;
}
