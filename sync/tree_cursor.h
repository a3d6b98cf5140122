// CTreeCursor: the open directories of one tree along the walk's current path, and that path's
// text for log lines. Every level below the top is opened relative to its parent without
// following a link, so the walk never leaves the tree through a component swapped for a link.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "platform/file_system.h"

class CTreeCursor {
public:
    // At most budget levels below the top hold a descriptor at a time; deeper walks close the
    // highest ones and re-open them, from the nearest level still open, when they are needed
    // again. Descriptors held: the top plus budget, whatever the depth.
    static constexpr std::size_t kDefaultBudget = 32;
    explicit CTreeCursor(IFileSystem& fs, std::size_t budget = kDefaultBudget);

    // Starts over at the top: systemPath is what is opened, displayPath what Path() shows.
    // followLink lets the top itself be a link (the user chose it).
    void Reset(const std::string& systemPath, const std::string& displayPath, bool followLink);
    // Steps down to the entry name of the current level, not yet opened.
    void Push(const std::string& name);
    void Pop();
    // Opens the current level (the top by path, a deeper level relative to its parent).
    FsError Open();
    // The current level's open directory, re-opened when it was closed for the budget; null
    // (with error) when it was never opened or can no longer be.
    const DirectoryHandle* Current(FsError& error);
    // The directory holding the current level; null (with error) at the top or when unavailable.
    const DirectoryHandle* Parent(FsError& error);

    const std::string& Path() const { return path_; }
    const std::string& Name() const { return levels_.back().name; }
    std::size_t Depth() const { return levels_.size(); }

private:
    struct Level {
        std::string name;
        std::size_t pathLength = 0; // of path_ up to this level
        DirectoryHandle handle;
        bool opened = false; // opened once; the handle may since have been closed for the budget
        bool tried = false;
    };
    const DirectoryHandle* HandleAt(std::size_t index, FsError& error);
    FsError OpenLevel(std::size_t index);
    void KeepWithinBudget(std::size_t keep);

    IFileSystem& fs_;
    std::size_t budget_;
    std::deque<Level> levels_;
    std::string path_;
    bool followTop_ = true;
    std::size_t held_ = 0; // levels below the top holding a descriptor
    std::size_t lowestHeld_ = 1;
};
