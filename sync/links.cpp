// Source links mirrored as links.
#include "sync/links.h"

#include <algorithm>

#include "sync/debug_log.h"
#include "sync/engine_support.h"
#include "sync/metadata.h"
#include "sync/tree_cursor.h"

bool SameLink(IFileSystem& fs, const DirectoryHandle* dir, const std::string& name, const SourceLink& link) {
    std::string target;
    return !link.readError && dir != nullptr && !fs.ReadLinkAt(*dir, name, target) && target == link.target;
}

CopyVerdict YCopyLink(CRunContext& ctx, CTreeCursor& destination, const std::string& name, const SourceLink& link,
                      const FileEntry& source, const std::string& sourcePath, const CopyOptions& options, bool giveAway,
                      RunStats& stats) {
    const std::string destinationPath = JoinPath(destination.Path(), name);
    if (ctx.debug) {
        DebugLog(ctx, "YCopyLink: " + sourcePath + " -> " + destinationPath);
    }
    FsError e = link.readError;
    if (!e) {
        const DirectoryHandle* dir = options.fakeIt ? nullptr : destination.Current(e);
        if (dir != nullptr) {
            e = FsOf(ctx).ReplaceWithLinkAt(*dir, name, link.target, link.seconds, link.nanoseconds);
            if (e.Is(ErrorKind::NotSupported)) {
                *options.failure = "Not copying link " + sourcePath + ": the destination cannot hold links";
                return CopyVerdict::Skipped;
            }
        }
        LogLine(ctx, options.isNew ? "Adding file " + sourcePath : "Updating file " + destinationPath,
                LogColour::Green);
        // The link's own owner; only the superuser can give one away.
        if (dir != nullptr && !e && giveAway && source.mode >= 0) {
            SetOwnerLike(ctx, *dir, name, destinationPath, FileIdentity{}, OwnerChange{source.owner, source.group},
                         stats);
        }
    }
    if (!e) {
        return CopyVerdict::Copied;
    }
    *options.failure = "Failed to copy file " + sourcePath + " to " + destinationPath + FailureSuffix(e);
    return CopyVerdict::Failed;
}

SourceLink ReadSourceLinkNow(IFileSystem& fs, CTreeCursor& source, const std::string& name, FileEntry& entry) {
    SourceLink link;
    const DirectoryHandle* dir = source.Current(link.readError);
    FileStatus status;
    if (dir != nullptr && !(link.readError = fs.StatusAt(*dir, name, false, status)) &&
        !(link.readError = fs.ReadLinkAt(*dir, name, link.target))) {
        link.seconds = status.mtimeSeconds;
        link.nanoseconds = status.mtimeNanoseconds;
        SetEntryFromStatus(entry, status);
    }
    return link;
}

std::vector<std::string> PathNames(std::string_view path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == kPathSeparator) {
            if (i > start) {
                names.emplace_back(path.substr(start, i - start));
            }
            start = i + 1;
        }
    }
    return names;
}

namespace {

bool IsAbsoluteTarget(const std::string& target) {
    if (!target.empty() && (target[0] == '/' || target[0] == kPathSeparator)) {
        return true;
    }
#if defined(_WIN32)
    return target.size() >= 2 && target[1] == ':';
#else
    return false;
#endif
}

bool SameName(const std::string& a, const std::string& b) {
#if defined(_WIN32)
    return EqualNoCase(a, b);
#else
    return a == b;
#endif
}

// The names of absolute below top's, when it lies below it.
bool NamesBelow(const std::vector<std::string>& top, const std::vector<std::string>& absolute,
                std::vector<std::string>& below) {
    if (absolute.size() < top.size() || !std::equal(top.begin(), top.end(), absolute.begin(), SameName)) {
        return false;
    }
    below.assign(absolute.begin() + static_cast<std::ptrdiff_t>(top.size()), absolute.end());
    return true;
}

// The walk of one link's target: the directories from the top down to where it stands, and the
// names still to follow.
class CTargetWalk {
public:
    CTargetWalk(IFileSystem& fs, const std::string& top) : fs_(fs), top_(top) {}

