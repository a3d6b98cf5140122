// The unattended restore from kept versions.
#include "app/restore_command.h"

#include <algorithm>
#include <vector>

#include "app/undo_command.h"
#include "model/version_manifest.h"
#include "run/job_lock.h"
#include "run/job_runner.h"
#include "sync/engine_support.h"
#include "sync/restore.h"
#include "util/path_rules.h"
#include "util/texts.h"

namespace {

// Whether path begins with top; on Windows, whose names match whatever their case, letters of
// either case match.
bool StartsWithRoot(const std::string& path, const std::string& top) {
    constexpr bool kAnyCase = kPathSeparator == '\\';
    const auto lower = [](char c) { return kAnyCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return path.size() >= top.size() &&
           std::equal(top.begin(), top.end(), path.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

// The part of path below root, separators native; false when path is not below root.
bool Below(const std::string& path, const std::string& root, std::string& relative) {
    const std::string top = WithoutTrailingSeparators(root);
    if (top.empty() || path.size() <= top.size() || !StartsWithRoot(path, top)) {
        return false;
    }
    const bool rootIsTop = top.back() == kPathSeparator;
    if (!rootIsTop && path[top.size()] != kPathSeparator) {
        return false;
    }
    relative = WithoutTrailingSeparators(path.substr(top.size() + (rootIsTop ? 0 : 1)));
    return !relative.empty();
}

// Also through each root's resolved form, so that a path given through a link to the
// destination is found.
bool BelowEither(IFileSystem& fs, const std::string& path, const std::string& root, std::string& relative) {
    std::string resolved;
    return Below(path, root, relative) ||
           (!root.empty() && !fs.CanonicalPath(root, resolved) && Below(path, resolved, relative));
}

// A path from a root: on Windows a drive's or a network path.
bool IsWholePath(const std::string& path) {
    constexpr bool kDrives = kPathSeparator == '\\';
    return (!path.empty() && path[0] == kPathSeparator) ||
           (kDrives && path.size() >= 3 && path[1] == ':' && path[2] == kPathSeparator);
}

std::string KindText(const FileStatus& status) {
    switch (status.kind) {
    case EntryKind::Directory:
        return "folder";
    case EntryKind::Symlink:
        return "link";
    case EntryKind::File:
        return "file, " + std::to_string(status.size) + (status.size == 1 ? " byte" : " bytes");
    case EntryKind::Other:
        break;
    }
    return "special file";
}

// The task a path belongs to and the path relative to its destination.
struct Target {
    Task task;
    std::string relative;
};

} // namespace

namespace {

// The tasks whose trees hold path (or, relative, the one chosen), each prepared for the restore;
// false when one cannot be.
bool FindTargets(CJobCommand& command, const StartOptions& options, IFileSystem& fs, const std::string& path,
                 std::vector<Target>& targets) {
    const bool absolute = IsWholePath(path);
    for (const auto& held : command.Tasks()) {
        if (options.taskName.empty() ? !held->enabled : held->name != options.taskName) {
            continue;
        }
        Target target{*held, {}};
        if (!command.Prepare(target.task, "restoring")) {
            return false;
        }
        if (!absolute) {
            target.relative = path;
        } else if (!BelowEither(fs, path, target.task.destination, target.relative) &&
                   !BelowEither(fs, path, target.task.source, target.relative)) {
            continue;
        }
        targets.push_back(std::move(target));
    }
    return true;
}

// Prints the kept versions of the target's path; changes nothing.
template <typename Refuse>
int ListVersions(const StartOptions& options, IFileSystem& fs, const Target& target, const std::string& shown,
                 std::FILE* out, const Refuse& refuse) {
    FsError error;
    const std::vector<KeptVersion> versions = ListKeptVersions(fs, target.task.destination, target.relative, error);
    std::vector<std::string> lines{(versions.empty() ? "No kept version of " : "Kept versions of ") + shown};
    for (const KeptVersion& version : versions) {
        lines.push_back("  " + CalendarText(version.run.seconds) + "  " + KindText(version.status) + "  (" +
                        version.run.name + ")");
    }
    for (const std::string& line : options.quiet ? std::vector<std::string>() : lines) {
        std::fputs((EscapeControlCharacters(line) + "\n").c_str(), out);
    }
    if (error) {
        return refuse("cannot read all kept versions of " + shown + ": " +
                      ErrorText(static_cast<std::uint32_t>(error.code)));
    }
    return 0;
}

} // namespace

int RunRestore(const StartOptions& options, IFileSystem& fs, std::FILE* out, std::FILE* err) {
    CJobCommand command(options, fs, out, err);
    if (!command.Open()) {
        return 2;
    }
    const auto refuse = [err](const std::string& why) {
        std::fputs(("pemo: " + EscapeControlCharacters(why) + "\n").c_str(), err);
        return 2;
    };
    const std::string path = WithoutTrailingSeparators(WithNativeSeparators(options.restorePath));
    const bool absolute = IsWholePath(path);
    std::vector<Target> targets;
    if (!FindTargets(command, options, fs, path, targets)) {
        return 2;
    }
    if (!absolute && options.taskName.empty()) {
        return refuse("-restore " + options.restorePath +
                      ": give the path whole, or relative to the destination with -task:NAME");
    }
    if (targets.empty()) {
        return refuse("-restore " + options.restorePath + ": it lies in no destination or source of the job's " +
                      (options.taskName.empty() ? "enabled tasks" : "task \"" + options.taskName + "\""));
    }
    if (targets.size() > 1) {
        return refuse("-restore " + options.restorePath + ": it lies in the trees of " +
                      std::to_string(targets.size()) + " tasks; choose one with -task:NAME");
    }
    const Target& target = targets.front();
    const std::string shown = WithoutTrailingSeparators(target.task.destination) + kPathSeparator + target.relative;
    if (!options.restoreAtGiven) {
        return ListVersions(options, fs, target, shown, out, refuse);
    }
    // A restore changes the destination a run of the same job would be working on.
    CJobLock lock(fs);
    if (!lock.TryLock(command.JobPath())) {
        return refuse(lock.Refusal().empty() ? command.JobPath() + " is already being run" : lock.Refusal());
    }
    command.Begin("Restore");
    const RestoreOrder order{target.relative, options.restoreAt, options.restoreAtSequence, options.restoreTo};
    const bool done = RestoreTaskPath(command.Context(), target.task, order, command.Stats());
    return command.End("restore " + target.task.name, done);
}
