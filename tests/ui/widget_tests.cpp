// The small window classes on a real X server: the task list, the log list, the link, the
// options dialog, the anchor layout and the painted progress display.
#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "gui_test_support.h"
#include "ui/about_dlg.h"
#include "ui/hscroll_list_box.h"
#include "ui/hyper_link.h"
#include "ui/icons.h"
#include "ui/list_box_ebx.h"
#include "ui/options_dlg.h"
#include "ui/progress_display.h"
#include "ui/resizing_dialog.h"

namespace {

// A frame destroyed with the test.
struct CTestFrame {
    wxFrame* frame;
    CTestFrame() : frame(new wxFrame(nullptr, wxID_ANY, "test", wxPoint(0, 0), wxSize(600, 500))) {}
    ~CTestFrame() {
        frame->Destroy();
        PumpEvents(std::chrono::milliseconds(10));
    }
};

bool Near(const wxColour& a, const wxColour& b, int tolerance = 8) {
    return std::abs(a.Red() - b.Red()) <= tolerance && std::abs(a.Green() - b.Green()) <= tolerance &&
           std::abs(a.Blue() - b.Blue()) <= tolerance;
}

std::string ColourText(const wxColour& c) {
    return std::to_string(c.Red()) + "," + std::to_string(c.Green()) + "," + std::to_string(c.Blue());
}

} // namespace

TEST(TaskListDrawing, SwitchWordsInTheirOrder) {
    Task task;
    task.recurse = false;
    EXPECT_EQ(SwitchWords(task), "");
    task.recurse = true;
    task.fakeIt = true;
    EXPECT_EQ(SwitchWords(task), "recurse, fake");
    task = Task{};
    task.recurse = false;
    task.safeMode = true;
    EXPECT_EQ(SwitchWords(task), "safe");
    task.recurse = task.checkOpen = task.fakeIt = task.rename = true;
    task.versionDays = 1;
    EXPECT_EQ(SwitchWords(task), "recurse, safe, check, fake, rename, versions");
}

TEST(TaskListDrawing, ItemsRecordsAndHitTesting) {
    CTestFrame f;
    auto* list = new CListBoxEBX(f.frame, 1000);
    f.frame->Show();
    PumpEvents();
    EXPECT_EQ(list->InsertItem(1, "x"), -1);
    EXPECT_EQ(list->ItemRecord(0), nullptr);
    EXPECT_EQ(list->AddItem("a\nb\nc\nd\ne"), 0);
    EXPECT_EQ(list->AddItem("f\ng\nh\ni\n"), 1);
    EXPECT_EQ(list->InsertItem(0, "first"), 0);
    EXPECT_EQ(list->Count(), 3);
    EXPECT_EQ(list->ItemText(1), "a\nb\nc\nd\ne");
    ASSERT_NE(list->ItemRecord(2), nullptr);
    EXPECT_EQ(list->ItemRecord(2)->background, kSystemColour);
    EXPECT_EQ(list->ItemRecord(3), nullptr);
    EXPECT_EQ(list->ItemRecord(-1), nullptr); // no selection
    list->SetSelection(1);
    EXPECT_EQ(list->ItemRecord(-1), list->ItemRecord(1));

    const int line = list->LineHeight();
    // The cards' text is as large as the desktop's other text: a label's line in the default font.
    auto* label = new wxStaticText(f.frame, wxID_ANY, "M");
    EXPECT_GE(line, label->GetTextExtent("M").GetHeight());
    list->SetItemHeightPx(4 * line);
    PumpEvents();
    const wxPoint origin = list->ClientToScreen(wxPoint(0, 0));
    EXPECT_EQ(list->ItemFromPoint(origin + wxPoint(20, 2)), 0);
    EXPECT_EQ(list->ItemFromPoint(origin + wxPoint(20, 4 * line + 6 + 2)), 1);
    // Empty space below the last card hits nothing.
    EXPECT_EQ(list->ItemFromPoint(origin + wxPoint(20, 3 * (4 * line + 6) + 10)), -1);
    list->DeleteFirstItem();
    EXPECT_EQ(list->Count(), 2);
    list->RemoveAll();
    EXPECT_EQ(list->Count(), 0);
}

