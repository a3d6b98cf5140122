// The job reader on any file: it must not fail, and a job it read must save and read back equal.
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
    FUZZ_CHECK(LoadJob(read, tasks, jobPath, messages));
    FUZZ_CHECK(jobPath == read);

    FUZZ_CHECK(SaveJob(saved, tasks, jobPath, messages));
    TaskList again;
    FUZZ_CHECK(LoadJob(saved, again, jobPath, messages));
    FUZZ_CHECK(again.size() == tasks.size());
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        FUZZ_CHECK(*again[i] == *tasks[i]);
    }
    return 0;
}
