// Keeping what a run deletes or overwrites, and forgetting it again after a while.
#include "sync/versions.h"

#include <algorithm>
#include <tuple>
#include <utility>

#include "sync/engine_support.h"

namespace {

// Deeper trees than this are not moved piece by piece; the entry stays where it is.
constexpr int kDeepestCopy = 256;
constexpr std::int64_t kNanosecondsPerSecondWide = 1000000000;
// A manifest larger than this is not one a run wrote.
constexpr std::size_t kLargestManifest = std::size_t{1} << 30;

std::string ManifestPath(const std::string& relative) {
    std::string path = relative;
    std::replace(path.begin(), path.end(), kPathSeparator, '/');
    return path;
}

// The files (and links) of a kept tree, by their path relative to the run folder.
void CollectFiles(IFileSystem& fs, const DirectoryHandle& dir, const std::string& prefix, int depth,
                  std::vector<std::string>& files) {
    std::vector<DirEntry> entries;
    if (depth > kDeepestCopy || ReadAllEntries(fs, dir, entries)) {
        return;
    }
    for (const DirEntry& entry : entries) {
        if (depth == 0 && entry.name == kManifestName) {
            continue;
        }
        const std::string path = prefix.empty() ? entry.name : prefix + kPathSeparator + entry.name;
        if (entry.kind != EntryKind::Directory) {
            files.push_back(path);
            continue;
        }
        DirectoryHandle sub;
        if (!fs.OpenDirectoryAt(dir, entry.name, sub)) {
            CollectFiles(fs, sub, path, depth + 1, files);
        }
    }
}

std::int64_t NowCalendarSeconds() {
    std::tm local{};
    if (!LocalCalendarTime(std::time(nullptr), local)) {
        return 0;
    }
    return CalendarSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec);
}

} // namespace

std::vector<RunFolder> RunFoldersNewestFirst(const std::vector<DirEntry>& entries) {
    std::vector<RunFolder> folders;
    for (const DirEntry& entry : entries) {
        RunFolder folder{0, 0, entry.name};
        if (entry.kind == EntryKind::Directory && ParseRunFolderName(entry.name, folder.seconds, folder.sequence)) {
            folders.push_back(std::move(folder));
        }
    }
    std::sort(folders.begin(), folders.end(), [](const RunFolder& a, const RunFolder& b) {
        return std::tie(b.seconds, b.sequence) < std::tie(a.seconds, a.sequence);
    });
    return folders;
}

FsError ReadAllEntries(IFileSystem& fs, const DirectoryHandle& dir, std::vector<DirEntry>& entries) {
    FsError e;
    std::unique_ptr<IDirectoryStream> stream = fs.ListDirectory(dir, e);
    if (stream == nullptr) {
        return e;
    }
    DirEntry entry;
    while (stream->Next(entry)) {
        entries.push_back(entry);
    }
    return stream->Error();
}

FsError RemoveTreeAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, int depth) {
    DirectoryHandle sub;
    if (FsError e = fs.OpenDirectoryAt(dir, name, sub)) {
        return e.Is(ErrorKind::NotADirectory) || e.Is(ErrorKind::IsALink) ? fs.RemoveFileAt(dir, name) : e;
    }
    if (depth > kDeepestCopy) {
        return FsError::OfKind(ErrorKind::NameTooLong);
    }
    std::vector<DirEntry> entries;
    if (FsError e = ReadAllEntries(fs, sub, entries)) {
        return e;
    }
    for (const DirEntry& entry : entries) {
        const FsError e = entry.kind == EntryKind::Directory ? RemoveTreeAt(fs, sub, entry.name, depth + 1)
                                                             : fs.RemoveFileAt(sub, entry.name);
        if (e) {
            return e;
        }
    }
    sub.Close();
    return fs.RemoveDirectoryAt(dir, name);
}

