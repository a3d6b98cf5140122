// YEditJobDlg: the modal editor of one task, with the exclusion list, the colour swatch, path
// completion and the checks that keep values the job file cannot hold from being confirmed.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <wx/colour.h>
#include <wx/dialog.h>

#include "app/task_fields.h"
#include "model/task.h"

class wxButton;
class wxCheckBox;
class wxStaticText;
class wxTextCtrl;
class wxWindow;
class CHScrollListBox;
class IFileSystem;

// The completions offered for a typed path: the entries of the directory it names so far that
// begin with the typed rest, directories with a trailing "/", sorted.
std::vector<std::string> PathCompletions(const std::string& typed, IFileSystem& fs);
// Where a chooser opened from a path field starts: the nearest existing folder of the typed
// absolute path; empty (the chooser's own default) for a relative or empty one.
std::string BrowseStartFolder(const std::string& typed, IFileSystem& fs);

class YEditJobDlg : public wxDialog {
public:
    enum ControlId : int {
        IdAdd = 1001,
        IdRemove = 1002,
        IdColour = 1003,
        IdName = 1008,
        IdSource = 1009,
        IdDestination = 1010,
        IdEnabled = 1013,
        IdRecurse = 1014,
        IdSafeMode = 1015,
        IdCheckOpen = 1016,
        IdNewExclusion = 1025,
        IdExclusions = 1026,
        IdFakeIt = 1036,
        IdExcludeHidden = 1037,
        IdExcludeSystem = 1038,
        IdSwatch = 1039,
        IdExcludeHiddenDirs = 1040,
        IdExcludeSystemDirs = 1041,
        IdOnlyIfNewer = 1043,
        IdRename = 1049,
        IdSourceWarning = 1071,
        IdDestinationWarning = 1072,
        IdOneHour = 1073,
        IdNameWarning = 1074,
        IdExclusionWarning = 1075,
        IdExclusionMeaning = 1076,
        IdBrowseSource = 1080,
        IdBrowseSourceFile = 1081,
        IdBrowseDestination = 1082,
        IdKeepVersions = 1083,
        IdVersionDays = 1084,
        IdVersionCount = 1085,
        IdMustBeMounted = 1086,
        IdLinkPolicy = 1087
    };

    // What a path chooser picks: a directory, or the one file of a single-file task.
    enum class PathKind { Directory, File };

    // The fields are filled from values; lastRun is carried through untouched. The path fields
    // complete, and the choosers start, from what fs lists.
    YEditJobDlg(wxWindow* parent, const Task& values, IFileSystem& fs);

    // The editor's fields after OK (exclusions joined from the list, with an item left typed in
    // the entry field added to it).
    const Task& Values() const { return task; }

    // Commands, callable directly by the window and by tests.
    void AddExclusion();
    void RemoveExclusion();
    void DeleteExclusionKey();
    void CopyExclusionToEntry();
    void PickColour();
    // The Browse... buttons: a directory for the source or the destination, and File... for a
    // source that is one file. The choice fills the field and runs its checks, as typing does.
    void BrowseSource();
    void BrowseSourceFile();
    void BrowseDestination();
    // Re-runs the field checks: tints, warnings, and whether OK may be pressed.
    void CheckFields();
    // Reads the controls into the fields as OK does, adding an item left in the exclusion
    // field to the list; false while a field is refused.
    bool ReadBack();

    bool SourceOk() const { return sourceOk; }
    bool DestinationOk() const { return destinationOk; }
    wxColour Colour() const;

    // Chooses a colour starting from the current one; replaceable in tests.
    std::function<bool(wxColour&)> colourPicker;
    // Chooses a path of the kind, starting from what the field holds; replaceable in tests.
    std::function<bool(PathKind kind, const std::string& typed, std::string& chosen)> pathChooser;

private:
    IFileSystem& fs;
    // The constructor's two halves: the controls and their layout, then their events.
    void BuildControls();
    void BindEvents();
    wxCheckBox* AddCheck(wxWindow* parent, int id, const char* text, bool value);
    void OnOk(wxCommandEvent& event);
    void CheckOne(wxTextCtrl* field, wxStaticText* warning, const std::string& problem, bool& ok);
    void FitContents();
    void Browse(wxTextCtrl* field, PathKind kind);

    Task task;
    wxTextCtrl* nameEdit = nullptr;
    wxTextCtrl* sourceEdit = nullptr;
    wxTextCtrl* destinationEdit = nullptr;
    wxTextCtrl* newExclusion = nullptr;
    CHScrollListBox* exclusionList = nullptr;
    wxStaticText* nameWarning = nullptr;
    wxStaticText* sourceWarning = nullptr;
    wxStaticText* destinationWarning = nullptr;
    wxStaticText* exclusionWarning = nullptr;
    wxStaticText* exclusionMeaning = nullptr;
    wxButton* addButton = nullptr;
    wxButton* okButton = nullptr;
    wxWindow* swatch = nullptr;
    wxColour colour;
    bool sourceOk = true;
    bool destinationOk = true;
    bool nameOk = true;
    bool exclusionOk = true;
    // A new task's mounted-disk box follows its destination until the user sets it.
    bool mountedFollowsDestination = false;
};
