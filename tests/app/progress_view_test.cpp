// The progress display's figures: table texts, bar values and segment widths.
#include <gtest/gtest.h>

#include "app/progress_view.h"

namespace {

CLargeNumber MiB(std::uint32_t count) {
    return CLargeNumber(count) * CLargeNumber(1048576u);
}

ProgressSnapshot Snapshot(CLargeNumber sourceSize, CLargeNumber changed, CLargeNumber added) {
    ProgressSnapshot snapshot;
    snapshot.stats.sourceSize = sourceSize;
    snapshot.stats.bytesChanged = changed;
    snapshot.stats.bytesNew = added;
    return snapshot;
}

} // namespace

TEST(ProgressView, BarOfThirtyTenZeroSixtyMiB) {
    // 40 MiB seen of which 10 changed and nothing new; 100 MiB counted.
    const ProgressView view = ComputeProgressView(Snapshot(MiB(40), MiB(10), CLargeNumber()), MiB(100), NowLocal());
    EXPECT_EQ(view.barValues, (std::array<int, 4>{30, 10, 0, 60}));
    const BarLayout layout = ComputeBarLayout(view.barValues, 200);
    EXPECT_EQ(layout.width, (std::array<int, 4>{60, 20, 0, 120}));
    EXPECT_EQ(layout.left, (std::array<int, 4>{0, 60, 80, 80}));
    EXPECT_EQ(view.cells[RowSame][2], "30 MiB");
    EXPECT_EQ(view.cells[RowChanged][2], "10 MiB");
    EXPECT_EQ(view.cells[RowTotal][2], "40 MiB");
}

TEST(ProgressView, BeforeAnyRunEverythingIsZeroAndTheBarWhite) {
    const ProgressView view = ComputeProgressView(ProgressSnapshot{}, CLargeNumber(), NowLocal());
    EXPECT_EQ(view.cells[RowTime][1], "0");
    for (int row : {RowSame, RowChanged, RowNew, RowDeleted, RowSkipped, RowTotal, RowSaved, RowErrors}) {
        EXPECT_EQ(view.cells[row][1], "0") << row;
    }
    EXPECT_EQ(view.cells[RowHeader][1], "Count");
    EXPECT_EQ(view.cells[RowHeader][2], "Bytes");
    EXPECT_EQ(view.cells[RowDeleted][2], "-");
    EXPECT_EQ(view.cells[RowErrors][0], "Errors:");
    EXPECT_EQ(view.highlightedRow, -1);
    const BarLayout layout = ComputeBarLayout(view.barValues, 300);
    EXPECT_EQ(layout.width, (std::array<int, 4>{0, 0, 0, 0}));
    // A start time equal to the local time of the epoch also means "not started".
    ProgressSnapshot epoch;
    epoch.startTime = LocalFromTime(0);
    EXPECT_EQ(ComputeProgressView(epoch, CLargeNumber(), NowLocal()).cells[RowTime][1], "0");
}