namespace {

// A directory moved across entry by entry; it is removed only once it is empty. What could not
// be moved stays in the destination and fails the whole. The copy takes the directory's bits,
// owner (as far as this process may) and time, so that one moved back is the one moved away.
FsError CopyTreeAcross(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, const FileStatus& status,
                       const DirectoryHandle& to, const std::string& toName, int depth) {
    if (depth > kDeepestCopy) {
        return FsError::OfKind(ErrorKind::NameTooLong);
    }
    DirectoryHandle from;
    FsError e = fs.OpenDirectoryAt(dir, name, from);
    if (!e) {
        e = fs.MakeDirectoryAt(to, toName);
    }
    DirectoryHandle into;
    if (!e) {
        e = fs.OpenDirectoryAt(to, toName, into);
    }
    std::vector<DirEntry> entries;
    if (!e) {
        e = ReadAllEntries(fs, from, entries);
    }
    for (std::size_t i = 0; i < entries.size() && !e; ++i) {
        FileStatus entry;
        e = fs.StatusAt(from, entries[i].name, false, entry);
        if (!e) {
            e = entry.kind == EntryKind::Directory
                    ? CopyTreeAcross(fs, from, entries[i].name, entry, into, entries[i].name, depth + 1)
                    : MoveAcross(fs, from, entries[i].name, entry, into, entries[i].name);
        }
    }
    if (e) {
        return e;
    }
    // Kept as well as the system allows: a refusal of the bits or owner loses no data.
    if (fs.MayGiveAway()) {
        fs.SetOwnerAt(to, toName, FileIdentity{}, status.owner, status.group);
    }
    fs.SetModeAt(to, toName, FileIdentity{}, status.mode);
    fs.SetLinkTimeAt(to, toName, status.mtimeSeconds, status.mtimeNanoseconds);
    from.Close();
    return fs.RemoveDirectoryAt(dir, name);
}

} // namespace

FsError CopyLeafAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, const FileStatus& status,
                   const DirectoryHandle& to, const std::string& toName, const std::atomic<int>* cancel) {
    if (status.kind == EntryKind::Symlink) {
        std::string target;
        FsError e = fs.ReadLinkAt(dir, name, target);
        if (!e) {
            e = fs.MakeLinkAt(to, toName, target);
        }
        if (!e) {
            // A file system that keeps no time of a link is no reason to fail the copy.
            fs.SetLinkTimeAt(to, toName, status.mtimeSeconds, status.mtimeNanoseconds);
        }
        return e;
    }
    if (status.kind != EntryKind::File) {
        return FsError::OfKind(ErrorKind::NotSupported);
    }
    FileHandle in;
    if (FsError e = fs.OpenCopySourceAt(dir, name, FileIdentity::Of(status), false, in)) {
        return e;
    }
    const CopyResult copied = fs.CopyOpenFileAt(in, to, toName, nullptr, cancel);
    fs.CloseFile(in);
    if (copied.outcome != CopyOutcome::Copied) {
        return copied.error ? copied.error : FsError::OfKind(ErrorKind::Interrupted);
    }
    return {};
}

// Where no rename reaches (another file system mounted inside the destination): a copy in the
// run folder, complete and on the device, before the original is removed.
FsError MoveAcross(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, const FileStatus& status,
                   const DirectoryHandle& to, const std::string& toName) {
    if (status.kind == EntryKind::Directory) {
        return CopyTreeAcross(fs, dir, name, status, to, toName, 0);
    }
    FsError e = CopyLeafAt(fs, dir, name, status, to, toName, nullptr);
    if (!e && (e = fs.FlushFileSystem(to))) {
        fs.RemoveFileAt(to, toName);
    }
    return e ? e : fs.RemoveFileAt(dir, name);
}

FsError ListRunFolders(IFileSystem& fs, const DirectoryHandle& top, DirectoryHandle& versions,
                       std::vector<RunFolder>& folders) {
    std::vector<DirEntry> entries;
    FsError e = fs.OpenDirectoryAt(top, std::string(kVersionsFolderName), versions);
    if (!e) {
        e = ReadAllEntries(fs, versions, entries);
    }
    folders = RunFoldersNewestFirst(entries);
    return e;
}

