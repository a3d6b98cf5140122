// The start options: what the command line asks of the program and of its runs.
#pragma once

#include <cstdint>
#include <string>

struct StartOptions {
    bool show = false;
    bool runAll = false;
    bool stay = false;
    bool shutdown = false;
    bool ignoreErrors = false;
    bool dateLog = false;
    bool logExclusions = false;
    bool noBalloon = false;
    bool autoRun = false;
    bool showDetLog = false;
    // Every task runs as if its fake-it switch were on, and the job is not saved.
    bool fakeIt = false;
    // Without a window: every change on stdout as it happens, and the closing line there too.
    bool verbose = false;
    // Without a window: nothing on stdout, no progress line either.
    bool quiet = false;
    std::string driveLetter;  // empty or one character
    std::string startJobFile; // "default.job" when none is named
    // -maxdelete:N, the most files one run may delete; -1 when not given.
    std::int64_t maxDelete = -1;
    // -undo: with -auto, the last run of each enabled task (or of taskName, -task:NAME) is undone
    // from its kept versions instead of a run.
    bool undo = false;
    std::string taskName;
    // -restore PATH: with -auto, PATH of a task's destination comes back as it was at restoreAt
    // (-at TIME), into the destination or into the folder restoreTo (-to FOLDER); without -at its
    // kept versions are listed.
    bool restore = false;
    std::string restorePath;
    bool restoreAtGiven = false;
    std::int64_t restoreAt = 0;
    int restoreAtSequence = 1; // the _N of a run folder's name given as the time
    std::string restoreTo;
    // Why the command line cannot be used, for "pemo: " + error on stderr and exit status 2;
    // empty when it can.
    std::string error;
};