    LinkTarget Resolve(const std::vector<std::string>& level, const std::string& target) {
        LinkTarget result;
        bool done = !Restart(level, target, result);
        while (!done && !pending_.empty()) {
            const std::string name = std::move(pending_.front());
            pending_.erase(pending_.begin());
            done = Step(name, result);
        }
        if (!done) {
            // The target names a directory on the way (the top, or one reached by "..").
            result.kind = LinkTarget::Kind::Directory;
        }
        return result;
    }

private:
    static constexpr int kMostLinks = 40;

    // Follows one name; true when the walk ends there, with result filled in.
    bool Step(const std::string& name, LinkTarget& result) {
        if (name == ".") {
            return false;
        }
        if (name == "..") {
            if (dirs_.size() == 1) {
                result.kind = LinkTarget::Kind::Outside;
                return true;
            }
            dirs_.pop_back();
            return false;
        }
        FileStatus status;
        if (const FsError e = fs_.StatusAt(dirs_.back(), name, false, status)) {
            Stop(e, result);
            return true;
        }
        if (status.kind == EntryKind::Symlink) {
            return !FollowLinkAt(name, result);
        }
        if (status.kind == EntryKind::Directory && !pending_.empty()) {
            DirectoryHandle next;
            if (const FsError e = fs_.OpenDirectoryAt(dirs_.back(), name, next)) {
                Stop(e, result);
                return true;
            }
            dirs_.push_back(std::move(next));
            return false;
        }
        if (!pending_.empty()) {
            Stop(FsError::OfKind(ErrorKind::NotADirectory), result);
            return true;
        }
        result.kind = status.kind == EntryKind::File        ? LinkTarget::Kind::File
                      : status.kind == EntryKind::Directory ? LinkTarget::Kind::Directory
                                                            : LinkTarget::Kind::Special;
        result.dir = std::move(dirs_.back());
        result.name = name;
        result.status = status;
        return true;
    }

    // A link on the way: its target text goes before the names still to follow.
    bool FollowLinkAt(const std::string& name, LinkTarget& result) {
        std::string text;
        const FsError e =
            ++links_ > kMostLinks ? FsError::OfKind(ErrorKind::Other) : fs_.ReadLinkAt(dirs_.back(), name, text);
        if (e) {
            Stop(e, result);
            return false;
        }
        return Follow(text, result);
    }

    static void Stop(const FsError& e, LinkTarget& result) {
        result.kind = e.Is(ErrorKind::NotFound) || e.Is(ErrorKind::NotADirectory) ? LinkTarget::Kind::Missing
                                                                                  : LinkTarget::Kind::Failed;
        result.error = e;
    }

    // From the top again, down to the link's own level.
    bool Restart(const std::vector<std::string>& level, const std::string& target, LinkTarget& result) {
        dirs_.clear();
        DirectoryHandle top;
        if (const FsError e = fs_.OpenDirectoryPath(SystemDirectoryPath(top_), true, top)) {
            Stop(e, result);
            return false;
        }
        dirs_.push_back(std::move(top));
        for (const std::string& name : level) {
            DirectoryHandle next;
            if (const FsError e = fs_.OpenDirectoryAt(dirs_.back(), name, next)) {
                Stop(e, result);
                return false;
            }
            dirs_.push_back(std::move(next));
        }
        return Follow(target, result);
    }

    // Puts a link's target text before the names still to follow; an absolute one starts at the
    // top again, when it lies below it, as the user named it or as the system resolves it.
    bool Follow(const std::string& text, LinkTarget& result) {
        std::vector<std::string> names = PathNames(text);
        if (IsAbsoluteTarget(text)) {
            std::vector<std::string> below;
            std::string canonical;
            if (!NamesBelow(PathNames(top_), names, below) &&
                (fs_.CanonicalPath(top_, canonical) || !NamesBelow(PathNames(canonical), names, below))) {
                result.kind = LinkTarget::Kind::Outside;
                return false;
            }
            dirs_.resize(1);
            names = std::move(below);
        }
        pending_.insert(pending_.begin(), names.begin(), names.end());
        return true;
    }

    IFileSystem& fs_;
    const std::string& top_;
    std::vector<DirectoryHandle> dirs_;
    std::vector<std::string> pending_;
    int links_ = 0;
};

} // namespace

LinkTarget ResolveLinkTarget(IFileSystem& fs, const std::string& top, const std::vector<std::string>& level,
                             const std::string& target) {
    return CTargetWalk(fs, top).Resolve(level, target);
}
