// Helpers of the engine tests: a run context wired to recording fakes over a fault-injecting
// file system, file times and links, tree snapshots, temporary-file search, deep trees, and
// running a piece of a test as an unprivileged user.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/task.h"
#include "support/current_directory.h"
#include "support/engine_window.h"
#include "support/fake_file_system.h"
#include "support/recording_message_port.h"
#include "support/temp_dir.h"
#include "sync/run_context.h"

struct EngineRig {
    EngineRig();
    EngineRig(const EngineRig&) = delete;
    EngineRig& operator=(const EngineRig&) = delete;

    FakeFileSystem fs;
    RecordingLogSink log;
    EngineWindow window;
    RecordingMessagePort messages;
    CRunContext ctx;
};

// The common ground of the mirroring tests: an empty source "src" and a not yet existing
// destination "dst" in a fresh temporary directory, a rig, a task and the run's counters.
class MirrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        src = tmp / "src";
        dst = tmp / "dst";
        MakeDirectories(src);
    }

    // Mirrors source (default src) into destination (default dst) with the task's exclusions.
    void Run() { Run(src, dst); }
    void Run(const std::string& source, const std::string& destination);
    // A file with a given content and time, its directories made as needed.
    void Put(const std::string& path, const std::string& content = "x", std::int64_t modified = 1600000000);

    TempDir tmp;
    EngineRig rig;
    Task task;
    RunStats stats;
    std::string src;
    std::string dst;
};

void SetModified(const std::string& path, std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t ModifiedOf(const std::string& path);
void MakeLink(const std::string& target, const std::string& path);
bool IsLink(const std::string& path);
// Whether this system makes symbolic links at all (asked once, by making one and reading it back):
// some emulations of Windows report success and make nothing.
bool SystemMakesLinks();
#define SKIP_WITHOUT_LINKS()                                                                                           \
    do {                                                                                                               \
        if (!SystemMakesLinks()) {                                                                                     \
            GTEST_SKIP() << "this system makes no symbolic links";                                                     \
        }                                                                                                              \
    } while (false)
bool IsDirectoryPath(const std::string& path);
// Hides an existing file or directory the way this system does: the hidden attribute on Windows;
// elsewhere its name must already start with a dot.
void MakeHidden(const std::string& path);
// Whether the file system holding dir takes names differing only in letter case as one name.
bool IgnoresCase(const std::string& dir);
// Whether a rename that changes only the letter case of a name takes effect here (asked once):
// some emulations of Windows report success and keep the old name.
bool SystemRenamesCase();

// One line per entry below root, sorted: kind, relative path, size, mode, modification time and
// content (files) or target (links). Equal snapshots mean nothing below root changed.
std::string TreeSnapshot(const std::string& root);
// Paths below root whose name starts with the temporary-copy prefix.
std::vector<std::string> FindTemporaries(const std::string& root);

// Builds root/name/name/... levels deep through directory descriptors, so that the whole path
// may exceed PATH_MAX, and puts a file "leaf.txt" in the deepest level.
void MakeDeepTree(const std::string& root, const std::string& name, int levels);
// Removes a tree of any depth through directory descriptors.
void RemoveTreeAt(const std::string& path);
// Depth of the chain root/name/name/... that exists below root.
int DeepTreeDepth(const std::string& root, const std::string& name);

#ifndef _WIN32
// Runs body in a forked child under uid and gid 65534 with no supplementary groups and returns
// what it returned (through a pipe). Used where permission bits must refuse: root ignores them.
std::string RunAsNobody(const std::function<std::string()>& body);
// Hands the tree to 65534 so the unprivileged child can work in it.
void ChownTree(const std::string& root);
#endif

// The run-log lines of a sink as "Colour: text", one per line, for failure messages.
std::string Dump(const RecordingLogSink& log);

// The debug.log of the current directory decoded to UTF-8 lines (without "\r\n"); empty when
// there is none. bom tells whether the file starts with FF FE.
std::vector<std::string> DebugLogLines(bool* bom = nullptr);
