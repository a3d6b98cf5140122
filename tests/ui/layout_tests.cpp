// Every window as a user first sees it: no label clipped, no two controls on top of each other,
// and nothing the toolkit complains about on stderr. Each window is also photographed for docs/.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <wx/checkbox.h>
#include <wx/listbox.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "main_window_support.h"
#include "model/version_manifest.h"
#include "platform/file_system.h"
#include "tests/support/recording_command_runner.h"
#include "ui/edit_job_dlg.h"
#include "ui/options_dlg.h"
#include "ui/schedule_dlg.h"
#include "ui/versions_dlg.h"

namespace {

// Sends what the process writes to stderr (GTK's warnings among it) into a file until Stop.
class CStderrCapture {
public:
    explicit CStderrCapture(std::string file) : path(std::move(file)) {
        std::fflush(stderr);
        saved = ::dup(2);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (saved >= 0 && fd >= 0) {
            ::dup2(fd, 2);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ~CStderrCapture() { Stop(); }
    CStderrCapture(const CStderrCapture&) = delete;
    CStderrCapture& operator=(const CStderrCapture&) = delete;

    std::string Stop() {
        if (saved >= 0) {
            std::fflush(stderr);
            ::dup2(saved, 2);
            ::close(saved);
            saved = -1;
            text = ReadFileBytes(path);
            // Still seen in the test's output.
            std::fputs(text.c_str(), stderr);
        }
        return text;
    }

private:
    std::string path;
    std::string text;
    int saved = -1;
};

bool ToolkitComplained(const std::string& text) {
    for (const char* mark : {"GTK-CRITICAL", "Gtk-CRITICAL", "Gtk-WARNING", "GLib-GObject-CRITICAL"}) {
        if (text.find(mark) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Describe(wxWindow* window) {
    return wxString(window->GetClassInfo()->GetClassName()).utf8_string() + " \"" + window->GetLabel().utf8_string() +
           "\"";
}

void CollectShown(wxWindow* window, std::vector<wxWindow*>& all) {
    for (wxWindow* child : window->GetChildren()) {
        if (child->IsShownOnScreen() && !child->IsTopLevel()) {
            all.push_back(child);
            CollectShown(child, all);
        }
    }
}

// What is wrong with the window's layout, one line per fault: a text or check box given less room
// than its label needs, or two controls that cover each other.
std::vector<std::string> LayoutFaults(wxWindow* top) {
    std::vector<wxWindow*> shown;
    CollectShown(top, shown);
    std::vector<std::string> faults;
    std::vector<wxWindow*> leaves;
    for (wxWindow* window : shown) {
        if (dynamic_cast<wxStaticText*>(window) || dynamic_cast<wxCheckBox*>(window)) {
            const wxSize best = window->GetBestSize();
            const wxSize given = window->GetSize();
            if (best.x > given.x || best.y > given.y) {
                faults.push_back(Describe(window) + " needs " + std::to_string(best.x) + "x" + std::to_string(best.y) +
                                 " but has " + std::to_string(given.x) + "x" + std::to_string(given.y));
            }
        }
        // A frame around controls, and a control made of parts, hold what they cover.
        if (window->GetChildren().empty() && !dynamic_cast<wxStaticBox*>(window)) {
            leaves.push_back(window);
        }
    }
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const wxRect a = leaves[i]->GetScreenRect();
        if (a.IsEmpty()) {
            faults.push_back(Describe(leaves[i]) + " has no room at all");
            continue;
        }
        for (std::size_t j = i + 1; j < leaves.size(); ++j) {
            const wxRect b = leaves[j]->GetScreenRect();
            if (leaves[i]->GetParent() == leaves[j]->GetParent() && a.Intersects(b) && !a.Intersect(b).IsEmpty()) {
                faults.push_back(Describe(leaves[i]) + " and " + Describe(leaves[j]) + " overlap");
            }
        }
    }
    // The window itself must show all of what it holds.
    const wxRect inside = top->GetScreenRect();
    for (wxWindow* window : leaves) {
        if (!inside.Contains(window->GetScreenRect())) {
            faults.push_back(Describe(window) + " reaches outside its window");
        }
    }
    return faults;
}

std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

class LayoutTest : public MainWindowTest {
protected:
    // Shows the dialog, lets it settle and checks it.
    void Check(wxWindow* window, const std::string& shot) {
        window->Move(20, 20);
        window->Show();
        PumpEvents(std::chrono::milliseconds(200));
        EXPECT_EQ(Lines(LayoutFaults(window)), "") << shot;
        EXPECT_TRUE(SaveWindowPicture(window, std::string(PEMO_SCREENSHOT_DIR) + "/" + shot));
    }
};

} // namespace

TEST_F(LayoutTest, EveryWindowFitsItsLabelsAndTheToolkitStaysQuiet) {
    CStderrCapture capture(dir.File("stderr.txt"));
    Task photos = MakeTask("Photos", "/home/me/Pictures", "/media/backup/Pictures");
    photos.colour = 0x00C0FFFF;
    photos.exclusions = "*.tmp;\\cache";
    Task documents = MakeTask("Documents", "/home/me/Documents", "/media/backup/Documents");
    documents.safeMode = true;
    Start({photos, documents});
    dlg->SetSize(900, 640);
    PumpEvents(std::chrono::milliseconds(200));
    EXPECT_EQ(Lines(LayoutFaults(dlg)), "") << "main window";

    // The editor with both path warnings shown, which must not squeeze the check boxes beside them.
    Task editing = photos;
    editing.source = "/home/me/100%";
    editing.destination = "/media/backup/100%";
    auto* editor = new YEditJobDlg(dlg, editing, NativeFileSystem());
    ASSERT_FALSE(editor->SourceOk());
    ASSERT_TRUE(editor->FindWindow(YEditJobDlg::IdSourceWarning)->IsShown());
    ASSERT_TRUE(editor->FindWindow(YEditJobDlg::IdDestinationWarning)->IsShown());
    Check(editor, "task-editor-warnings.png");
    // A warning appearing while the editor is open, at its narrowest place.
    dynamic_cast<wxTextCtrl*>(editor->FindWindow(YEditJobDlg::IdNewExclusion))->SetValue("a<b");
    dynamic_cast<wxTextCtrl*>(editor->FindWindow(YEditJobDlg::IdName))->SetValue("Photos <all>");
    PumpEvents(std::chrono::milliseconds(200));
    ASSERT_TRUE(editor->FindWindow(YEditJobDlg::IdExclusionWarning)->IsShown());
    EXPECT_EQ(Lines(LayoutFaults(editor)), "") << "editor with every warning";
    editor->Destroy();
    auto* clean = new YEditJobDlg(dlg, photos, NativeFileSystem());
    Check(clean, "task-editor.png");
    clean->Destroy();

    auto* options = new YOptionsDlg(dlg);
    options->TransferDataToWindow();
    Check(options, "options.png");
    options->Destroy();

    // The versions browser over a destination that kept two runs, the newest chosen.
    Task kept = MakeTask("Photos", dir.File("Pictures"), dir.File("backup"));
    const auto keepRun = [&](const std::string& name, const std::vector<ManifestAction>& actions) {
        std::filesystem::create_directories(dir.File("backup/.pemo-versions/" + name));
        std::ofstream(dir.File("backup/.pemo-versions/" + name + "/.pemo-manifest"))
            << FormatManifest(VersionManifest{"Photos", kept.source, kept.destination, name, actions});
    };
    using Kind = ManifestAction::Kind;
    keepRun("2026-12-08_21-00-04",
            {{Kind::Added, 'f', 2048, 0, "2026/beach.jpg"}, {Kind::Replaced, 'f', 912, 0, "albums.txt"}});
    keepRun("2026-12-09_21-00-02", {{Kind::Replaced, 'f', 3120, 0, "2026/harbour.jpg"},
                                    {Kind::Deleted, 'd', {}, 0, "drafts"},
                                    {Kind::Deleted, 'f', 88, 0, "notes.txt"},
                                    {Kind::Added, 'f', 5120, 0, "2026/snow.jpg"}});
    auto* versions = new YVersionsDlg(dlg, *frame, kept);
    ASSERT_EQ(versions->Runs()->GetCount(), 2u);
    versions->ChooseEntry(0);
    Check(versions, "versions.png");
    versions->Destroy();

    // The schedule dialog with a user service manager to hand, and with crontab alone.
    auto checkSchedule = [&](int status, const std::string& state, const std::string& screenshot) {
        CRecordingCommandRunner runner;
        runner.answers["systemctl --user is-system-running"] = {status, state};
        auto* schedule = new YScheduleDlg(
            dlg, std::make_shared<CJobScheduler>(runner, NativeFileSystem(), dir.File("config"), "/usr/bin/pemo"),
            jobFile);
        PumpUntil([&] { return !schedule->Busy(); });
        Check(schedule, screenshot);
        schedule->Destroy();
        // Deleted while the scheduler it was given still exists.
        PumpEvents(std::chrono::milliseconds(100));
    };
    checkSchedule(0, "running\n", "schedule.png");
    checkSchedule(1, "offline\n", "schedule-crontab.png");
    PumpEvents(std::chrono::milliseconds(100));

    const std::string complaints = capture.Stop();
    EXPECT_FALSE(ToolkitComplained(complaints)) << complaints;
}
