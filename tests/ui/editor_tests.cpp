// The task editor: exclusion list editing, the refused characters and the values it hands back.
#include <fstream>

#include <gtest/gtest.h>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "gui_test_support.h"
#include "platform/file_system.h"
#include "ui/edit_job_dlg.h"
#include "ui/hscroll_list_box.h"

namespace {

class EditorTest : public ::testing::Test {
protected:
    void Open(const Task& task) {
        dialog = new YEditJobDlg(nullptr, task, NativeFileSystem());
        dialog->Show();
        PumpEvents();
    }
    void TearDown() override {
        if (dialog) {
            dialog->Destroy();
            PumpEvents(std::chrono::milliseconds(10));
        }
    }
    template <typename T>
    T* Control(int id) {
        return dynamic_cast<T*>(dialog->FindWindow(id));
    }
    wxTextCtrl* Edit(int id) { return Control<wxTextCtrl>(id); }
    CHScrollListBox* List() { return Control<CHScrollListBox>(YEditJobDlg::IdExclusions); }
    bool OkEnabled() { return dialog->FindWindow(wxID_OK)->IsEnabled(); }
    bool WarningShown(int id) { return dialog->FindWindow(id)->IsShown(); }
    std::string WarningText(int id) { return Control<wxStaticText>(id)->GetLabel().utf8_string(); }
    std::vector<std::string> Entries() {
        std::vector<std::string> entries;
        for (unsigned i = 0; i < List()->GetCount(); ++i) {
            entries.push_back(List()->GetString(i).utf8_string());
        }
        return entries;
    }

    YEditJobDlg* dialog = nullptr;
};

const wxColour kTint(255, 128, 128);

} // namespace

TEST_F(EditorTest, ExclusionsLoadWithoutEmptiesAndSaveJoined) {
    Task task;
    task.exclusions = ";a;;b;";
    Open(task);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"a", "b"}));
    // Text typed but not added is added at OK, not dropped; one the list holds is not doubled.
    Edit(YEditJobDlg::IdNewExclusion)->ChangeValue("pending");
    ASSERT_TRUE(dialog->ReadBack());
    EXPECT_EQ(dialog->Values().exclusions, "a;b;pending");
    ASSERT_TRUE(dialog->ReadBack());
    EXPECT_EQ(dialog->Values().exclusions, "a;b;pending");
}

// Enter in the exclusion field adds the item; pressing OK instead would close the editor and lose it.
TEST_F(EditorTest, EnterAddsTheTypedExclusionAndNeverDropsTypedText) {
    Task task;
    task.exclusions = "a";
    dialog = new YEditJobDlg(nullptr, task, NativeFileSystem());
    std::vector<std::string> afterEnter;
    int codeAfterEnter = -1;
    bool closedByEnter = false;
    dialog->CallAfter([&] {
        wxUIActionSimulator input;
        dialog->Raise();
        wxTextCtrl* entry = Edit(YEditJobDlg::IdNewExclusion);
        entry->SetFocus();
        PumpEvents(std::chrono::milliseconds(200));
        entry->ChangeValue("*.bak");
        input.Char(WXK_RETURN);
        PumpUntil([&] { return Entries().size() == 2 || dialog->GetReturnCode() != 0; }, std::chrono::seconds(5));
        afterEnter = Entries();
        codeAfterEnter = dialog->GetReturnCode();

        // Enter in another field is OK, and keeps what was typed in the exclusion field.
        entry->ChangeValue("*.tmp");
        Edit(YEditJobDlg::IdName)->SetFocus();
        PumpEvents(std::chrono::milliseconds(200));
        input.Char(WXK_RETURN);
        closedByEnter = PumpUntil([&] { return dialog->GetReturnCode() == wxID_OK; }, std::chrono::seconds(5));
        if (dialog->GetReturnCode() == 0) {
            dialog->EndModal(wxID_CANCEL); // never leave the test in a modal loop
        }
    });
    const int result = dialog->ShowModal();
    EXPECT_EQ(afterEnter, (std::vector<std::string>{"a", "*.bak"}));
    EXPECT_EQ(codeAfterEnter, 0) << "Enter in the exclusion field must not close the editor";
    EXPECT_TRUE(closedByEnter);
    EXPECT_EQ(result, wxID_OK);
    EXPECT_EQ(dialog->Values().exclusions, "a;*.bak;*.tmp");
}

