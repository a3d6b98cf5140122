// Shell opening on Windows: the shell's own "open" of a document, or the default browser for a
// web address, through the toolkit. The outcome reaches done on the next turn of the
// user-interface loop, as the opener's does elsewhere.
#include <wx/app.h>
#include <wx/filefn.h>
#include <wx/log.h>
#include <wx/utils.h>

#include "ui/shell_open.h"

bool ShellOpen(const std::string& target, const ShellOpenDone& done) {
    const wxString name = wxString::FromUTF8(target);
    const bool address = name.Contains("://") || name.StartsWith("mailto:");
    // The caller reports a failure in its own words.
    const wxLogNull quiet;
    const bool opened = address ? wxLaunchDefaultBrowser(name) : wxLaunchDefaultApplication(name);
    // The shell's codes: above 32 success, 2 no such file, 31 nothing associated with it.
    int code = 42;
    if (!opened) {
        code = !address && !wxFileExists(name) && !wxDirExists(name) ? 2 : 31;
    }
    if (done && wxTheApp) {
        wxTheApp->CallAfter([done, code] { done(code); });
    }
    return opened;
}
