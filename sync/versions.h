// Kept versions: what a run deletes or overwrites in a destination is moved, not lost, into a
// folder of the run under <destination>/.pemo-versions, with a manifest of what the run did.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/task.h"
#include "model/version_manifest.h"
#include "platform/file_system.h"
#include "sync/run_context.h"

// A run folder of the versions area, by the time in its name.
struct RunFolder {
    std::int64_t seconds = 0;
    int sequence = 0;
    std::string name;
};
// The run folders among a listing of the versions area, newest first; other entries left out.
std::vector<RunFolder> RunFoldersNewestFirst(const std::vector<DirEntry>& entries);
// Opens the versions area of the destination whose top is open and lists its run folders, newest
// first. NotFound when nothing was ever kept there.
FsError ListRunFolders(IFileSystem& fs, const DirectoryHandle& top, DirectoryHandle& versions,
                       std::vector<RunFolder>& folders);
// Every entry of an open directory, in the listing's order.
FsError ReadAllEntries(IFileSystem& fs, const DirectoryHandle& dir, std::vector<DirEntry>& entries);
// Copies a link (its target and, where the file system keeps one, its time) or a file's content
// and times (through a temporary, as a run copies) from name of dir, its status given, to toName
// in to; cancel may end a file's copy. NotSupported for a directory or special file.
FsError CopyLeafAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, const FileStatus& status,
                   const DirectoryHandle& to, const std::string& toName, const std::atomic<int>* cancel);
// Moves name of dir (its status given) to toName in to where no rename reaches (another file
// system): a copy, complete and on the device, before the original is removed; a directory
// entry by entry, removed once empty. What could not be moved stays and fails the whole.
FsError MoveAcross(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, const FileStatus& status,
                   const DirectoryHandle& to, const std::string& toName);
// Removes name of dir and everything below it, links as themselves.
FsError RemoveTreeAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, int depth = 0);

// The text of the run folder's manifest; NotFound when it has none.
FsError ReadManifestText(IFileSystem& fs, const DirectoryHandle& runFolder, std::string& text);
// The names of a path relative to a destination (native separators), in order.
std::vector<std::string> SplitRelative(const std::string& relative);

// Called with each level made on the way down: the directory it was made in, its name, and its
// path relative to the root.
using MadeLevelFn = std::function<void(const DirectoryHandle&, const std::string&, const std::string&)>;

// Opens the directory that holds parts.back() below root, never through a link. With made set,
// missing levels are made and reported to it.
FsError OpenParentBelow(IFileSystem& fs, const DirectoryHandle& root, const std::vector<std::string>& parts,
                        DirectoryHandle& parent, const MadeLevelFn* made);

// Writes manifest as the manifest of the run folder, whole or not at all: through a temporary
// that is flushed and then renamed over the name.
FsError WriteManifestIn(IFileSystem& fs, const DirectoryHandle& runFolder, const VersionManifest& manifest);

// One task's keeper, used by the walk on the run thread only. With fake-it it announces what it
// would keep and changes nothing.
class CVersionKeeper {
public:
    // destination: the task's destination as the walk shows it, without a trailing separator.
    CVersionKeeper(CRunContext& ctx, const Task& task, std::string source, std::string destination, std::time_t started,
                   RunStats& stats);

    // The destination's top, opened by the walk; everything the keeper does is relative to it.
    void SetTop(const DirectoryHandle& top);
    // Removes run folders older than the task's days and, with a count, the older versions of a
    // file beyond the newest count.
    void Retain();
    // Moves name of dir (null: could not be opened), whose path relative to the destination is
    // relative (native separators), into the run folder: renamed, or copied there and then removed
    // where no rename can reach. shown is the path for the log, colour the colour of the deletion
    // or overwrite it stands for. The manifest records a deletion, which what the run then leaves
    // there turns into a replacement. False when it stayed: its Red line is logged, the caller
    // counts the error.
    bool Keep(const DirectoryHandle* dir, const std::string& name, const std::string& relative,
              const std::string& shown, LogColour colour);
    // Records what the run left at name: an addition, or the new entry over a kept one.
    void Left(const DirectoryHandle* dir, const std::string& name, const std::string& relative, bool replaced);
    // Writes the manifest when the run changed anything.
    void Finish();
    // The run folder's path, for the log.
    std::string RunFolderPath() const;

private:
    FsError OpenVersions(bool create, DirectoryHandle& versions);
    FsError OpenRunFolder();
    FsError OpenKeptParent(const std::vector<std::string>& parts, const DirectoryHandle*& parent);
    void RetainCount(const DirectoryHandle& versions, const std::vector<std::string>& folders);
    void Record(ManifestAction::Kind kind, const FileStatus* status, const std::string& relative);

    CRunContext& ctx_;
    IFileSystem& fs_;
    const Task& task_;
    RunStats& stats_;
    std::string source_;
    std::string destination_;
    std::time_t started_;
    std::string runName_;
    DirectoryHandle top_;
    DirectoryHandle runFolder_;
    bool runFolderMade_ = false;
    FsError runFolderError_;
    // The last parent opened inside the run folder: files of one level go to one folder.
    std::string keptParentPath_;
    DirectoryHandle keptParent_;
    VersionManifest manifest_;
    // Paths of this run's deletions, so that what the run then puts there reads as a replacement.
    std::unordered_map<std::string, std::size_t> deletedAt_;
};
