// Statistics texts, bar values and bar segment widths of the progress display.
#include "app/progress_view.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string IntText(std::int32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%i", static_cast<int>(value));
    return buffer;
}

int WholeMiB(CLargeNumber bytes) {
    if (bytes.IsNegative()) {
        return 0;
    }
    bytes /= CLargeNumber(1024u);
    bytes /= CLargeNumber(1024u);
    return bytes.ToInt();
}

} // namespace

ProgressView InitialProgressView() {
    ProgressView view;
    static const char* const labels[StatsRowCount] = {
        "", "Same:", "Changed:", "New:", "Deleted:", "Skipped:", "Total:", "", "Saved in dest:", "Errors:", "Time:"};
    for (int row = 0; row < StatsRowCount; ++row) {
        view.cells[row][0] = labels[row];
    }
    view.cells[RowHeader][1] = "Count";
    view.cells[RowHeader][2] = "Bytes";
    view.cells[RowDeleted][2] = "-";
    view.cells[RowSkipped][2] = "-";
    return view;
}

ProgressView ComputeProgressView(const ProgressSnapshot& snapshot, const CLargeNumber& sourceTotal, DateTime now) {
    ProgressView view = InitialProgressView();
    const RunStats& s = snapshot.stats;

    const bool started = snapshot.startTime != 0.0 && snapshot.startTime != LocalFromTime(0);
    const std::string elapsed = started ? DurationText(snapshot.startTime, now) : "0";

    CLargeNumber sameBytes = s.sourceSize - s.bytesNew - s.bytesChanged;
    if (sameBytes.IsNegative()) {
        sameBytes = CLargeNumber();
    }

    view.cells[RowTotal][1] = IntText(s.sourceCount);
    view.cells[RowChanged][1] = IntText(s.changed);
    view.cells[RowSame][1] = IntText(s.same);
    view.cells[RowDeleted][1] = IntText(s.deleted);
    view.cells[RowSkipped][1] = IntText(s.skipped);
    view.cells[RowNew][1] = IntText(s.newFiles);
    view.cells[RowSaved][1] = IntText(s.saved);
    view.cells[RowErrors][1] = IntText(s.errors);
    view.highlightedRow = s.errors != 0 ? RowErrors : -1;
    view.deletionWarning = snapshot.preview && s.deleted != 0;

    view.cells[RowNew][2] = SizeText(s.bytesNew);
    view.cells[RowChanged][2] = SizeText(s.bytesChanged);
    view.cells[RowTotal][2] = SizeText(s.sourceSize);
    view.cells[RowSame][2] = SizeText(sameBytes);
    view.cells[RowTime][1] = elapsed;

    // More bytes seen than counted leaves nothing remaining rather than a negative segment.
    CLargeNumber remaining;
    if (!sourceTotal.IsZero()) {
        remaining = sourceTotal - s.sourceSize;
    }
    view.barValues[SegSame] = WholeMiB(sameBytes);
    view.barValues[SegChanged] = WholeMiB(s.bytesChanged);
    view.barValues[SegNew] = WholeMiB(s.bytesNew);
    view.barValues[SegRemaining] = WholeMiB(remaining);
    return view;
}

BarLayout ComputeBarLayout(const std::array<int, BarSegmentCount>& values, int innerWidth) {
    BarLayout layout;
    std::array<long long, BarSegmentCount> v{};
    for (int i = 0; i < BarSegmentCount; ++i) {
        v[i] = std::max(values[i], 0);
    }
    if (innerWidth <= 0 || (v[SegSame] == 0 && v[SegChanged] == 0 && v[SegNew] == 0)) {
        return layout;
    }
    const long long sum = v[0] + v[1] + v[2] + v[3];
    const double scale = static_cast<double>(innerWidth) / static_cast<double>(sum);
    int x = 0;
    for (int i = 0; i < BarSegmentCount; ++i) {
        const int w = std::clamp(static_cast<int>(static_cast<double>(v[i]) * scale), 0, innerWidth - x);
        layout.left[i] = x;
        layout.width[i] = w;
        x += w;
    }
    return layout;
}

void CProgressModel::SetState(const RunStats& stats, DateTime startTime, bool preview) {
    std::lock_guard lock(mutex);
    snapshot.stats = stats;
    snapshot.startTime = startTime;
    snapshot.preview = preview;
}

ProgressSnapshot CProgressModel::Snapshot() const {
    std::lock_guard lock(mutex);
    return snapshot;
}

ProgressView CProgressModel::View(const CLargeNumber& sourceTotal, DateTime now) const {
    return ComputeProgressView(Snapshot(), sourceTotal, now);
}
