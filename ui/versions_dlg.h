// YVersionsDlg: a task's kept versions, run by run, and the entries each run added, replaced and
// deleted; and the box that shows an undo's lines before it is done.
#pragma once

#include <string>
#include <vector>

#include <wx/dialog.h>

#include "app/versions_view.h"

class CMainFrame;
class wxButton;
class wxListBox;
class wxStaticText;
struct Task;

class YVersionsDlg : public wxDialog {
public:
    // Reads the task's versions area at once; frame's file system and drive letter are used.
    YVersionsDlg(wxWindow* parent, CMainFrame& frame, const Task& task);

    // Shows the entries of the run at index (of the runs list).
    void ChooseRun(int index);
    // Chooses the entry at index of the chosen run.
    void ChooseEntry(int index);
    // Restores the chosen entry as it was before the chosen run: into the destination (into
    // empty, after a question) or into the folder into. True when it was restored.
    bool RestoreChosen(const std::string& into);
    wxListBox* Runs() const { return runList; }
    wxListBox* Entries() const { return entryList; }
    const std::vector<KeptRun>& KeptRuns() const { return runs; }

private:
    void ReadRuns();
    void UpdateButtons();
    const ManifestAction* ChosenEntry() const;

    CMainFrame& frame;
    const Task& task;
    std::vector<KeptRun> runs;
    wxStaticText* problem = nullptr;
    wxListBox* runList = nullptr;
    wxListBox* entryList = nullptr;
    wxButton* restore = nullptr;
    wxButton* restoreTo = nullptr;
};

// A modal box with lines and question under them: Yes and No (true for Yes), or OK alone when
// question is empty (false).
bool ShowLinesDialog(wxWindow* parent, const std::string& title, const std::vector<std::string>& lines,
                     const std::string& question);
