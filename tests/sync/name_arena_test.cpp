// The listing's name arena and name pairing over names kept in it: views that survive growth,
// names of any length and byte, exact names before case variants.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sync/name_arena.h"
#include "sync/name_pairing.h"

namespace {

std::vector<std::string_view> AddAll(CNameArena& arena, const std::vector<std::string>& names) {
    std::vector<std::string_view> views;
    for (const std::string& name : names) {
        views.push_back(arena.Add(name));
    }
    return views;
}

TEST(NameArena, GivesBackEveryNameInOrderAcrossBlocks) {
    CNameArena arena;
    std::vector<std::string> names;
    for (int i = 0; i < 5000; ++i) {
        names.push_back("entry-" + std::to_string(i));
    }
    names.insert(names.begin() + 1000, std::string(100000, 'L')); // a block of its own
    names.insert(names.begin() + 10, "");
    AddAll(arena, names);
    std::vector<std::string> seen;
    arena.ForEach([&](std::string_view name) { seen.emplace_back(name); });
    EXPECT_EQ(seen, names);
    arena.Clear();
    seen.clear();
    arena.ForEach([&](std::string_view name) { seen.emplace_back(name); });
    EXPECT_TRUE(seen.empty());
}

TEST(NameArena, ViewsStayValidWhileTheArenaGrows) {
    CNameArena arena;
    std::vector<std::string> names;
    for (int i = 0; i < 20000; ++i) {
        names.push_back("file-" + std::to_string(i));
    }
    names.push_back(std::string(200000, 'L')); // longer than any block
    names.push_back("");
    names.push_back(std::string("nul\0inside", 10));
    names.push_back("\xff\xfe not UTF-8 \x80");
    names.push_back("after-the-long-one");
    const std::vector<std::string_view> views = AddAll(arena, names);
    ASSERT_EQ(views.size(), names.size());
    for (std::size_t i = 0; i < names.size(); ++i) {
        ASSERT_EQ(views[i], names[i]) << i;
        EXPECT_EQ(views[i].data()[views[i].size()], '\0') << "each name ends in a NUL for the system calls";
    }
    EXPECT_GE(arena.Capacity(), 200001u);
    arena.Clear();
    EXPECT_EQ(arena.Capacity(), 0u);
    EXPECT_EQ(arena.Add("again"), "again");
}

// Pairs names kept in two arenas and returns, per source name, the destination name it took
// ("-" for none).
std::vector<std::string> Paired(const std::vector<std::string>& source, const std::vector<std::string>& destination,
                                std::vector<char>& destinationTaken) {
    CNameArena sourceNames;
    CNameArena destinationNames;
    const auto s = AddAll(sourceNames, source);
    const auto d = AddAll(destinationNames, destination);
    std::vector<std::int32_t> pairOfSource;
    PairNames(s, d, pairOfSource, destinationTaken);
    std::vector<std::string> result;
    for (std::int32_t j : pairOfSource) {
        result.push_back(j < 0 ? "-" : destination[static_cast<std::size_t>(j)]);
    }
    return result;
}

TEST(PairNames, ExactNamesFirstThenAsciiCaseVariantsOverArenaNames) {
    std::vector<char> taken;
    // "README" has its exact twin later in the listing; "readme" must not take it first.
    EXPECT_EQ(Paired({"readme", "README", "Notes.TXT", "new"}, {"README", "readme", "notes.txt", "extra"}, taken),
              (std::vector<std::string>{"readme", "README", "notes.txt", "-"}));
    EXPECT_EQ(taken, (std::vector<char>{1, 1, 1, 0}));

    // Bytes outside ASCII are compared as they are: no folding, no decoding, no confusion with
    // a name that differs only there.
    EXPECT_EQ(Paired({"caf\xc3\xa9", "CAF\xc3\x89", "a\xff", "A\xff"}, {"caf\xc3\x89", "a\xff", "\xff"}, taken),
              (std::vector<std::string>{"-", "caf\xc3\x89", "a\xff", "-"}));
    EXPECT_EQ(taken, (std::vector<char>{1, 1, 0}));

    // Two source variants of one destination name: the first in listing order takes it.
    EXPECT_EQ(Paired({"Photo.JPG", "photo.jpg"}, {"PHOTO.jpg"}, taken), (std::vector<std::string>{"PHOTO.jpg", "-"}));
    // Same names in the same order pair one to one; one case variant at the very end of an
    // otherwise identical listing still pairs by folding, and a reordered listing by name.
    EXPECT_EQ(Paired({"a", "b", "c"}, {"a", "b", "c"}, taken), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(taken, (std::vector<char>{1, 1, 1}));
    EXPECT_EQ(Paired({"a", "b", "C"}, {"a", "b", "c"}, taken), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Paired({"a", "b", "d"}, {"a", "b", "c"}, taken), (std::vector<std::string>{"a", "b", "-"}));
    EXPECT_EQ(taken, (std::vector<char>{1, 1, 0}));
    EXPECT_EQ(Paired({"c", "a", "b"}, {"a", "b", "c"}, taken), (std::vector<std::string>{"c", "a", "b"}));
    EXPECT_EQ(Paired({}, {"x"}, taken), std::vector<std::string>{});
    EXPECT_EQ(taken, (std::vector<char>{0}));
}

} // namespace
