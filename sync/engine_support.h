// Small helpers shared by the engine's files: the file system of a context, log and debug
// output, path joining, ASCII case folding and the failure-line suffix.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "sync/run_context.h"

// The context's file system; every context is given one before it is used.
IFileSystem& FsOf(CRunContext& ctx);

void LogLine(CRunContext& ctx, const std::string& text, LogColour colour);
// A failure of the run: one Red line, and errors + 1.
void LogError(CRunContext& ctx, const std::string& text, std::int32_t& errors);
void PublishStats(CRunContext& ctx, const RunStats& stats);
// Tells the progress sink of one change (IProgressSink::ReportChange).
void ReportChange(CRunContext& ctx, char mark, const std::string& path);

// directory + separator + name; an empty directory stands for the root, and a directory that
// already ends with the separator (the root) gets no second one.
std::string JoinPath(std::string_view directory, std::string_view name);
// The path to hand to the system for a directory path that may be empty (the root).
std::string SystemDirectoryPath(const std::string& directory);
// The part after the last separator; the whole path when there is none.
std::string BaseName(const std::string& path);
// The path without separators at its end; the root keeps its one.
std::string WithoutTrailingSeparators(std::string path);

// ASCII letters folded, every other byte kept.
char FoldAscii(char c);
std::string LowerAscii(std::string_view text);
bool EqualNoCase(std::string_view a, std::string_view b);

// " with error %d: %s" with the system's code and its text, followed by a line feed as the
// system's own messages are.
std::string FailureSuffix(const FsError& error);
// The text of a failure's system code, as in "(No such file or directory)".
std::string ErrorTextOf(const FsError& error);

// The whole of a small file below dir, never read through a link or from a special file (both
// NotSupported or the system's refusal); NotSupported past largest bytes.
FsError ReadSmallFileAt(IFileSystem& fs, const DirectoryHandle& dir, const std::string& name, std::size_t largest,
                        std::string& text);

class CTreeCursor;
// ZapDir for the current level of a cursor (pushed, not necessarily opened).
FsError ZapTreeAt(CRunContext& ctx, CTreeCursor& tree, std::int32_t& filesDeleted);
// The files ZapTreeAt would delete and count there, read without changing anything. A level that
// cannot be listed adds what was listed of it; the removal stops at it anyway.
std::int32_t CountTreeAt(CRunContext& ctx, CTreeCursor& tree);

class DirectoryHandle;
// Writes the destination's file system to its device, once per task before it is reported
// done. A failure is a Red line and an error.
void FlushDestination(CRunContext& ctx, const DirectoryHandle& dir, const std::string& destination, RunStats& stats);

struct FileEntry;
// The part of YStat after the status query, for callers that already hold the status.
bool FillEntryFromStatus(FileEntry& entry, CRunContext& ctx, const std::string& path, const FileStatus& status);
// Its two halves: the fields, which any thread may fill, and the debug line, which the walk
// writes in listing order (false when even that failed).
void SetEntryFromStatus(FileEntry& entry, const FileStatus& status);
bool LogEntryStatus(CRunContext& ctx, const std::string& path, const FileEntry& entry);
