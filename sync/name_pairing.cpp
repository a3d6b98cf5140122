// Pairing source and destination entries by name, with one hash index on the folded names.
#include "sync/name_pairing.h"

#include <string_view>
#include <unordered_set>

#include "sync/engine_support.h"

namespace {

std::string_view NameOf(const FileEntry& entry) {
    return entry.name;
}
std::string_view NameOf(std::string_view name) {
    return name;
}

std::size_t FoldedHash(std::string_view name) {
    std::size_t h = 1469598103934665603ull;
    for (char c : name) {
        h = (h ^ static_cast<unsigned char>(FoldAscii(c))) * 1099511628211ull;
    }
    return h;
}

} // namespace

template <class Source, class Destination>
void PairNames(const std::vector<Source>& source, const std::vector<Destination>& destination,
               std::vector<std::int32_t>& pairOfSource, std::vector<char>& destinationPaired) {
    pairOfSource.assign(source.size(), -1);
    destinationPaired.assign(destination.size(), 0);
    if (source.empty() || destination.empty()) {
        return;
    }
    // The set holds the first destination index of every folded name; later entries of the
    // same folded name hang off it in listing order through next. Index -1 stands for the
    // name being looked up.
    std::string_view probe;
    auto nameAt = [&](std::int32_t i) -> std::string_view {
        return i < 0 ? probe : NameOf(destination[static_cast<std::size_t>(i)]);
    };
    auto hash = [&](std::int32_t i) { return FoldedHash(nameAt(i)); };
    auto equal = [&](std::int32_t a, std::int32_t b) { return EqualNoCase(nameAt(a), nameAt(b)); };
    std::unordered_set<std::int32_t, decltype(hash), decltype(equal)> firsts(destination.size() * 2, hash, equal);
    std::vector<std::int32_t> next(destination.size(), -1);
    std::vector<std::int32_t> last(destination.size(), -1);
    for (std::int32_t j = 0; j < static_cast<std::int32_t>(destination.size()); ++j) {
        auto [it, inserted] = firsts.insert(j);
        if (inserted) {
            last[static_cast<std::size_t>(j)] = j;
        } else {
            std::int32_t head = *it;
            next[static_cast<std::size_t>(last[static_cast<std::size_t>(head)])] = j;
            last[static_cast<std::size_t>(head)] = j;
        }
    }
    auto headOf = [&](std::string_view name) -> std::int32_t {
        probe = name;
        auto it = firsts.find(-1);
        return it == firsts.end() ? -1 : *it;
    };
    std::vector<std::int32_t> heads(source.size(), -1);
    bool anyVariant = false;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::string_view name = NameOf(source[i]);
        heads[i] = headOf(name);
        for (std::int32_t j = heads[i]; j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (NameOf(destination[static_cast<std::size_t>(j)]) == name) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
        anyVariant = anyVariant || (pairOfSource[i] < 0 && heads[i] >= 0);
    }
    if (!anyVariant) {
        return;
    }
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (pairOfSource[i] >= 0) {
            continue;
        }
        for (std::int32_t j = heads[i]; j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (!destinationPaired[static_cast<std::size_t>(j)]) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
    }
}

template void PairNames(const std::vector<FileEntry>&, const std::vector<FileEntry>&, std::vector<std::int32_t>&,
                        std::vector<char>&);
template void PairNames(const std::vector<std::string_view>&, const std::vector<std::string_view>&,
                        std::vector<std::int32_t>&, std::vector<char>&);
