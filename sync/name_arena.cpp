// Block allocation for listing names.
#include "sync/name_arena.h"

#include <cstring>

namespace {

// Small levels take one small block; a large level's blocks grow to a size where the block
// count stays low without wasting much on the last one.
constexpr std::size_t kFirstBlock = 512;
constexpr std::size_t kLargestBlock = std::size_t{64} * 1024;

} // namespace

std::string_view CNameArena::Add(std::string_view name) {
    const std::size_t need = name.size() + 1;
    if (need > left_) {
        std::size_t size = blocks_.empty() ? kFirstBlock : blocks_.back().size * 2;
        if (size > kLargestBlock) {
            size = kLargestBlock;
        }
        if (size < need) {
            size = need;
        }
        blocks_.push_back(Block{std::make_unique_for_overwrite<char[]>(size), size, 0});
        free_ = blocks_.back().bytes.get();
        left_ = size;
        capacity_ += size;
    }
    char* start = free_;
    if (!name.empty()) {
        std::memcpy(start, name.data(), name.size());
    }
    start[name.size()] = '\0';
    free_ += need;
    left_ -= need;
    blocks_.back().used += need;
    return {start, name.size()};
}

void CNameArena::Clear() {
    blocks_.clear();
    blocks_.shrink_to_fit();
    free_ = nullptr;
    left_ = 0;
    capacity_ = 0;
}