FsError ReadManifestText(IFileSystem& fs, const DirectoryHandle& run, std::string& text) {
    return ReadSmallFileAt(fs, run, std::string(kManifestName), kLargestManifest, text);
}

FsError WriteManifestIn(IFileSystem& fs, const DirectoryHandle& runFolder, const VersionManifest& manifest) {
    const std::string text = FormatManifest(manifest);
    const std::string temporary = NewTemporaryCopyName();
    FileHandle file;
    FileOpenMode mode;
    mode.access = FileAccess::Write;
    mode.create = true;
    mode.createMode = 0600;
    mode.exclusive = true;
    mode.noFollow = true;
    FsError e = fs.OpenFileAt(runFolder, temporary, mode, file);
    if (e) {
        return e;
    }
    std::size_t written = 0;
    e = fs.WriteFileData(file, text.data(), text.size(), written);
    if (!e) {
        e = fs.SyncFile(file);
    }
    const FsError closed = fs.CloseFile(file);
    if (!e) {
        e = closed;
    }
    if (!e) {
        e = fs.RenameAt(runFolder, temporary, std::string(kManifestName));
    }
    if (e) {
        fs.RemoveFileAt(runFolder, temporary);
    }
    return e;
}

CVersionKeeper::CVersionKeeper(CRunContext& ctx, const Task& task, std::string source, std::string destination,
                               std::time_t started, RunStats& stats)
    : ctx_(ctx), fs_(FsOf(ctx)), task_(task), stats_(stats), source_(std::move(source)),
      destination_(std::move(destination)), started_(started) {
    std::tm local{};
    if (!LocalCalendarTime(started_, local)) {
        local = std::tm{};
        local.tm_year = 70;
        local.tm_mday = 1;
    }
    runName_ =
        RunFolderName(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    manifest_.task = task.name;
    manifest_.source = source_;
    manifest_.destination = destination_;
    manifest_.started = runName_;
}

void CVersionKeeper::SetTop(const DirectoryHandle& top) {
    if (fs_.DuplicateDirectory(top, top_)) {
        top_.Close();
    }
}

std::string CVersionKeeper::RunFolderPath() const {
    return JoinPath(JoinPath(destination_, kVersionsFolderName), runName_);
}

FsError CVersionKeeper::OpenVersions(bool create, DirectoryHandle& versions) {
    if (!top_.IsOpen()) {
        return FsError::OfKind(ErrorKind::BadHandle);
    }
    const std::string name(kVersionsFolderName);
    if (create) {
        const FsError e = fs_.MakeDirectoryAt(top_, name);
        if (e && !e.Is(ErrorKind::Exists)) {
            return e;
        }
    }
    return fs_.OpenDirectoryAt(top_, name, versions);
}

// Made on the first thing kept or recorded, so that a run that changes nothing leaves no folder.
FsError CVersionKeeper::OpenRunFolder() {
    if (runFolderMade_) {
        return runFolderError_;
    }
    runFolderMade_ = true;
    DirectoryHandle versions;
    runFolderError_ = OpenVersions(true, versions);
    const std::string base = runName_;
    for (int sequence = 1; !runFolderError_; ++sequence) {
        runName_ = sequence == 1 ? base : base + "_" + std::to_string(sequence);
        runFolderError_ = fs_.MakeDirectoryAt(versions, runName_);
        if (!runFolderError_) {
            runFolderError_ = fs_.OpenDirectoryAt(versions, runName_, runFolder_);
            break;
        }
        if (!runFolderError_.Is(ErrorKind::Exists) || sequence >= 1000) {
            break;
        }
        runFolderError_ = FsError();
    }
    return runFolderError_;
}

FsError CVersionKeeper::OpenKeptParent(const std::vector<std::string>& parts, const DirectoryHandle*& parent) {
    if (parts.size() <= 1) {
        parent = &runFolder_;
        return {};
    }
    std::string key;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        key += parts[i];
        key += '/';
    }
    if (key == keptParentPath_ && keptParent_.IsOpen()) {
        parent = &keptParent_;
        return {};
    }
    keptParentPath_.clear();
    keptParent_.Close();
    DirectoryHandle current;
    const DirectoryHandle* at = &runFolder_;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        FsError e = fs_.MakeDirectoryAt(*at, parts[i]);
        if (e && !e.Is(ErrorKind::Exists)) {
            return e;
        }
        DirectoryHandle next;
        if ((e = fs_.OpenDirectoryAt(*at, parts[i], next))) {
            return e;
        }
        current = std::move(next);
        at = &current;
    }
    keptParent_ = std::move(current);
    keptParentPath_ = key;
    parent = &keptParent_;
    return {};
}

