// Resolving a task's paths to find where source and destination overlap.
#include "sync/overlap.h"

#include <vector>

#include "platform/file_system.h"
#include "sync/engine_support.h"

namespace {

bool IsInside(const std::string& inner, const std::string& outer) {
    if (outer.size() == 1 && outer[0] == kPathSeparator) {
        return inner.size() > 1;
    }
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
           inner[outer.size()] == kPathSeparator;
}

std::string StripSeparator(std::string path) {
    if (!path.empty() && path.back() == kPathSeparator) {
        path.pop_back();
    }
    return path;
}

// The resolved form of a path that may not exist yet: its deepest existing ancestor resolved,
// the missing rest appended. False when it cannot be worked out. The ancestor is found by
// halving over the separators (a prefix resolves only if every shorter one does), so a path of
// any length costs a few dozen resolutions, not one per component.
bool ResolvedPath(IFileSystem& fs, const std::string& path, std::string& resolved) {
    std::string canonical;
    FsError e = fs.CanonicalPath(SystemDirectoryPath(path), canonical);
    if (!e) {
        resolved = canonical;
        return true;
    }
    auto missing = [](const FsError& error) {
        return error.Is(ErrorKind::NotFound) || error.Is(ErrorKind::NotADirectory) || error.Is(ErrorKind::NameTooLong);
    };
    if (!missing(e)) {
        return false;
    }
    std::vector<std::size_t> separators;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == kPathSeparator) {
            separators.push_back(i);
        }
    }
    // Look for the last separator whose prefix resolves.
    std::size_t low = 0;
    std::size_t high = separators.size();
    std::string found;
    std::size_t restFrom = std::string::npos;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const std::size_t at = separators[middle];
        std::string prefixCanonical;
        e = fs.CanonicalPath(at == 0 ? std::string(1, kPathSeparator) : path.substr(0, at), prefixCanonical);
        if (!e) {
            found = std::move(prefixCanonical);
            restFrom = at;
            low = middle + 1;
        } else if (missing(e)) {
            high = middle;
        } else {
            return false;
        }
    }
    std::string rest;
    if (restFrom == std::string::npos) {
        // Not even the first component exists: a relative path hangs below the current directory.
        if (fs.CanonicalPath(".", found)) {
            return false;
        }
        rest = std::string(1, kPathSeparator) + path;
    } else {
        rest = path.substr(restFrom);
    }
    if (found.size() == 1 && found[0] == kPathSeparator && !rest.empty()) {
        found.clear();
    }
    resolved = found + rest;
    return true;
}

} // namespace

bool CheckOverlap(CRunContext& ctx, const std::string& source, const std::string& destination, RunStats& stats) {
    if (source.empty() || destination.empty() || ctx.stopRequested.load() != 0) {
        return true; // reported, or not, by the level itself
    }
    IFileSystem& fs = FsOf(ctx);
    const std::string plainSource = StripSeparator(source);
    std::string resolvedSource;
    std::string resolvedDestination;
    if (fs.CanonicalPath(SystemDirectoryPath(plainSource), resolvedSource) ||
        !ResolvedPath(fs, StripSeparator(destination), resolvedDestination)) {
        return true; // a source that cannot be resolved is reported when it is listed
    }
    if (resolvedSource == resolvedDestination || IsInside(resolvedSource, resolvedDestination)) {
        LogError(ctx, "Destination \"" + destination + "\" contains the source \"" + source + "\", exiting",
                 stats.errors);
        return false;
    }
    return true;
}
