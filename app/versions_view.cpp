// Reading a task's versions area for the versions browser.
#include "app/versions_view.h"

#include <algorithm>

#include "run/job_runner.h"
#include "sync/engine_support.h"
#include "sync/versions.h"
#include "util/path_rules.h"

namespace {

void ReadRun(IFileSystem& fs, const DirectoryHandle& versions, KeptRun& run) {
    DirectoryHandle folder;
    std::string text;
    FsError e = fs.OpenDirectoryAt(versions, run.name, folder);
    if (!e) {
        e = ReadManifestText(fs, folder, text);
    }
    if (e.Is(ErrorKind::NotFound)) {
        return; // a run that kept nothing has no record
    }
    VersionManifest manifest;
    if (e) {
        run.problem = ErrorTextOf(e);
        return;
    }
    if (!ParseManifest(text, manifest, run.problem)) {
        return;
    }
    run.entries = std::move(manifest.actions);
    std::sort(run.entries.begin(), run.entries.end(),
              [](const ManifestAction& a, const ManifestAction& b) { return a.path < b.path; });
    for (const ManifestAction& action : run.entries) {
        int& count = action.action == ManifestAction::Kind::Added      ? run.added
                     : action.action == ManifestAction::Kind::Replaced ? run.replaced
                                                                       : run.deleted;
        ++count;
    }
}

} // namespace

bool ListKeptRuns(IFileSystem& fs, const Task& task, const std::string& driveLetter, std::vector<KeptRun>& runs,
                  std::string& error) {
    runs.clear();
    std::string destination = WithNativeSeparators(WithDriveLetter(task.destination, driveLetter));
    if (destination.empty() || (driveLetter.empty() && task.destination.rfind('?', 0) == 0)) {
        error = "The task has no destination to look in.";
        return false;
    }
    DirectoryHandle top;
    DirectoryHandle versions;
    std::vector<RunFolder> folders;
    FsError e = fs.OpenDirectoryPath(SystemDirectoryPath(destination), true, top);
    if (!e) {
        e = ListRunFolders(fs, top, versions, folders);
        if (e.Is(ErrorKind::NotFound)) {
            return true;
        }
    }
    if (e) {
        error = "Cannot read " + JoinPath(destination, kVersionsFolderName) + ": " + ErrorTextOf(e);
        return false;
    }
    for (const RunFolder& folder : folders) {
        KeptRun run;
        run.name = folder.name;
        run.seconds = folder.seconds;
        run.sequence = folder.sequence;
        ReadRun(fs, versions, run);
        runs.push_back(std::move(run));
    }
    return true;
}

std::string KeptRunText(const KeptRun& run) {
    // The folder's name is the run's local start time: shown as a date and a time.
    std::string shown = run.name;
    if (shown.size() >= 19) {
        shown[10] = ' ';
        shown[13] = ':';
        shown[16] = ':';
    }
    if (!run.problem.empty()) {
        return shown + "   its record cannot be read: " + run.problem;
    }
    return shown + "   " + std::to_string(run.added) + " added, " + std::to_string(run.replaced) + " replaced, " +
           std::to_string(run.deleted) + " deleted";
}

std::string KeptEntryText(const ManifestAction& action) {
    const char* what = action.action == ManifestAction::Kind::Added      ? "added"
                       : action.action == ManifestAction::Kind::Replaced ? "replaced"
                                                                         : "deleted";
    std::string path = action.path;
    if (action.entry == 'd') {
        path += '/';
    }
    return path + "   " + what;
}

bool HoldsEarlierVersion(const ManifestAction& action) {
    return action.action != ManifestAction::Kind::Added;
}