TEST_F(EditorTest, AddRemoveAndDeleteKeepTheRightSelection) {
    Open(Task{});
    wxTextCtrl* entry = Edit(YEditJobDlg::IdNewExclusion);
    dialog->AddExclusion(); // empty: nothing
    EXPECT_TRUE(Entries().empty());
    for (const char* text : {"one", "two", "three", "two"}) {
        entry->ChangeValue(text);
        dialog->AddExclusion();
    }
    EXPECT_EQ(Entries(), (std::vector<std::string>{"one", "two", "three", "two"}));
    long from = 0, to = 0;
    entry->GetSelection(&from, &to);
    EXPECT_EQ(to - from, 3); // the added text is selected for the next entry

    List()->SetSelection(3);
    dialog->RemoveExclusion(); // the last: the new last is selected
    EXPECT_EQ(Entries(), (std::vector<std::string>{"one", "two", "three"}));
    EXPECT_EQ(List()->GetSelection(), 2);
    List()->SetSelection(0);
    dialog->RemoveExclusion(); // the first: the one that moved up is selected
    EXPECT_EQ(Entries(), (std::vector<std::string>{"two", "three"}));
    EXPECT_EQ(List()->GetSelection(), 0);

    List()->SetSelection(1);
    dialog->DeleteExclusionKey(); // the Delete key on the last leaves no selection
    EXPECT_EQ(Entries(), (std::vector<std::string>{"two"}));
    EXPECT_EQ(List()->GetSelection(), wxNOT_FOUND);

    List()->SetSelection(0);
    dialog->CopyExclusionToEntry();
    EXPECT_EQ(entry->GetValue(), "two");
    ASSERT_TRUE(dialog->ReadBack());
    EXPECT_EQ(dialog->Values().exclusions, "two");
}

TEST_F(EditorTest, PercentInAPathDisablesOkAndTintsTheField) {
    Open(Task{});
    wxTextCtrl* destination = Edit(YEditJobDlg::IdDestination);
    EXPECT_TRUE(OkEnabled());
    EXPECT_FALSE(WarningShown(YEditJobDlg::IdDestinationWarning));
    destination->SetValue("/backup/100%");
    EXPECT_FALSE(OkEnabled());
    EXPECT_FALSE(dialog->DestinationOk());
    EXPECT_TRUE(dialog->SourceOk());
    EXPECT_EQ(destination->GetBackgroundColour(), kTint);
    EXPECT_TRUE(WarningShown(YEditJobDlg::IdDestinationWarning));
    EXPECT_FALSE(WarningShown(YEditJobDlg::IdSourceWarning));
    EXPECT_EQ(WarningText(YEditJobDlg::IdDestinationWarning), "The Percent character can't be used in a path");
    EXPECT_FALSE(dialog->ReadBack());

    destination->SetValue("/backup/100");
    EXPECT_TRUE(OkEnabled());
    EXPECT_NE(destination->GetBackgroundColour(), kTint);
    EXPECT_FALSE(WarningShown(YEditJobDlg::IdDestinationWarning));

    Edit(YEditJobDlg::IdSource)->SetValue("%HOME%");
    EXPECT_FALSE(OkEnabled());
    EXPECT_TRUE(WarningShown(YEditJobDlg::IdSourceWarning));
}