TEST(LogList, HorizontalExtentFollowsTheWidestLine) {
    CTestFrame f;
    auto* list = new CHScrollListBox(f.frame, 1006);
    EXPECT_EQ(list->HorizontalExtent(), 0);
    list->AddString("short");
    const int small = list->HorizontalExtent();
    EXPECT_GT(small, 0);
    list->AddString(std::string(200, 'W'));
    const int wide = list->HorizontalExtent();
    EXPECT_GT(wide, small);
    list->AddString("medium medium medium");
    const int medium = list->GetTextExtent("medium medium medium").GetWidth() + 3;
    EXPECT_EQ(list->HorizontalExtent(), wide);
    list->DeleteString(1);
    EXPECT_EQ(list->HorizontalExtent(), medium);
    list->ResetContent();
    EXPECT_EQ(list->HorizontalExtent(), 0);
    EXPECT_EQ(list->GetCount(), 0u);
}

TEST(HyperLink, ColoursAndFailureText) {
    CTestFrame f;
    auto* link = new CHyperLink(f.frame, 1022, "");
    link->SetURL("https://pemo.example.org/");
    EXPECT_EQ(link->GetLabel(), "https://pemo.example.org/");
    EXPECT_EQ(link->GetToolTipText(), "https://pemo.example.org/");
    EXPECT_EQ(link->CurrentColour(), wxColour(0, 0, 238));
    link->SetOver(true);
    EXPECT_NE(link->CurrentColour(), wxColour(0, 0, 238));
    link->SetOver(false);

    std::string shown;
    link->showFailure = [&shown](const std::string& text) { shown = text; };
    link->opener = [](const std::string&, ShellOpenDone done) {
        done(31);
        return true;
    };
    link->Open();
    EXPECT_EQ(shown,
              "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.");
    EXPECT_FALSE(link->IsVisited());
    EXPECT_EQ(link->CurrentColour(), wxColour(0, 0, 238));

    link->opener = [](const std::string&, ShellOpenDone done) {
        done(42);
        return true;
    };
    shown.clear();
    link->Open();
    EXPECT_TRUE(shown.empty());
    EXPECT_TRUE(link->IsVisited());
    EXPECT_EQ(link->CurrentColour(), wxColour(85, 26, 139));
    EXPECT_EQ(HyperlinkFailureReason(99), "Unknown Error (99) occurred.");
    EXPECT_EQ(HyperlinkFailureReason(2), "The specified file was not found.");
}

TEST(HyperLink, RealOpenerReportsAMissingFile) {
    CTestFrame f;
    auto* link = new CHyperLink(f.frame, 1022, "");
    link->SetURL("/nonexistent/pemo-no-such-file.htm");
    std::string shown;
    link->showFailure = [&shown](const std::string& text) { shown = text; };
    link->Open();
    // xdg-open exits with "file not found" (2) or, without a desktop database, "no tool" (3).
    ASSERT_TRUE(PumpUntil([&] { return !shown.empty(); }, std::chrono::seconds(20)));
    EXPECT_EQ(shown.rfind("Unable to open hyperlink:\n\n", 0), 0u) << shown;
    EXPECT_FALSE(link->IsVisited());
}