TEST(ProgressView, FilesUnderOneMiBLeaveTheBarWhite) {
    const ProgressView view =
        ComputeProgressView(Snapshot(CLargeNumber(900000u), CLargeNumber(100000u), CLargeNumber(100000u)),
                            CLargeNumber(1000000u), NowLocal());
    EXPECT_EQ(view.barValues, (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_EQ(ComputeBarLayout(view.barValues, 300).width, (std::array<int, 4>{0, 0, 0, 0}));
}

TEST(ProgressView, ErrorsRowTurnsRedAndBack) {
    ProgressSnapshot snapshot;
    snapshot.stats.errors = 1;
    EXPECT_EQ(ComputeProgressView(snapshot, CLargeNumber(), NowLocal()).highlightedRow, RowErrors);
    snapshot.stats.errors = 0;
    EXPECT_EQ(ComputeProgressView(snapshot, CLargeNumber(), NowLocal()).highlightedRow, -1);
}

TEST(ProgressView, SameBytesNeverNegative) {
    const ProgressView view = ComputeProgressView(Snapshot(MiB(5), MiB(4), MiB(3)), CLargeNumber(), NowLocal());
    EXPECT_EQ(view.cells[RowSame][2], "0 B");
    EXPECT_EQ(view.barValues[SegSame], 0);
    EXPECT_EQ(view.barValues[SegRemaining], 0); // not counted: nothing remaining
}

TEST(ProgressView, MoreBytesSeenThanCountedFillsTheBarWithoutOverflow) {
    // 80 MiB seen (50 same, 20 changed, 10 new) although counting found only 60 MiB.
    const ProgressView view = ComputeProgressView(Snapshot(MiB(80), MiB(20), MiB(10)), MiB(60), NowLocal());
    EXPECT_EQ(view.barValues, (std::array<int, 4>{50, 20, 10, 0}));
    const BarLayout layout = ComputeBarLayout(view.barValues, 160);
    EXPECT_EQ(layout.width, (std::array<int, 4>{100, 40, 20, 0}));
    // Even values that are negative (as a raw difference would be) stay inside the edge.
    const BarLayout odd = ComputeBarLayout({50, 20, 10, -20}, 160);
    int right = 0;
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(odd.width[i], 0);
        right = std::max(right, odd.left[i] + odd.width[i]);
    }
    EXPECT_LE(right, 160);
}

TEST(ProgressView, CountsAndElapsedTime) {
    ProgressSnapshot snapshot;
    snapshot.stats.changed = 2;
    snapshot.stats.same = 3;
    snapshot.stats.deleted = 4;
    snapshot.stats.skipped = 5;
    snapshot.stats.newFiles = 6;
    snapshot.stats.saved = 7;
    snapshot.stats.sourceCount = 11;
    const DateTime now = NowLocal();
    snapshot.startTime = now - 61.0 / 86400.0;
    const ProgressView view = ComputeProgressView(snapshot, CLargeNumber(), now);
    EXPECT_EQ(view.cells[RowChanged][1], "2");
    EXPECT_EQ(view.cells[RowSame][1], "3");
    EXPECT_EQ(view.cells[RowDeleted][1], "4");
    EXPECT_EQ(view.cells[RowSkipped][1], "5");
    EXPECT_EQ(view.cells[RowNew][1], "6");
    EXPECT_EQ(view.cells[RowSaved][1], "7");
    EXPECT_EQ(view.cells[RowTotal][1], "11");
    EXPECT_EQ(view.cells[RowTime][1], "1m 1s");
}

// After a preview, deletions to come must stand out; a real run's deletions are done and need no
// warning.
TEST(ProgressView, APreviewThatWouldDeleteWarnsOnTheDeletedRow) {
    ProgressSnapshot snapshot;
    snapshot.stats.deleted = 3;
    EXPECT_FALSE(ComputeProgressView(snapshot, CLargeNumber(), NowLocal()).deletionWarning);
    snapshot.preview = true;
    const ProgressView warned = ComputeProgressView(snapshot, CLargeNumber(), NowLocal());
    EXPECT_TRUE(warned.deletionWarning);
    EXPECT_EQ(warned.cells[RowDeleted][1], "3");
    snapshot.stats.deleted = 0;
    EXPECT_FALSE(ComputeProgressView(snapshot, CLargeNumber(), NowLocal()).deletionWarning);

    CProgressModel model;
    model.SetState(RunStats{}, 0.0, true);
    EXPECT_FALSE(model.View(CLargeNumber(), NowLocal()).deletionWarning);
    RunStats stats;
    stats.deleted = 1;
    model.SetState(stats, NowLocal(), true);
    EXPECT_TRUE(model.View(CLargeNumber(), NowLocal()).deletionWarning);
    model.SetState(stats, NowLocal(), false);
    EXPECT_FALSE(model.View(CLargeNumber(), NowLocal()).deletionWarning);
}
