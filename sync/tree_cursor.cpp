// The directory handles of one walked tree, within a fixed descriptor budget.
#include "sync/tree_cursor.h"

CTreeCursor::CTreeCursor(IFileSystem& fs, std::size_t budget) : fs_(fs), budget_(budget < 2 ? 2 : budget) {}

void CTreeCursor::Reset(const std::string& systemPath, const std::string& displayPath, bool followLink) {
    levels_.clear();
    held_ = 0;
    lowestHeld_ = 1;
    path_ = displayPath;
    followTop_ = followLink;
    Level top;
    top.name = systemPath;
    top.pathLength = path_.size();
    levels_.push_back(std::move(top));
}

void CTreeCursor::Push(const std::string& name) {
    // Below the root the path reads "/name", not "//name".
    if (path_.empty() || path_.back() != kPathSeparator) {
        path_.push_back(kPathSeparator);
    }
    path_.append(name);
    Level level;
    level.name = name;
    level.pathLength = path_.size();
    levels_.push_back(std::move(level));
}

void CTreeCursor::Pop() {
    const std::size_t index = levels_.size() - 1;
    if (index >= 1 && levels_.back().handle.IsOpen()) {
        --held_;
    }
    levels_.pop_back();
    if (lowestHeld_ > levels_.size()) {
        lowestHeld_ = levels_.size() < 1 ? 1 : levels_.size();
    }
    path_.resize(levels_.empty() ? 0 : levels_.back().pathLength);
}

FsError CTreeCursor::Open() {
    return OpenLevel(levels_.size() - 1);
}

FsError CTreeCursor::OpenLevel(std::size_t index) {
    Level& level = levels_[index];
    if (level.handle.IsOpen()) {
        return FsError();
    }
    level.tried = true;
    FsError e;
    if (index == 0) {
        e = fs_.OpenDirectoryPath(level.name, followTop_, level.handle);
    } else {
        const DirectoryHandle* parent = HandleAt(index - 1, e);
        if (parent == nullptr) {
            return e;
        }
        e = fs_.OpenDirectoryAt(*parent, level.name, level.handle);
        if (!e) {
            ++held_;
            if (index < lowestHeld_) {
                lowestHeld_ = index;
            }
            KeepWithinBudget(index);
        }
    }
    if (!e) {
        level.opened = true;
    }
    return e;
}

// Closes the levels nearest the top (never the top itself, nor keep and its parent) until the
// budget holds. Those are the ones needed last again: the walk returns to them only after
// finishing everything below.
void CTreeCursor::KeepWithinBudget(std::size_t keep) {
    while (held_ > budget_ && lowestHeld_ + 1 < keep) {
        Level& level = levels_[lowestHeld_];
        if (level.handle.IsOpen()) {
            level.handle.Close();
            --held_;
        }
        ++lowestHeld_;
    }
}

const DirectoryHandle* CTreeCursor::HandleAt(std::size_t index, FsError& error) {
    Level& level = levels_[index];
    if (level.handle.IsOpen()) {
        return &level.handle;
    }
    // Only the top is opened here on first use (a path-based caller placed below it); a level
    // that could not be opened is not tried again behind the caller's back.
    if (!level.opened && (index != 0 || level.tried)) {
        error = FsError::OfKind(ErrorKind::NotFound);
        return nullptr;
    }
    // Closed for the budget: open it again below its parent, name by name, never through a link.
    error = OpenLevel(index);
    if (error) {
        return nullptr;
    }
    if (index < lowestHeld_) {
        lowestHeld_ = index;
    }
    return &level.handle;
}

const DirectoryHandle* CTreeCursor::Current(FsError& error) {
    return HandleAt(levels_.size() - 1, error);
}

const DirectoryHandle* CTreeCursor::Parent(FsError& error) {
    if (levels_.size() < 2) {
        error = FsError::OfKind(ErrorKind::NotFound);
        return nullptr;
    }
    return HandleAt(levels_.size() - 2, error);
}