TEST(OptionsDialog, ValuesMapToControlsAndBack) {
    YOptionsDlg dialog(nullptr);
    dialog.compactView = true;
    dialog.countAtStart = false;
    dialog.debug = true;
    dialog.stayAwakeMethod = 2;
    dialog.emptyGuard = false;
    dialog.TransferDataToWindow();
    dialog.compactView = false;
    dialog.debug = false;
    dialog.stayAwakeMethod = 0;
    dialog.emptyGuard = true;
    dialog.TransferDataFromWindow();
    EXPECT_TRUE(dialog.compactView);
    EXPECT_FALSE(dialog.countAtStart);
    EXPECT_TRUE(dialog.debug);
    EXPECT_EQ(dialog.stayAwakeMethod, 2);
    EXPECT_FALSE(dialog.emptyGuard);
    auto* guard = dynamic_cast<wxCheckBox*>(dialog.FindWindow(YOptionsDlg::IdEmptyGuard));
    ASSERT_NE(guard, nullptr);
    EXPECT_EQ(guard->GetLabel(), "Refuse to empty a destination when its source is empty");
    guard->SetValue(true);
    dialog.TransferDataFromWindow();
    EXPECT_TRUE(dialog.emptyGuard);
    // A stored value outside the list shows no entry and comes back as -1.
    dialog.stayAwakeMethod = 7;
    dialog.TransferDataToWindow();
    dialog.TransferDataFromWindow();
    EXPECT_EQ(dialog.stayAwakeMethod, -1);
}

TEST(ResizingDialog, AnchorModes) {
    const AnchorRect r{10, 20, 110, 70};
    EXPECT_EQ(MoveAnchorRect(r, AnchorMode::Fixed, AnchorMode::Fixed, 30, 40), r);
    EXPECT_EQ(MoveAnchorRect(r, AnchorMode::Stretch, AnchorMode::Stretch, 30, 40), (AnchorRect{10, 20, 140, 110}));
    EXPECT_EQ(MoveAnchorRect(r, AnchorMode::Move, AnchorMode::Fixed, 30, 40), (AnchorRect{40, 20, 140, 70}));
    EXPECT_EQ(MoveAnchorRect(r, AnchorMode::Fixed, AnchorMode::Move, 30, 40), (AnchorRect{10, 60, 110, 110}));
}

TEST(ResizingDialog, ControlsFollowAndComeBack) {
    auto* dialog = new CResizingDialog(nullptr, wxID_ANY, "resize");
    dialog->SetClientSize(400, 300);
    auto* stretch = new wxPanel(dialog->Client(), 1, wxPoint(10, 10), wxSize(200, 100));
    auto* move = new wxPanel(dialog->Client(), 2, wxPoint(300, 10), wxSize(50, 20));
    auto* fixed = new wxPanel(dialog->Client(), 3, wxPoint(10, 250), wxSize(50, 20));
    dialog->Show();
    PumpEvents();
    dialog->AddAnchor(stretch, AnchorMode::Stretch, AnchorMode::Stretch);
    dialog->AddAnchor(move, AnchorMode::Move, AnchorMode::Fixed);
    dialog->AddAnchor(fixed, AnchorMode::Fixed, AnchorMode::Move);
    dialog->InitResizing();
    const wxSize start = dialog->GetSize();
    EXPECT_EQ(dialog->GetMinSize(), start);

    dialog->SetSize(start + wxSize(100, 60));
    ASSERT_TRUE(PumpUntil([&] { return stretch->GetSize() == wxSize(300, 160); }, std::chrono::seconds(5)))
        << stretch->GetSize().x << "x" << stretch->GetSize().y;
    EXPECT_EQ(move->GetPosition(), wxPoint(400, 10));
    EXPECT_EQ(move->GetSize(), wxSize(50, 20));
    EXPECT_EQ(fixed->GetPosition(), wxPoint(10, 310));

    dialog->SetSize(start);
    ASSERT_TRUE(PumpUntil([&] { return stretch->GetSize() == wxSize(200, 100); }, std::chrono::seconds(5)));
    EXPECT_EQ(stretch->GetPosition(), wxPoint(10, 10));
    EXPECT_EQ(move->GetPosition(), wxPoint(300, 10));
    EXPECT_EQ(fixed->GetPosition(), wxPoint(10, 250));
    dialog->Destroy();
    PumpEvents();
}

