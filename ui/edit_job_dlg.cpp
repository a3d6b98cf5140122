// The task editor: layout, exclusion list editing, colour choice, path completion and the
// checks on values the job file cannot hold.
#include "ui/edit_job_dlg.h"

#include <algorithm>
#include <memory>
#include <tuple>

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/colordlg.h>
#include <wx/dcclient.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/sizer.h>
#include <wx/spinctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textcompleter.h>
#include <wx/textctrl.h>

#include "app/job_commands.h"
#include "app/task_fields.h"
#include "platform/file_system.h"
#include "sync/exclusions.h"
#include "ui/hscroll_list_box.h"
#include "ui/icons.h"
#include "ui/list_box_ebx.h"

namespace {

const wxColour kBadField(255, 128, 128);

// Completes the typed path with the entries of the directory it names so far.
class CPathCompleter : public wxTextCompleterSimple {
public:
    explicit CPathCompleter(IFileSystem& fileSystem) : fs(fileSystem) {}
    void GetCompletions(const wxString& prefix, wxArrayString& result) override {
        for (const std::string& path : PathCompletions(prefix.utf8_string(), fs)) {
            result.Add(wxString::FromUTF8(path));
        }
    }

private:
    IFileSystem& fs;
};

} // namespace

std::vector<std::string> PathCompletions(const std::string& typed, IFileSystem& fs) {
    std::vector<std::string> result;
    const std::size_t slash = typed.rfind('/');
    if (slash == std::string::npos) {
        return result;
    }
    const std::string directory = typed.substr(0, slash + 1);
    const std::string start = typed.substr(slash + 1);
    FsError error;
    const std::unique_ptr<IDirectoryStream> listing = fs.OpenDirectory(directory, true, error);
    DirEntry entry;
    // A huge directory is cut short rather than stalling the typing.
    for (int seen = 0; listing && seen < 2000 && listing->Next(entry); ++seen) {
        if (entry.name.compare(0, start.size(), start) != 0) {
            continue;
        }
        const std::string path = directory + entry.name;
        FileStatus status;
        const bool folder =
            entry.kind == EntryKind::Directory ||
            (entry.kind == EntryKind::Symlink && !fs.Status(path, true, status) && status.kind == EntryKind::Directory);
        result.push_back(path + (folder ? "/" : ""));
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::string BrowseStartFolder(const std::string& typed, IFileSystem& fs) {
    std::string path = TrimPath(typed);
    if (path.empty() || path[0] != '/') {
        return {};
    }
    // A path still being typed, or one on a disk not mounted now: its nearest existing folder.
    for (;;) {
        FileStatus status;
        if (!fs.Status(path, true, status) && status.kind == EntryKind::Directory) {
            return path;
        }
        const std::size_t end = path.find_last_not_of('/');
        if (end == std::string::npos) {
            return {};
        }
        const std::size_t cut = path.find_last_not_of('/', path.rfind('/', end));
        path.resize(cut == std::string::npos ? 1 : cut + 1);
    }
}

wxCheckBox* YEditJobDlg::AddCheck(wxWindow* parent, int id, const char* text, bool value) {
    auto* box = new wxCheckBox(parent, id, text);
    box->SetValue(value);
    return box;
}

YEditJobDlg::YEditJobDlg(wxWindow* parent, const Task& values, IFileSystem& fileSystem)
    : wxDialog(parent, wxID_ANY, "Edit task", wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE), fs(fileSystem),
      task(values), colour(ColourFromTaskValue(values.colour)) {
    BuildControls();
    BindEvents();
    GetSizer()->SetSizeHints(this);
    CheckFields();
    CentreOnParent();
}

void YEditJobDlg::BuildControls() {
    SetIcons(PemoIconBundle(iconWindow));
    const int gap = FromDIP(6);
    auto* outer = new wxBoxSizer(wxVERTICAL);
    auto* group = new wxStaticBoxSizer(wxVERTICAL, this, " Task details ");
    wxWindow* box = group->GetStaticBox();

    auto* top = new wxBoxSizer(wxHORIZONTAL);
    top->Add(AddCheck(box, IdEnabled, "Enabled", task.enabled), 0, wxALIGN_CENTRE_VERTICAL);
    top->AddStretchSpacer();
    top->Add(new wxButton(box, IdColour, "Colour:"), 0, wxALIGN_CENTRE_VERTICAL | wxRIGHT, gap);
    swatch = new wxWindow(box, IdSwatch, wxDefaultPosition, FromDIP(wxSize(64, 24)), wxBORDER_SIMPLE);
    swatch->SetBackgroundStyle(wxBG_STYLE_PAINT);
    swatch->Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxPaintDC dc(swatch);
        dc.SetBrush(wxBrush(colour));
        dc.SetPen(*wxBLACK_PEN);
        dc.DrawRectangle(wxPoint(0, 0), swatch->GetClientSize());
    });
    top->Add(swatch, 0, wxALIGN_CENTRE_VERTICAL);
    group->Add(top, 0, wxEXPAND | wxALL, gap);

    auto* grid = new wxFlexGridSizer(2, gap, gap);
    grid->AddGrowableCol(1, 1);
    auto label = [&](const char* text) {
        grid->Add(new wxStaticText(box, wxID_ANY, text), 0, wxALIGN_CENTRE_VERTICAL);
    };
    auto warningText = [&](int id, const char* text) {
        auto* warning = new wxStaticText(box, id, text);
        warning->SetForegroundColour(wxColour(255, 0, 0));
        warning->Hide();
        return warning;
    };
    auto edit = [&](int id, const std::string& text, long style = 0) {
        auto* field = new wxTextCtrl(box, id, wxString::FromUTF8(text), wxDefaultPosition, wxDefaultSize, style);
        field->AutoComplete(new CPathCompleter(fs));
        return field;
    };

    label("Name:");
    auto* nameRow = new wxBoxSizer(wxHORIZONTAL);
    nameEdit = new wxTextCtrl(box, IdName, wxString::FromUTF8(task.name), wxDefaultPosition, FromDIP(wxSize(300, -1)));
    nameRow->Add(nameEdit, 0, wxALIGN_CENTRE_VERTICAL);
    nameWarning = warningText(IdNameWarning, "");
    nameRow->Add(nameWarning, 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    grid->Add(nameRow, 1, wxEXPAND);

    // A path field with its choosers on one line; its warning gets a line of its own below it,
    // kept even while hidden, so that showing it never squeezes or moves the check boxes.
    auto pathRow = [&](wxTextCtrl* field, std::initializer_list<std::pair<int, const char*>> choosers) {
        auto* row = new wxBoxSizer(wxHORIZONTAL);
        row->Add(field, 1, wxALIGN_CENTRE_VERTICAL);
        for (const auto& [id, text] : choosers) {
            row->Add(new wxButton(box, id, text), 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
        }
        grid->Add(row, 1, wxEXPAND);
    };
    auto checksUnder = [&](wxStaticText* warning, std::initializer_list<wxCheckBox*> checks) {
        grid->AddSpacer(0);
        auto* column = new wxBoxSizer(wxVERTICAL);
        column->Add(warning, 0, wxEXPAND | wxRESERVE_SPACE_EVEN_IF_HIDDEN);
        for (wxCheckBox* check : checks) {
            column->Add(check);
        }
        grid->Add(column, 1, wxEXPAND);
    };
    const char* percent = "The Percent character can't be used in a path";

    label("Source directory/file:");
    sourceEdit = edit(IdSource, task.source);
    pathRow(sourceEdit, {{IdBrowseSource, "Browse..."}, {IdBrowseSourceFile, "File..."}});
    sourceWarning = warningText(IdSourceWarning, percent);
    checksUnder(sourceWarning, {AddCheck(box, IdRecurse, "Copy all subdirectories", task.recurse),
                                AddCheck(box, IdCheckOpen, "Check file can be opened before trying to copy it (slower)",
                                         task.checkOpen)});

    label("Destination directory:");
    destinationEdit = edit(IdDestination, task.destination);
    pathRow(destinationEdit, {{IdBrowseDestination, "Browse..."}});
    destinationWarning = warningText(IdDestinationWarning, percent);
    checksUnder(
        destinationWarning,
        {AddCheck(box, IdSafeMode, "Safe Mode (never delete files/directories in the destination)", task.safeMode),
         AddCheck(box, IdFakeIt, "Fake It (no changes made at all, just report on actions to be taken)", task.fakeIt),
         AddCheck(box, IdRename, "Rename files in the destination if just the case has changed", task.rename),
         AddCheck(box, IdOneHour, "Consider files exactly one hour apart as the same (daylight saving time changes)",
                  task.oneHour),
         AddCheck(box, IdMustBeMounted, "Run only when the destination is on a mounted disk", task.mustBeMounted)});
    mountedFollowsDestination = task.destination.empty() && !task.mustBeMounted;
    // The switch with its retention beside it; a task without versions still shows the usual days.
    grid->AddSpacer(0);
    auto* versionsRow = new wxBoxSizer(wxHORIZONTAL);
    versionsRow->Add(AddCheck(box, IdKeepVersions, "Keep deleted and replaced files for", task.KeepsVersions()), 0,
                     wxALIGN_CENTRE_VERTICAL);
    auto spin = [&](int id, int minimum, int value) {
        auto* control = new wxSpinCtrl(box, id, wxEmptyString, wxDefaultPosition, wxDefaultSize, wxSP_ARROW_KEYS,
                                       minimum, 36500, value);
        versionsRow->Add(control, 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    };
    spin(IdVersionDays, 1, task.KeepsVersions() ? task.versionDays : kDefaultVersionDays);
    versionsRow->Add(new wxStaticText(box, wxID_ANY, "days, at most"), 0, wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    spin(IdVersionCount, 0, task.versionCount);
    versionsRow->Add(new wxStaticText(box, wxID_ANY, "versions of a file (0 = no limit)"), 0,
                     wxALIGN_CENTRE_VERTICAL | wxLEFT, gap);
    grid->Add(versionsRow, 1, wxEXPAND);
    grid->Add(new wxStaticText(box, wxID_ANY, "Links in the source:"), 0, wxALIGN_CENTRE_VERTICAL);
    auto* links = new wxChoice(box, IdLinkPolicy);
    for (const char* choice : {"Copy as links", "Leave out", "Copy the files they point to (inside the source only)"}) {
        links->Append(choice);
    }
    links->SetSelection(static_cast<int>(task.linkPolicy));
    grid->Add(links, 0, wxALIGN_LEFT);

    grid->Add(new wxStaticText(box, wxID_ANY, "Exclusions:"), 0, wxALIGN_TOP | wxTOP, gap);
    auto* exclusionRow = new wxBoxSizer(wxHORIZONTAL);
    auto* exclusionEditing = new wxFlexGridSizer(2, gap, gap);
    // Enter here adds the item instead of pressing OK.
    newExclusion = edit(IdNewExclusion, "", wxTE_PROCESS_ENTER);
    newExclusion->SetMinSize(FromDIP(wxSize(260, -1)));
    exclusionEditing->Add(newExclusion, 1, wxEXPAND);
    addButton = new wxButton(box, IdAdd, "Add");
    exclusionEditing->Add(addButton);
    exclusionList = new CHScrollListBox(box, IdExclusions);
    exclusionList->SetMinSize(FromDIP(wxSize(260, 120)));
    exclusionEditing->Add(exclusionList, 1, wxEXPAND);
    exclusionEditing->Add(new wxButton(box, IdRemove, "Remove"));
    exclusionRow->Add(exclusionEditing, 0);
    auto* attributeColumn = new wxBoxSizer(wxVERTICAL);
    attributeColumn->Add(AddCheck(box, IdExcludeHidden, "Exclude Hidden files", task.excludeHidden));
    attributeColumn->Add(AddCheck(box, IdExcludeHiddenDirs, "Exclude Hidden directories", task.excludeHiddenDirs));
    // Linux has no system attribute, so there these would do nothing; they stay hidden and are
    // exchanged so that a job shared with another system keeps its settings.
    for (auto [id, text, value] :
         {std::tuple{IdExcludeSystem, "Exclude System files", task.excludeSystem},
          std::tuple{IdExcludeSystemDirs, "Exclude System directories", task.excludeSystemDirs}}) {
        wxCheckBox* check = AddCheck(box, id, text, value);
#ifndef _WIN32
        check->Hide();
#endif
        attributeColumn->Add(check);
    }
#ifdef _WIN32
    // Windows' static text sets tabs apart by its own measure, which the layout cannot know: the
    // examples stand in two columns of their own.
    auto* examples = new wxFlexGridSizer(2, 0, 2 * gap);
    for (const auto& [form, meaning] :
         {std::pair{"Examples:", ""}, std::pair{"   *.tmp", "- exclude files with .tmp at the end"},
          std::pair{"", "   wildcards can be used at start/end"},
          std::pair{"   d:\\backup\\temp", "- exclude directory"},
          std::pair{"   d:\\backup\\2012*", "- exclude files/path with wildcard"},
          std::pair{"   \\data\\tmp", "- exclude file/path, relative to the source"}}) {
        examples->Add(new wxStaticText(box, wxID_ANY, form));
        examples->Add(new wxStaticText(box, wxID_ANY, meaning));
    }
#else
    auto* examples = new wxStaticText(box, wxID_ANY,
                                      "Examples:\n"
                                      "   *.tmp\t\t\t- exclude files with .tmp at the end\n"
                                      "\t\t\t   wildcards can be used at start/end\n"
                                      "   /home/me/backup/temp\t- exclude directory\n"
                                      "   /home/me/backup/2012*\t- exclude files/path with wildcard\n"
                                      "   \\data/tmp\t\t- exclude file/path, relative to the source");
#endif
    attributeColumn->Add(examples, 0, wxTOP, gap);
    // Never shown, but exchanged so that a task's setting survives editing.
    auto* onlyIfNewer =
        AddCheck(box, IdOnlyIfNewer, "Only copy if source is newer, or destination does not exist", task.onlyIfNewer);
    onlyIfNewer->Hide();
    attributeColumn->Add(onlyIfNewer);
    exclusionRow->Add(attributeColumn, 1, wxLEFT, 2 * gap);
    auto* exclusionColumn = new wxBoxSizer(wxVERTICAL);
    exclusionColumn->Add(exclusionRow, 1, wxEXPAND);
    exclusionWarning = warningText(IdExclusionWarning, "");
    exclusionColumn->Add(exclusionWarning, 0, wxEXPAND | wxTOP, gap);
    // Says what the item being typed will match; fixed in size so that typing never relays out.
    exclusionMeaning = new wxStaticText(box, IdExclusionMeaning, " ", wxDefaultPosition, wxDefaultSize,
                                        wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    exclusionColumn->Add(exclusionMeaning, 0, wxEXPAND | wxTOP, gap);
    grid->Add(exclusionColumn, 1, wxEXPAND);
    group->Add(grid, 1, wxEXPAND | wxALL, gap);
    outer->Add(group, 1, wxEXPAND | wxALL, gap);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->AddStretchSpacer();
    okButton = new wxButton(this, wxID_OK, "OK");
    okButton->SetDefault();
    buttons->Add(okButton, 0, wxRIGHT, gap);
    buttons->Add(new wxButton(this, wxID_CANCEL, "Cancel"));
    outer->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, gap);

    for (const std::string& entry : SplitExclusions(task.exclusions)) {
        exclusionList->AddString(entry);
    }

    SetSizer(outer);
}

void YEditJobDlg::BindEvents() {
    colourPicker = [this](wxColour& chosen) {
        wxColourData data;
        data.SetChooseFull(true);
        data.SetColour(chosen);
        wxColourDialog dialog(this, &data);
        if (dialog.ShowModal() != wxID_OK) {
            return false;
        }
        chosen = dialog.GetColourData().GetColour();
        return true;
    };

    pathChooser = [this](PathKind kind, const std::string& typed, std::string& chosen) {
        const wxString start = wxString::FromUTF8(BrowseStartFolder(typed, fs));
        if (kind == PathKind::Directory) {
            wxDirDialog dialog(this, "Choose a directory", start, wxDD_DEFAULT_STYLE);
            if (dialog.ShowModal() != wxID_OK) {
                return false;
            }
            chosen = dialog.GetPath().utf8_string();
            return true;
        }
        wxFileDialog dialog(this, "Choose the file to mirror", start, wxEmptyString, "All files|*",
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() != wxID_OK) {
            return false;
        }
        chosen = dialog.GetPath().utf8_string();
        return true;
    };

    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { BrowseSource(); }, IdBrowseSource);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { BrowseSourceFile(); }, IdBrowseSourceFile);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { BrowseDestination(); }, IdBrowseDestination);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { AddExclusion(); }, IdAdd);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { RemoveExclusion(); }, IdRemove);
    Bind(
        wxEVT_BUTTON, [this](wxCommandEvent&) { PickColour(); }, IdColour);
    Bind(wxEVT_BUTTON, &YEditJobDlg::OnOk, this, wxID_OK);
    Bind(
        wxEVT_CHECKBOX, [this](wxCommandEvent&) { mountedFollowsDestination = false; }, IdMustBeMounted);
    Bind(
        wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { CopyExclusionToEntry(); }, IdExclusions);
    newExclusion->Bind(wxEVT_TEXT_ENTER, [this](wxCommandEvent&) { AddExclusion(); });
    for (wxTextCtrl* field : {nameEdit, sourceEdit, destinationEdit, newExclusion}) {
        field->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { CheckFields(); });
    }
    exclusionList->Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) {
        if (event.GetKeyCode() == WXK_DELETE || event.GetKeyCode() == WXK_NUMPAD_DELETE) {
            DeleteExclusionKey();
        } else {
            event.Skip();
        }
    });
    Bind(wxEVT_CHAR_HOOK, [](wxKeyEvent& event) {
        if (event.GetKeyCode() != WXK_F1) {
            event.Skip();
        }
    });
}

