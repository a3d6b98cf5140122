// The exclusion matcher on any list, path and file name (NUL-separated parts: list, source,
// drive letter, directory path, file name, directory of the file). It must not fail, and a
// directory or file named exactly in the list must be excluded however the list reads otherwise.
#include <cstddef>
#include <cstdint>

#include "sync/engine_support.h"
#include "sync/exclusions.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> parts = fuzz::Split(std::string(reinterpret_cast<const char*>(data), size), '\0');
    parts.resize(6);
    const std::string& list = parts[0];
    const std::string& directory = parts[3];
    const std::string& name = parts[4];
    const std::string& parent = parts[5];

    const std::string normalised = NormaliseExclusions(list, parts[1], parts[2]);
    // Names are kept as given: valid text stays valid, whatever is substituted into it.
    if (fuzz::IsUtf8(list) && fuzz::IsUtf8(parts[1]) && fuzz::IsUtf8(parts[2])) {
        FUZZ_CHECK(fuzz::IsUtf8(normalised));
    }
    DirectoryExclusion(normalised, directory);
    FileEntry file;
    file.name = name;
    file.hidden = (size & 1) != 0;
    file.system = (size & 2) != 0;
    const bool included = IsIncluded(file, normalised, parent, false, false);
    if (file.hidden) {
        FUZZ_CHECK(!IsIncluded(file, normalised, parent, false, true));
    }
    if (file.system) {
        FUZZ_CHECK(!IsIncluded(file, normalised, parent, true, false));
    }

    // A list item is a whole name unless it holds ';', the item separator.
    if (!directory.empty() && directory.find(';') == std::string::npos) {
        FUZZ_CHECK(DirectoryExclusion(normalised + ";" + directory, directory) == ExclusionResult::ExcludedExactly);
        FUZZ_CHECK(DirectoryExclusion(directory + ";" + normalised, directory) == ExclusionResult::ExcludedExactly);
        FUZZ_CHECK(DirectoryExclusion(directory + "*", directory) != ExclusionResult::NotExcluded);
    }
    if (!name.empty() && name.find(';') == std::string::npos) {
        FUZZ_CHECK(!IsIncluded(file, normalised + ";" + name, parent, false, false));
        FUZZ_CHECK(!IsIncluded(file, name, parent, false, false));
        // A whole path names the file too, when no part of it reads as a wildcard.
        if (name.find('*') == std::string::npos && parent.find_first_of(";*") == std::string::npos) {
            FUZZ_CHECK(!IsIncluded(file, JoinPath(parent, name), parent, false, false));
        }
    }
    if (normalised.empty()) {
        FUZZ_CHECK(included);
    }
    return 0;
}