TEST(ProgressDisplay, PaintedColoursOnScreen) {
    CTestFrame f;
    f.frame->SetPosition(wxPoint(0, 0));
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* list = new CListBoxEBX(f.frame, 1000);
    list->SetMinSize(wxSize(500, 120));
    auto* table = new CColoredListCtrl(f.frame, 1069);
    table->SetMinSize(wxSize(300, 260));
    auto* bar = new CProgressBarPainter(f.frame, 1051);
    bar->SetMinSize(wxSize(204, 20));
    sizer->Add(list, 0, wxALL, 5);
    sizer->Add(table, 0, wxALL, 5);
    sizer->Add(bar, 0, wxALL, 5);
    f.frame->SetSizer(sizer);
    f.frame->Layout();
    table->Build();
    Task task;
    task.name = "Photos";
    task.colour = 0x00C0FFFF; // light yellow
    list->SetItemHeightPx(4 * list->LineHeight());
    list->AddItem("Photos\n/home/a\n/backup/a\n*.tmp\n01/02/26 10:00");
    list->ItemRecord(0)->task = &task;
    list->ItemRecord(0)->background = task.colour;
    bar->SetValues({30, 10, 0, 60});
    f.frame->Show();
    f.frame->Raise();
    PumpEvents(std::chrono::milliseconds(400));

    const BarLayout layout = bar->CurrentLayout();
    ASSERT_EQ(layout.width, (std::array<int, 4>{60, 20, 0, 120}));
    const wxPoint barOrigin = bar->ClientToScreen(wxPoint(2, 2));
    const wxPoint cardOrigin = list->ClientToScreen(wxPoint(0, 0));
    const wxRect row1 = [&] {
        wxRect r;
        table->GetItemRect(RowSame, r);
        r.SetPosition(table->ClientToScreen(r.GetPosition()));
        return r;
    }();
    const std::vector<wxPoint> points = {
        barOrigin + wxPoint(30, 8),                                         // same
        barOrigin + wxPoint(70, 8),                                         // changed
        barOrigin + wxPoint(150, 8),                                        // remaining
        bar->ClientToScreen(wxPoint(0, 10)),                                // border
        cardOrigin + wxPoint(250, 4 * list->LineHeight() + 2),              // card background
        wxPoint(row1.GetRight() - 5, row1.GetTop() + row1.GetHeight() / 2), // legend row
    };
    std::vector<wxColour> colours;
    ASSERT_TRUE(ScreenPixels(points, colours));
    EXPECT_TRUE(Near(colours[0], wxColour(153, 155, 255))) << ColourText(colours[0]);
    EXPECT_TRUE(Near(colours[1], wxColour(231, 162, 111))) << ColourText(colours[1]);
    EXPECT_TRUE(Near(colours[2], wxColour(255, 255, 255))) << ColourText(colours[2]);
    EXPECT_TRUE(Near(colours[3], wxColour(0, 0, 0), 40)) << ColourText(colours[3]);
    EXPECT_TRUE(Near(colours[4], wxColour(255, 255, 192))) << ColourText(colours[4]);
    EXPECT_TRUE(Near(colours[5], wxColour(153, 155, 255))) << ColourText(colours[5]);

    // The switch words are green, right-aligned on the first line of the card.
    std::vector<wxPoint> lineOne;
    const int width = list->GetClientSize().GetWidth();
    for (int x = width / 2; x < width; ++x) {
        for (int y = 3; y < 3 + list->LineHeight(); ++y) {
            lineOne.push_back(cardOrigin + wxPoint(x, y));
        }
    }
    ASSERT_TRUE(ScreenPixels(lineOne, colours));
    int green = 0;
    for (const wxColour& c : colours) {
        green += Near(c, wxColour(0, 128, 0), 30) ? 1 : 0;
    }
    EXPECT_GT(green, 5);
}

