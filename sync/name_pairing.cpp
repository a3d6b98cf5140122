// Pairing source and destination entries by name, with one hash index on the folded names.
#include "sync/name_pairing.h"

#include <string_view>
#include <vector>

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

// Kept whole: the fast in-order pairing and the hashed fallback share one pass.
template <class Source, class Destination>
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
void PairNames(const std::vector<Source>& source, const std::vector<Destination>& destination,
               std::vector<std::int32_t>& pairOfSource, std::vector<char>& destinationPaired,
               const ExactOnly& exactOnly) {
    pairOfSource.assign(source.size(), -1);
    destinationPaired.assign(destination.size(), 0);
    if (source.empty() || destination.empty()) {
        return;
    }
    auto nameAt = [&](std::int32_t j) { return NameOf(destination[static_cast<std::size_t>(j)]); };
    // Two trees on one file system usually list the same names in the same order, and the names
    // of one directory are unique: then every entry pairs with its counterpart, no index needed.
    if (source.size() == destination.size()) {
        std::size_t same = 0;
        while (same < source.size() && NameOf(source[same]) == NameOf(destination[same])) {
            ++same;
        }
        if (same == source.size()) {
            for (std::size_t i = 0; i < source.size(); ++i) {
                pairOfSource[i] = static_cast<std::int32_t>(i);
            }
            destinationPaired.assign(destination.size(), 1);
            return;
        }
    }
    // An open-addressing table of the first destination index of every folded name, at most
    // half full; later entries of the same folded name hang off it in listing order through
    // next. Flat arrays: a level of many entries costs no allocation per entry.
    std::size_t slots = 16;
    while (slots < destination.size() * 2) {
        slots *= 2;
    }
    const std::size_t mask = slots - 1;
    std::vector<std::int32_t> table(slots, -1);
    std::vector<std::int32_t> next(destination.size(), -1);
    std::vector<std::int32_t> last(destination.size(), -1);
    auto slotOf = [&](std::string_view name) -> std::int32_t& {
        for (std::size_t k = FoldedHash(name) & mask;; k = (k + 1) & mask) {
            std::int32_t& slot = table[k];
            if (slot < 0 || EqualNoCase(nameAt(slot), name)) {
                return slot;
            }
        }
    };
    for (std::int32_t j = 0; j < static_cast<std::int32_t>(destination.size()); ++j) {
        std::int32_t& head = slotOf(nameAt(j));
        if (head < 0) {
            head = j;
            last[static_cast<std::size_t>(j)] = j;
        } else {
            next[static_cast<std::size_t>(last[static_cast<std::size_t>(head)])] = j;
            last[static_cast<std::size_t>(head)] = j;
        }
    }
    last = std::vector<std::int32_t>();
    bool anyVariant = false;
    for (std::size_t i = 0; i < source.size(); ++i) {
        const std::string_view name = NameOf(source[i]);
        const std::int32_t head = slotOf(name);
        for (std::int32_t j = head; j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (nameAt(j) == name) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
        anyVariant = anyVariant || (pairOfSource[i] < 0 && head >= 0);
    }
    if (!anyVariant) {
        return;
    }
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (pairOfSource[i] >= 0) {
            continue;
        }
        for (std::int32_t j = slotOf(NameOf(source[i])); j >= 0; j = next[static_cast<std::size_t>(j)]) {
            if (!destinationPaired[static_cast<std::size_t>(j)] && !(exactOnly && exactOnly(nameAt(j)))) {
                pairOfSource[i] = j;
                destinationPaired[static_cast<std::size_t>(j)] = 1;
                break;
            }
        }
    }
}

template void PairNames(const std::vector<FileEntry>&, const std::vector<FileEntry>&, std::vector<std::int32_t>&,
                        std::vector<char>&, const ExactOnly&);
template void PairNames(const std::vector<std::string_view>&, const std::vector<std::string_view>&,
                        std::vector<std::int32_t>&, std::vector<char>&, const ExactOnly&);