wxColour YEditJobDlg::Colour() const {
    return colour;
}

void YEditJobDlg::AddExclusion() {
    const wxString text = newExclusion->GetValue();
    if (!text.empty() && exclusionOk) {
        exclusionList->AddString(text.utf8_string());
    }
    newExclusion->SelectAll();
    newExclusion->ShowPosition(newExclusion->GetLastPosition());
    newExclusion->SetFocus();
}

void YEditJobDlg::RemoveExclusion() {
    const int selected = exclusionList->GetSelection();
    if (selected == wxNOT_FOUND) {
        return;
    }
    exclusionList->DeleteString(selected);
    const int count = static_cast<int>(exclusionList->GetCount());
    if (count > 0) {
        exclusionList->SetSelection(selected < count ? selected : count - 1);
    }
}

void YEditJobDlg::DeleteExclusionKey() {
    const int selected = exclusionList->GetSelection();
    if (selected == wxNOT_FOUND) {
        return;
    }
    exclusionList->DeleteString(selected);
    if (selected < static_cast<int>(exclusionList->GetCount())) {
        exclusionList->SetSelection(selected);
    }
}

void YEditJobDlg::CopyExclusionToEntry() {
    const int selected = exclusionList->GetSelection();
    if (selected != wxNOT_FOUND) {
        newExclusion->SetValue(exclusionList->GetString(static_cast<unsigned>(selected)));
    }
}