TEST(AboutBox, TextsAndLink) {
    YAboutDlg about(nullptr);
    EXPECT_EQ(about.GetTitle(), "About Pemo");
    ASSERT_NE(about.Link(), nullptr);
    EXPECT_EQ(about.Link()->URL(), kPemoWebAddress);
    EXPECT_EQ(about.Link()->GetId(), 1022);
    EXPECT_TRUE(about.Link()->GetFont().GetUnderlined());
    bool found = false;
    for (wxWindow* child : about.GetChildren()) {
        found = found || child->GetLabel().StartsWith("Pemo v3.00 - file synchronisation software\n");
    }
    EXPECT_TRUE(found);
    EXPECT_NE(about.FindWindow(wxID_OK), nullptr);
}

TEST(Icons, EveryIconRendersAndTheAnimationFramesDiffer) {
    auto pixels = [](int id) {
        const wxImage image = PemoIconBitmap(id).GetBitmap(wxSize(32, 32)).ConvertToImage();
        EXPECT_TRUE(image.IsOk()) << id;
        EXPECT_EQ(image.GetWidth(), 32) << id;
        return std::string(reinterpret_cast<const char*>(image.GetData()), 32 * 32 * 3);
    };
    for (int id : {iconIdle, iconWindow, iconWorking, iconWorkingAlt, iconCopying, iconCopyingAlt, iconPaused}) {
        EXPECT_NE(PemoIconSvg(id), nullptr) << id;
    }
    EXPECT_EQ(PemoIconSvg(999), nullptr);
    EXPECT_NE(pixels(iconWorking), pixels(iconWorkingAlt));
    EXPECT_NE(pixels(iconCopying), pixels(iconCopyingAlt));
    EXPECT_NE(pixels(iconWorking), pixels(iconCopying));
    EXPECT_NE(pixels(iconIdle), pixels(iconPaused));
    EXPECT_FALSE(PemoIconBundle(iconWindow).IsEmpty());
}

TEST(TaskListDrawing, DisabledCardsAreGreyButKeepTheirColours) {
    CTestFrame f;
    f.frame->SetPosition(wxPoint(0, 0));
    auto* list = new CListBoxEBX(f.frame, 1000);
    list->SetSize(0, 0, 500, 200);
    Task on;
    on.name = "WWWWWWWW";
    Task off = on;
    off.enabled = false;
    list->SetItemHeightPx(4 * list->LineHeight());
    for (Task* task : {&on, &off}) {
        const int index = list->AddItem(task->name + "\n/src\n/dst\n\n");
        list->ItemRecord(index)->task = task;
        list->ItemRecord(index)->background = 0x00C0FFFF;
        list->ItemRecord(index)->disabled = !task->enabled;
    }
    f.frame->Show();
    f.frame->Raise();
    PumpEvents(std::chrono::milliseconds(300));
    const int cardHeight = 4 * list->LineHeight() + 6;
    auto count = [&](int card, const wxColour& colour, int& background) {
        std::vector<wxPoint> points;
        for (int x = 3; x < 120; ++x) {
            for (int y = 3; y < 3 + list->LineHeight(); ++y) {
                points.push_back(list->ClientToScreen(wxPoint(x, card * cardHeight + y)));
            }
        }
        std::vector<wxColour> colours;
        EXPECT_TRUE(ScreenPixels(points, colours));
        int hits = 0;
        background = 0;
        for (const wxColour& c : colours) {
            hits += Near(c, colour, 40) ? 1 : 0;
            background += Near(c, wxColour(255, 255, 192)) ? 1 : 0;
        }
        return hits;
    };
    int background = 0;
    EXPECT_GT(count(0, wxColour(0, 0, 255), background), 5); // the name in blue
    EXPECT_GT(background, 100);
    EXPECT_EQ(count(1, wxColour(0, 0, 255), background), 0); // disabled: no blue
    EXPECT_GT(count(1, wxColour(128, 128, 128), background), 5);
    EXPECT_GT(background, 100); // and still on its own colour
}