bool CVersionKeeper::Keep(const DirectoryHandle* dir, const std::string& name, const std::string& relative,
                          const std::string& shown, LogColour colour) {
    if (task_.fakeIt) {
        LogLine(ctx_, "Kept previous version of " + shown, colour);
        return true;
    }
    const std::vector<std::string> parts = SplitRelative(relative);
    FileStatus status;
    FsError e = dir != nullptr ? fs_.StatusAt(*dir, name, false, status) : FsError::OfKind(ErrorKind::NotFound);
    if (!e) {
        e = OpenRunFolder();
    }
    const DirectoryHandle* parent = nullptr;
    if (!e) {
        e = OpenKeptParent(parts, parent);
    }
    if (!e) {
        e = fs_.MoveAt(*dir, name, *parent, parts.back());
        if (e.Is(ErrorKind::CrossDevice)) {
            e = MoveAcross(fs_, *dir, name, status, *parent, parts.back());
        }
    }
    if (e) {
        LogLine(ctx_, "Failed to keep the previous version of " + shown + FailureSuffix(e), LogColour::Red);
        return false;
    }
    LogLine(ctx_, "Kept previous version of " + shown, colour);
    Record(ManifestAction::Kind::Deleted, &status, relative);
    return true;
}

void CVersionKeeper::Left(const DirectoryHandle* dir, const std::string& name, const std::string& relative,
                          bool replaced) {
    if (task_.fakeIt) {
        return;
    }
    FileStatus status;
    const bool known = dir != nullptr && !fs_.StatusAt(*dir, name, false, status);
    Record(replaced ? ManifestAction::Kind::Replaced : ManifestAction::Kind::Added, known ? &status : nullptr,
           relative);
}

void CVersionKeeper::Record(ManifestAction::Kind kind, const FileStatus* status, const std::string& relative) {
    ManifestAction action;
    action.action = kind;
    action.path = ManifestPath(relative);
    if (status != nullptr) {
        action.entry = status->kind == EntryKind::Directory ? 'd' : status->kind == EntryKind::Symlink ? 'l' : 'f';
        if (status->kind != EntryKind::Directory) {
            action.size = status->size;
        }
        action.mtimeNanoseconds = status->mtimeSeconds * kNanosecondsPerSecondWide + status->mtimeNanoseconds;
    }
    // Something put where this run kept an entry replaced that entry; without it (a failure
    // between) the deletion stays, which is what the destination then shows.
    if (kind != ManifestAction::Kind::Deleted) {
        const auto deleted = deletedAt_.find(action.path);
        if (deleted != deletedAt_.end()) {
            action.action = ManifestAction::Kind::Replaced;
            manifest_.actions[deleted->second] = std::move(action);
            deletedAt_.erase(deleted);
            return;
        }
    }
    if (kind == ManifestAction::Kind::Deleted) {
        deletedAt_[action.path] = manifest_.actions.size();
    }
    manifest_.actions.push_back(std::move(action));
}

void CVersionKeeper::Finish() {
    if (task_.fakeIt || manifest_.actions.empty()) {
        return;
    }
    FsError e = OpenRunFolder();
    if (!e) {
        e = WriteManifestIn(fs_, runFolder_, manifest_);
    }
    if (e) {
        LogError(ctx_,
                 "Failed to write the record of kept versions " + JoinPath(RunFolderPath(), kManifestName) +
                     FailureSuffix(e),
                 stats_.errors);
    }
}