void YEditJobDlg::Browse(wxTextCtrl* field, PathKind kind) {
    std::string chosen;
    if (pathChooser && pathChooser(kind, field->GetValue().utf8_string(), chosen) && !chosen.empty()) {
        // Through the field's own text event, so that the checks run as on typing.
        field->SetValue(wxString::FromUTF8(chosen));
        field->SetInsertionPointEnd();
    }
}

void YEditJobDlg::BrowseSource() {
    Browse(sourceEdit, PathKind::Directory);
}

void YEditJobDlg::BrowseSourceFile() {
    Browse(sourceEdit, PathKind::File);
}

void YEditJobDlg::BrowseDestination() {
    Browse(destinationEdit, PathKind::Directory);
}

void YEditJobDlg::PickColour() {
    wxColour chosen = colour;
    if (colourPicker && colourPicker(chosen) && chosen.IsOk()) {
        colour = wxColour(chosen.Red(), chosen.Green(), chosen.Blue());
        swatch->Refresh();
    }
}

void YEditJobDlg::CheckOne(wxTextCtrl* field, wxStaticText* warning, const std::string& problem, bool& ok) {
    const bool nowOk = problem.empty();
    bool changed = false;
    if (!nowOk && warning->GetLabel() != wxString::FromUTF8(problem)) {
        warning->SetLabel(wxString::FromUTF8(problem));
        changed = true;
    }
    if (nowOk != ok || warning->IsShown() == nowOk) {
        ok = nowOk;
        field->SetBackgroundColour(ok ? wxNullColour : kBadField);
        field->Refresh();
        warning->Show(!ok);
        changed = true;
    }
    if (changed) {
        FitContents();
    }
}

