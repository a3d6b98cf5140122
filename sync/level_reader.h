// ListedSide and ReadSide: one side of a level read whole, every entry with its status and every
// link with its target; CReadAhead: such a reading done on a worker ahead of the walk. Reading logs
// nothing and changes nothing; the walk writes what a reading owes the log when it gets there.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/fs_error.h"
#include "sync/fs_layer.h"
#include "sync/name_arena.h"
#include "sync/worker_pool.h"

// A source entry that is a link: mirrored as a link holding the same target text.
struct SourceLink {
    std::size_t index = 0; // of the entry in the source files
    std::string target;
    FsError readError; // of reading the target; the link is then not mirrored
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
};

// What a listed file is besides its entry.
enum ListedFlag : std::uint8_t {
    kStatFailed = 1, // its status could not be read: the entry holds its name only
    kListedLink = 2, // destination: a link, whatever it points to
    kTemporary = 4,  // destination: a file or link named as this program's copy temporaries
    kSpecial = 8,    // source: a fifo, socket or device, which is never copied
};

struct ListedSide {
    CNameArena fileNames;
    CNameArena dirNames;
    std::vector<FileEntry> files;    // links, whatever they point to, are files here
    std::vector<std::uint8_t> flags; // ListedFlag bits, parallel to files
    std::vector<std::string_view> dirs;
    std::vector<SourceLink> links; // source: the files that are links, in listing order
    std::size_t entries = 0;       // every entry listed, those left out of the lists above included
    FsError end;                   // what broke the listing off; none when it ran to its end

    bool Has(std::size_t index, std::uint8_t flag) const { return (flags[index] & flag) != 0; }
    // The link of file index; null when the file is no link.
    const SourceLink* LinkOf(std::size_t index) const;
    // Everything about the files, memory included; the directories stay.
    void ReleaseFiles();
};

// How a side is read.
struct SideReading {
    bool source = false; // links' targets are read and specials marked; else temporaries marked
    // Source only: subdirectories left out of the listing.
    bool excludeHiddenDirs = false;
    bool excludeSystemDirs = false;
};

// Lists dir and reads the status of every entry that is no directory. None, or why the listing
// could not start; a listing that broke off later says so in side.end.
FsError ReadSide(IFileSystem& fs, const DirectoryHandle& dir, const SideReading& how, ListedSide& side);

// One side of an upcoming level, read on a worker while the walk is busy with earlier levels.
// The walk takes the reading only when the directory it opens on arrival is the one that was
// read; when the worker has not begun, the walk takes the job back and reads the side itself.
class CReadAhead {
public:
    struct Reading {
        FsError error; // of opening, identifying or listing the directory
        FileStatus identity;
        ListedSide side;
    };

    // Opens the directory to be read.
    using Opener = std::function<FsError(IFileSystem& fs, DirectoryHandle& dir)>;

    // On a worker: reads what open opens, unless the walk took the job back or the run stopped.
    void Run(IFileSystem& fs, const Opener& open, const SideReading& how, const std::atomic<int>& stop);

    // On the walk: the worker's reading, or null when there is none to use.
    std::unique_ptr<Reading> Take();

private:
    std::atomic<bool> claimed_{false};
    CJobResult<std::unique_ptr<Reading>> result_;
};

// The side of the open directory dir: as read ahead when the reading is of this very directory
// and met no failure, else read now. ahead may be null.
FsError TakeOrReadSide(IFileSystem& fs, const DirectoryHandle& dir, CReadAhead* ahead, const SideReading& how,
                       ListedSide& side);