void CVersionKeeper::Retain() {
    DirectoryHandle versions;
    std::vector<RunFolder> folders;
    if (!top_.IsOpen() || ListRunFolders(fs_, top_, versions, folders)) {
        return; // nothing kept yet, or nothing that can be read: nothing to forget
    }
    const std::int64_t oldest = NowCalendarSeconds() - static_cast<std::int64_t>(task_.versionDays) * 86400;
    std::vector<std::string> kept;
    for (const RunFolder& folder : folders) {
        if (folder.seconds >= oldest) {
            kept.push_back(folder.name);
            continue;
        }
        const std::string path = JoinPath(JoinPath(destination_, kVersionsFolderName), folder.name);
        const FsError e = task_.fakeIt ? FsError() : RemoveTreeAt(fs_, versions, folder.name);
        if (e) {
            LogError(ctx_, "Failed to remove old versions " + path + FailureSuffix(e), stats_.errors);
        } else {
            LogLine(ctx_, "Removed old versions " + path, LogColour::Purple);
        }
    }
    if (task_.versionCount > 0) {
        RetainCount(versions, kept);
    }
}

// folders newest first: a file's versions beyond the newest count are removed.
void CVersionKeeper::RetainCount(const DirectoryHandle& versions, const std::vector<std::string>& folders) {
    std::map<std::string, int> seen;
    for (const std::string& folder : folders) {
        DirectoryHandle run;
        if (fs_.OpenDirectoryAt(versions, folder, run)) {
            continue;
        }
        std::vector<std::string> files;
        CollectFiles(fs_, run, std::string(), 0, files);
        for (const std::string& file : files) {
            if (++seen[file] <= task_.versionCount) {
                continue;
            }
            const std::string path = JoinPath(JoinPath(JoinPath(destination_, kVersionsFolderName), folder), file);
            const std::vector<std::string> parts = SplitRelative(file);
            FsError e;
            if (!task_.fakeIt) {
                DirectoryHandle parent;
                const DirectoryHandle* at = &run;
                for (std::size_t i = 0; i + 1 < parts.size() && !e; ++i) {
                    DirectoryHandle next;
                    e = fs_.OpenDirectoryAt(*at, parts[i], next);
                    parent = std::move(next);
                    at = &parent;
                }
                if (!e) {
                    e = fs_.RemoveFileAt(*at, parts.back());
                }
            }
            if (e) {
                LogError(ctx_, "Failed to remove old version " + path + FailureSuffix(e), stats_.errors);
            } else {
                LogLine(ctx_, "Removed old version " + path, LogColour::Purple);
            }
        }
    }
}

std::vector<std::string> SplitRelative(const std::string& relative) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = relative.find(kPathSeparator, start);
        parts.push_back(relative.substr(start, at - start));
        if (at == std::string::npos) {
            return parts;
        }
        start = at + 1;
    }
}

FsError OpenParentBelow(IFileSystem& fs, const DirectoryHandle& root, const std::vector<std::string>& parts,
                        DirectoryHandle& parent, const MadeLevelFn* made) {
    FsError e = fs.DuplicateDirectory(root, parent);
    std::string relative;
    for (std::size_t i = 0; i + 1 < parts.size() && !e; ++i) {
        if (!relative.empty()) {
            relative += kPathSeparator;
        }
        relative += parts[i];
        if (made != nullptr) {
            e = fs.MakeDirectoryAt(parent, parts[i]);
            if (!e) {
                (*made)(parent, parts[i], relative);
            } else if (e.Is(ErrorKind::Exists)) {
                e = FsError();
            }
        }
        DirectoryHandle next;
        if (!e) {
            e = fs.OpenDirectoryAt(parent, parts[i], next);
        }
        parent = std::move(next);
    }
    return e;
}