void YEditJobDlg::FitContents() {
    // A warning that appears may need more room than the dialog has; grow it rather than clip or
    // squeeze the labels, and never shrink what the user made larger.
    const wxSize fitting = GetSizer()->ComputeFittingWindowSize(this);
    const wxSize now = GetSize();
    if (fitting.x > now.x || fitting.y > now.y) {
        SetSize(wxSize(std::max(fitting.x, now.x), std::max(fitting.y, now.y)));
    }
    Layout();
}

void YEditJobDlg::CheckFields() {
    CheckOne(nameEdit, nameWarning, NameProblem(nameEdit->GetValue().utf8_string()), nameOk);
    CheckOne(sourceEdit, sourceWarning, PathProblem(sourceEdit->GetValue().utf8_string()), sourceOk);
    CheckOne(destinationEdit, destinationWarning, PathProblem(destinationEdit->GetValue().utf8_string()),
             destinationOk);
    CheckOne(newExclusion, exclusionWarning, ExclusionProblem(newExclusion->GetValue().utf8_string()), exclusionOk);
    addButton->Enable(exclusionOk);
    if (auto* mounted = dynamic_cast<wxCheckBox*>(FindWindow(IdMustBeMounted));
        mountedFollowsDestination && mounted != nullptr) {
        mounted->SetValue(IsRemovableMountPath(destinationEdit->GetValue().utf8_string()));
    }
    const std::string pendingItem = newExclusion->GetValue().utf8_string();
    exclusionMeaning->SetLabel(pendingItem.empty() ? wxString() : wxString::FromUTF8(DescribeExclusion(pendingItem)));
    okButton->Enable(sourceOk && destinationOk && nameOk && exclusionOk);
}