TEST_F(EditorTest, ValuesTheJobFileCannotHoldAreRefused) {
    Open(Task{});
    struct Case {
        int field;
        int warning;
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {YEditJobDlg::IdName, YEditJobDlg::IdNameWarning, "a<b", "The \"<\" character can't be used in a name"},
        {YEditJobDlg::IdName, YEditJobDlg::IdNameWarning, "two\nlines", "A line break can't be used in a name"},
        {YEditJobDlg::IdSource, YEditJobDlg::IdSourceWarning, "/data/<x>",
         "The \"<\" character can't be used in a path"},
        {YEditJobDlg::IdDestination, YEditJobDlg::IdDestinationWarning, "/b\r\nc",
         "A line break can't be used in a path"},
        {YEditJobDlg::IdNewExclusion, YEditJobDlg::IdExclusionWarning, "<SRC>",
         "The \"<\" character can't be used in an exclusion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        wxTextCtrl* field = Edit(c.field);
        field->SetValue(wxString::FromUTF8(c.text));
        EXPECT_FALSE(OkEnabled());
        EXPECT_EQ(field->GetBackgroundColour(), kTint);
        EXPECT_TRUE(WarningShown(c.warning));
        EXPECT_EQ(WarningText(c.warning), c.expected);
        EXPECT_FALSE(dialog->ReadBack());
        field->SetValue("fine");
        EXPECT_TRUE(OkEnabled());
        EXPECT_FALSE(WarningShown(c.warning));
    }
    // A refused exclusion cannot be added either.
    Edit(YEditJobDlg::IdNewExclusion)->SetValue("a<b");
    EXPECT_FALSE(dialog->FindWindow(YEditJobDlg::IdAdd)->IsEnabled());
    dialog->AddExclusion();
    EXPECT_TRUE(Entries().empty());
}

TEST_F(EditorTest, NewTaskDefaultsAndEveryFieldComesBack) {
    Task fresh;
    fresh.colour = 0xFFFFFF;
    Open(fresh);
    EXPECT_TRUE(Control<wxCheckBox>(YEditJobDlg::IdEnabled)->GetValue());
    EXPECT_TRUE(Control<wxCheckBox>(YEditJobDlg::IdRecurse)->GetValue());
    for (int id : {YEditJobDlg::IdSafeMode, YEditJobDlg::IdCheckOpen, YEditJobDlg::IdFakeIt,
                   YEditJobDlg::IdExcludeHidden, YEditJobDlg::IdExcludeSystem, YEditJobDlg::IdExcludeHiddenDirs,
                   YEditJobDlg::IdExcludeSystemDirs, YEditJobDlg::IdRename, YEditJobDlg::IdOneHour}) {
        EXPECT_FALSE(Control<wxCheckBox>(id)->GetValue()) << id;
    }
    EXPECT_EQ(dialog->Colour(), wxColour(255, 255, 255));
    EXPECT_FALSE(dialog->FindWindow(YEditJobDlg::IdOnlyIfNewer)->IsShown());

    Edit(YEditJobDlg::IdName)->SetValue("Photos");
    Edit(YEditJobDlg::IdSource)->SetValue("/home/me/photos");
    Edit(YEditJobDlg::IdDestination)->SetValue("/media/backup/photos");
    for (int id :
         {YEditJobDlg::IdSafeMode, YEditJobDlg::IdFakeIt, YEditJobDlg::IdOneHour, YEditJobDlg::IdOnlyIfNewer}) {
        Control<wxCheckBox>(id)->SetValue(true);
    }
    Control<wxCheckBox>(YEditJobDlg::IdRecurse)->SetValue(false);
    EXPECT_TRUE(Control<wxCheckBox>(YEditJobDlg::IdMustBeMounted)->GetValue()) << "a new task's removable disk";
    Control<wxChoice>(YEditJobDlg::IdLinkPolicy)->SetSelection(2);
    EXPECT_FALSE(Control<wxCheckBox>(YEditJobDlg::IdKeepVersions)->GetValue());
    EXPECT_EQ(Control<wxSpinCtrl>(YEditJobDlg::IdVersionDays)->GetValue(), kDefaultVersionDays);
    Control<wxCheckBox>(YEditJobDlg::IdKeepVersions)->SetValue(true);
    Control<wxSpinCtrl>(YEditJobDlg::IdVersionDays)->SetValue(14);
    Control<wxSpinCtrl>(YEditJobDlg::IdVersionCount)->SetValue(3);
    dialog->colourPicker = [](wxColour& colour) {
        colour = wxColour(0x12, 0x34, 0x56);
        return true;
    };
    dialog->PickColour();
    ASSERT_TRUE(dialog->ReadBack());
    const Task& t = dialog->Values();
    EXPECT_EQ(t.name, "Photos");
    EXPECT_EQ(t.source, "/home/me/photos");
    EXPECT_EQ(t.destination, "/media/backup/photos");
    EXPECT_TRUE(t.enabled);
    EXPECT_FALSE(t.recurse);
    EXPECT_TRUE(t.safeMode);
    EXPECT_TRUE(t.fakeIt);
    EXPECT_TRUE(t.oneHour);
    EXPECT_TRUE(t.onlyIfNewer);
    EXPECT_FALSE(t.rename);
    EXPECT_TRUE(t.mustBeMounted);
    EXPECT_EQ(t.linkPolicy, LinkPolicy::CopyTarget);
    EXPECT_EQ(t.versionDays, 14);
    EXPECT_EQ(t.versionCount, 3);
    EXPECT_EQ(t.colour, 0x00563412u);

    // A cancelled colour choice keeps the colour.
    dialog->colourPicker = [](wxColour& colour) {
        colour = *wxRED;
        return false;
    };
    dialog->PickColour();
    EXPECT_EQ(dialog->Colour(), wxColour(0x12, 0x34, 0x56));
}

// The Browse... buttons: which chooser each one asks for, where it starts, and that a chosen path
// goes through the field's checks as a typed one does.
TEST_F(EditorTest, BrowseFillsThePathFieldsThroughTheirChecks) {
    CGuiTempDir dir;
    std::filesystem::create_directories(dir.Path() / "photos");
    Task task;
    task.source = dir.File("photos/not-yet/deeper");
    task.destination = "/backup";
    Open(task);
    struct Asked {
        YEditJobDlg::PathKind kind;
        std::string typed;
    };
    std::vector<Asked> asked;
    std::string answer;
    bool accept = true;
    dialog->pathChooser = [&](YEditJobDlg::PathKind kind, const std::string& typed, std::string& chosen) {
        asked.push_back({kind, typed});
        chosen = answer;
        return accept;
    };
    auto click = [&](int id) {
        wxCommandEvent event(wxEVT_BUTTON, id);
        event.SetEventObject(dialog->FindWindow(id));
        dialog->FindWindow(id)->GetEventHandler()->ProcessEvent(event);
    };

    answer = dir.File("photos");
    click(YEditJobDlg::IdBrowseSource);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].kind, YEditJobDlg::PathKind::Directory);
    EXPECT_EQ(asked[0].typed, dir.File("photos/not-yet/deeper"));
    EXPECT_EQ(Edit(YEditJobDlg::IdSource)->GetValue().utf8_string(), dir.File("photos"));

    answer = dir.File("photos/one.jpg");
    click(YEditJobDlg::IdBrowseSourceFile);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[1].kind, YEditJobDlg::PathKind::File);
    EXPECT_EQ(Edit(YEditJobDlg::IdSource)->GetValue().utf8_string(), dir.File("photos/one.jpg"));

    // A chosen folder whose name the job file cannot hold is refused like a typed one.
    answer = "/media/100%";
    click(YEditJobDlg::IdBrowseDestination);
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[2].kind, YEditJobDlg::PathKind::Directory);
    EXPECT_EQ(asked[2].typed, "/backup");
    EXPECT_EQ(Edit(YEditJobDlg::IdDestination)->GetValue().utf8_string(), "/media/100%");
    EXPECT_TRUE(WarningShown(YEditJobDlg::IdDestinationWarning));
    EXPECT_FALSE(OkEnabled());

    // Cancelled, or nothing chosen: the field keeps what it had.
    answer = "/elsewhere";
    accept = false;
    click(YEditJobDlg::IdBrowseDestination);
    accept = true;
    answer = "";
    click(YEditJobDlg::IdBrowseDestination);
    EXPECT_EQ(Edit(YEditJobDlg::IdDestination)->GetValue().utf8_string(), "/media/100%");

    answer = "/media/backup";
    click(YEditJobDlg::IdBrowseDestination);
    EXPECT_FALSE(WarningShown(YEditJobDlg::IdDestinationWarning));
    ASSERT_TRUE(dialog->ReadBack());
    EXPECT_EQ(dialog->Values().source, dir.File("photos/one.jpg"));
    EXPECT_EQ(dialog->Values().destination, "/media/backup");
    EXPECT_FALSE(dialog->Values().mustBeMounted) << "an existing task's switch is the user's";
}

