// The toolkit-free half of the progress display: turns a snapshot of the run's figures into the
// statistics table's texts and the four bar values, and the bar values into segment widths.
#pragma once

#include <array>
#include <mutex>
#include <string>

#include "sync/run_context.h"
#include "util/large_number.h"
#include "util/texts.h"

// The figures kept by the window between refreshes; a start time of 0 (or the local time of the
// epoch) means no run has started.
struct ProgressSnapshot {
    RunStats stats;
    DateTime startTime = 0.0;
    // The figures are a preview's: what a real run would do.
    bool preview = false;
};

// Rows of the statistics table, in their display order.
enum StatsRow : int {
    RowHeader = 0,
    RowSame = 1,
    RowChanged = 2,
    RowNew = 3,
    RowDeleted = 4,
    RowSkipped = 5,
    RowTotal = 6,
    RowBlank = 7,
    RowSaved = 8,
    RowErrors = 9,
    RowTime = 10,
    StatsRowCount = 11
};

// The four bar segments in painting order.
enum BarSegment : int { SegSame = 0, SegChanged = 1, SegNew = 2, SegRemaining = 3, BarSegmentCount = 4 };

struct ProgressView {
    std::array<std::array<std::string, 3>, StatsRowCount> cells;
    int highlightedRow = -1; // RowErrors while errors is not 0
    // A preview that would delete files: the Deleted row is shown so that nobody misses it.
    bool deletionWarning = false;
    std::array<int, BarSegmentCount> barValues{}; // whole MiB
};

// The table's fixed texts (row labels and the header) as the table is first built.
ProgressView InitialProgressView();

// Recomputes every text and bar value from the snapshot and the counted source size; now is
// the local time against which the elapsed time is measured.
ProgressView ComputeProgressView(const ProgressSnapshot& snapshot, const CLargeNumber& sourceTotal, DateTime now);

// Left offset and width of each segment inside an inner width of the given pixels. A bar whose
// same, changed and new values are all 0 stays empty (all widths 0). Negative values count as 0,
// so a run that saw more bytes than were counted fills the bar and no segment passes its edge.
struct BarLayout {
    std::array<int, BarSegmentCount> left{};
    std::array<int, BarSegmentCount> width{};
};
BarLayout ComputeBarLayout(const std::array<int, BarSegmentCount>& values, int innerWidth);

// The figures the window shows between refreshes: set from any thread (the runner), turned into
// the view on the user-interface thread.
class CProgressModel {
public:
    void SetState(const RunStats& stats, DateTime startTime, bool preview);
    ProgressSnapshot Snapshot() const;
    ProgressView View(const CLargeNumber& sourceTotal, DateTime now) const;

private:
    mutable std::mutex mutex;
    ProgressSnapshot snapshot;
};