bool YEditJobDlg::ReadBack() {
    CheckFields();
    if (!okButton->IsEnabled()) {
        return false;
    }
    std::vector<std::string> entries;
    for (unsigned i = 0; i < exclusionList->GetCount(); ++i) {
        entries.push_back(exclusionList->GetString(i).utf8_string());
    }
    const std::string pending = newExclusion->GetValue().utf8_string();
    if (AddPendingExclusion(entries, pending)) {
        exclusionList->AddString(pending);
    }
    task.exclusions = JoinExclusions(entries);
    task.name = nameEdit->GetValue().utf8_string();
    task.source = sourceEdit->GetValue().utf8_string();
    task.destination = destinationEdit->GetValue().utf8_string();
    auto checked = [this](int id) {
        auto* box = dynamic_cast<wxCheckBox*>(FindWindow(id));
        return box && box->GetValue();
    };
    task.enabled = checked(IdEnabled);
    task.recurse = checked(IdRecurse);
    task.safeMode = checked(IdSafeMode);
    task.checkOpen = checked(IdCheckOpen);
    task.fakeIt = checked(IdFakeIt);
    task.excludeHidden = checked(IdExcludeHidden);
    task.excludeSystem = checked(IdExcludeSystem);
    task.excludeHiddenDirs = checked(IdExcludeHiddenDirs);
    task.excludeSystemDirs = checked(IdExcludeSystemDirs);
    task.onlyIfNewer = checked(IdOnlyIfNewer);
    task.rename = checked(IdRename);
    task.oneHour = checked(IdOneHour);
    task.mustBeMounted = checked(IdMustBeMounted);
    if (auto* links = dynamic_cast<wxChoice*>(FindWindow(IdLinkPolicy)); links != nullptr) {
        task.linkPolicy = static_cast<LinkPolicy>(std::clamp(links->GetSelection(), 0, 2));
    }
    auto number = [this](int id) {
        auto* control = dynamic_cast<wxSpinCtrl*>(FindWindow(id));
        return control != nullptr ? control->GetValue() : 0;
    };
    task.versionDays = checked(IdKeepVersions) ? std::max(1, number(IdVersionDays)) : 0;
    task.versionCount = std::max(0, number(IdVersionCount));
    task.colour = static_cast<std::uint32_t>(colour.Red()) | (static_cast<std::uint32_t>(colour.Green()) << 8) |
                  (static_cast<std::uint32_t>(colour.Blue()) << 16);
    return true;
}

void YEditJobDlg::OnOk(wxCommandEvent&) {
    if (ReadBack()) {
        EndModal(wxID_OK);
    }
}
