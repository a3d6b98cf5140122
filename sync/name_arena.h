// CNameArena: the names of one listing, kept in a few large blocks instead of one heap string
// per entry. A name, once added, stays where it is until the arena is cleared, so views of it
// stay valid while more names are added.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

class CNameArena {
public:
    CNameArena() = default;
    CNameArena(const CNameArena&) = delete;
    CNameArena& operator=(const CNameArena&) = delete;
    CNameArena(CNameArena&&) = default;
    CNameArena& operator=(CNameArena&&) = default;

    // A copy of name, followed by a NUL that the view does not include.
    std::string_view Add(std::string_view name);
    // Frees every block; views handed out before are dangling afterwards.
    void Clear();
    // Bytes held in blocks, used or not.
    std::size_t Capacity() const { return capacity_; }
    // Calls visit with each name, in the order they were added; names must hold no NUL, as no
    // listed name does.
    template <class Visit>
    void ForEach(Visit&& visit) const {
        for (const Block& block : blocks_) {
            const char* at = block.bytes.get();
            const char* end = at + block.used;
            while (at < end) {
                const std::string_view name(at);
                visit(name);
                at += name.size() + 1;
            }
        }
    }

private:
    struct Block {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };
    std::vector<Block> blocks_;
    char* free_ = nullptr;
    std::size_t left_ = 0;
    std::size_t capacity_ = 0;
};
