// Reading one side of a level.
#include "sync/level_reader.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "sync/directory_reader.h"
#include "sync/engine_support.h"

const SourceLink* ListedSide::LinkOf(std::size_t index) const {
    auto it = std::lower_bound(links.begin(), links.end(), index,
                               [](const SourceLink& link, std::size_t i) { return link.index < i; });
    return it != links.end() && it->index == index ? &*it : nullptr;
}

void ListedSide::ReleaseFiles() {
    std::vector<FileEntry>().swap(files);
    std::vector<std::uint8_t>().swap(flags);
    std::vector<SourceLink>().swap(links);
    fileNames.Clear();
}

namespace {

bool LeftOut(const SideReading& how, const DirEntry& entry) {
    if (!how.source) {
        return false;
    }
    return (how.excludeHiddenDirs && entry.hidden) || (how.excludeSystemDirs && entry.system);
}

} // namespace

// Kept whole: the names, then the statuses, in one pass each over the level.
// NOLINTNEXTLINE(readability-function-cognitive-complexity)
FsError ReadSide(IFileSystem& fs, const DirectoryHandle& dir, const SideReading& how, ListedSide& side) {
    CDirectoryReader reader(fs, dir);
    if (FsError error = reader.List()) {
        return error;
    }
    // The names first, the statuses after: the files' array is then made once at its size,
    // where growing it step by step would leave up to half of it unused.
    std::vector<EntryKind> kinds;
    DirEntry entry;
    while (reader.Next(entry)) {
        ++side.entries;
        if (entry.kind == EntryKind::Directory) {
            if (!LeftOut(how, entry)) {
                side.dirs.push_back(side.dirNames.Add(entry.name));
            }
            continue;
        }
        side.fileNames.Add(entry.name);
        kinds.push_back(entry.kind);
    }
    side.end = reader.End();
    side.files.reserve(kinds.size());
    side.flags.reserve(kinds.size());
    // Until its status is read, an entry's size holds the kind listed with it, so that the kinds
    // travel with the names through the sort without a second array of the level's size.
    side.fileNames.ForEach([&](std::string_view listed) {
        FileEntry& file = side.files.emplace_back();
        file.name = listed;
        file.size = static_cast<std::uint64_t>(kinds[side.files.size() - 1]);
    });
    std::vector<EntryKind>().swap(kinds);
    // In byte order of the name, whatever order the file system lists in: every run, file system
    // and number of threads then visits and logs a level alike. Views into the arenas are sorted,
    // never the names themselves.
    std::sort(side.dirs.begin(), side.dirs.end());
    std::sort(side.files.begin(), side.files.end(),
              [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
    std::string name; // one buffer for every lookup
    for (FileEntry& file : side.files) {
        const std::string_view listed = file.name;
        const auto kind = static_cast<EntryKind>(file.size);
        file.size = 0;
        name.assign(listed);
        std::uint8_t flags = 0;
        // A link's own status: it is mirrored as a link, never followed, so its target may be
        // anything, anywhere or nothing at all.
        FileStatus status;
        if (reader.StatusOf(name, false, status)) {
            flags |= kStatFailed;
        } else {
            SetEntryFromStatus(file, status);
            if (how.source && status.kind == EntryKind::Symlink) {
                SourceLink& link = side.links.emplace_back();
                link.index = static_cast<std::size_t>(&file - side.files.data());
                link.seconds = status.mtimeSeconds;
                link.nanoseconds = status.mtimeNanoseconds;
                link.readError = fs.ReadLinkAt(dir, name, link.target);
            }
            if (how.source && status.kind == EntryKind::Other) {
                flags |= kSpecial;
            }
        }
        if (!how.source) {
            if (kind == EntryKind::Symlink) {
                flags |= kListedLink;
            }
            // A link made beside its destination name is one too, until renamed over it.
            if ((kind == EntryKind::File || kind == EntryKind::Symlink) && IsTemporaryCopyName(listed)) {
                flags |= kTemporary;
            }
        }
        side.flags.push_back(flags);
    }
    return FsError();
}

void CReadAhead::Run(IFileSystem& fs, const Opener& open, const SideReading& how, const std::atomic<int>& stop) {
    if (claimed_.exchange(true)) {
        return;
    }
    std::unique_ptr<Reading> reading;
    if (stop.load() == 0) {
        try {
            reading = std::make_unique<Reading>();
            DirectoryHandle dir;
            reading->error = open(fs, dir);
            if (!reading->error) {
                reading->error = fs.DirectoryStatus(dir, reading->identity);
            }
            if (!reading->error) {
                reading->error = ReadSide(fs, dir, how, reading->side);
            }
        } catch (...) {
            reading.reset(); // the walk reads the side itself and meets the failure there
        }
    }
    result_.Set(std::move(reading));
}

std::unique_ptr<CReadAhead::Reading> CReadAhead::Take() {
    if (!claimed_.exchange(true)) {
        return nullptr;
    }
    return std::move(result_.Wait());
}

FsError TakeOrReadSide(IFileSystem& fs, const DirectoryHandle& dir, CReadAhead* ahead, const SideReading& how,
                       ListedSide& side) {
    if (ahead != nullptr) {
        std::unique_ptr<CReadAhead::Reading> reading = ahead->Take();
        FileStatus here;
        // A failure is met again here, where the walk reports it.
        if (reading != nullptr && !reading->error && !reading->side.end && !fs.DirectoryStatus(dir, here) &&
            here.device == reading->identity.device && here.inode == reading->identity.inode) {
            side = std::move(reading->side);
            return FsError();
        }
    }
    return ReadSide(fs, dir, how, side);
}
