// The command line on any text, read both ways: as the joined text, and as the argument vector
// (NUL-separated arguments) that the program checks strictly. Neither may fail; a refusal says
// why, an accepted vector has no error and names a job; a job path handed over by -file reaches
// the text reader whole.
#include <cstddef>
#include <cstdint>

#include "app/command_line.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

const std::string kProgram = "/usr/bin/pemo";

std::string JoinedWithProgram(const std::vector<std::string>& args) {
    std::vector<const char*> argv{kProgram.c_str()};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    return JoinArguments(static_cast<int>(argv.size()), argv.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const StartOptions parsed = ParseCommandLine(text, kProgram);
    FUZZ_CHECK(!parsed.startJobFile.empty());
    FUZZ_CHECK(parsed.driveLetter.size() <= 4);
    FUZZ_CHECK(parsed.maxDelete >= -1);

    const std::vector<std::string> args = fuzz::Split(text, '\0');
    const CheckedArguments checked = CheckArguments(args, kProgram, NativeFileSystem());
    if (checked.verdict == ArgumentsVerdict::Refused) {
        FUZZ_CHECK(!checked.error.empty());
    } else if (checked.verdict == ArgumentsVerdict::Run) {
        FUZZ_CHECK(checked.options.error.empty());
        FUZZ_CHECK(!checked.options.startJobFile.empty());
        FUZZ_CHECK(checked.options.driveLetter.size() <= 4);
        FUZZ_CHECK(checked.options.maxDelete >= -1);
    }

    // Whatever a job path spells, it turns on nothing and is the job.
    if (!args.back().empty()) {
        const CheckedArguments named = CheckArguments({"-file", args.back()}, kProgram, NativeFileSystem());
        FUZZ_CHECK(named.verdict == ArgumentsVerdict::Run);
        const StartOptions& o = named.options;
        FUZZ_CHECK(o.startJobFile == args.back());
        FUZZ_CHECK(!o.show && !o.runAll && !o.stay && !o.shutdown && !o.ignoreErrors && !o.dateLog &&
                   !o.logExclusions && !o.noBalloon && !o.autoRun && !o.showDetLog && !o.fakeIt);
        FUZZ_CHECK(o.driveLetter.empty() && o.maxDelete == -1);
    }

    // Any name without a double quote, alone after -file, comes back as it was given.
    const std::string& name = args.back();
    if (!name.empty() && name.find('"') == std::string::npos) {
        FUZZ_CHECK(ParseCommandLine(JoinedWithProgram({"-file", name}), kProgram).startJobFile == name);
    }
    return 0;
}