TEST(EditorBrowsing, ChoosersStartAtTheNearestExistingFolder) {
    CGuiTempDir dir;
    std::filesystem::create_directories(dir.Path() / "a/b");
    std::ofstream(dir.File("a/b/file.txt")) << "x";
    EXPECT_EQ(BrowseStartFolder(dir.File("a/b"), NativeFileSystem()), dir.File("a/b"));
    EXPECT_EQ(BrowseStartFolder("  " + dir.File("a/b") + "\n", NativeFileSystem()), dir.File("a/b"));
    EXPECT_EQ(BrowseStartFolder(dir.File("a/b/file.txt"), NativeFileSystem()), dir.File("a/b"));
    EXPECT_EQ(BrowseStartFolder(dir.File("a/missing/deeper"), NativeFileSystem()), dir.File("a"));
    EXPECT_EQ(BrowseStartFolder("/", NativeFileSystem()), "/");
    // Nothing to start from: the chooser's own default.
    EXPECT_EQ(BrowseStartFolder("", NativeFileSystem()), "");
    EXPECT_EQ(BrowseStartFolder("relative/path", NativeFileSystem()), "");
}

TEST(EditorCompletion, OffersTheEntriesUnderTheTypedPrefix) {
    CGuiTempDir dir;
    std::filesystem::create_directory(dir.Path() / "alpha");
    std::ofstream(dir.File("alpine.txt")) << "x";
    std::ofstream(dir.File("beta.txt")) << "x";
    EXPECT_EQ(PathCompletions(dir.File("al"), NativeFileSystem()),
              (std::vector<std::string>{dir.File("alpha") + "/", dir.File("alpine.txt")}));
    EXPECT_EQ(PathCompletions(dir.Path().string() + "/", NativeFileSystem()).size(), 3u);
    EXPECT_TRUE(PathCompletions(dir.File("nothing/here"), NativeFileSystem()).empty());
    EXPECT_TRUE(PathCompletions("relative", NativeFileSystem()).empty());
}
