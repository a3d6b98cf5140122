// Entry of the window tests: starts a private Xvfb server, starts wxWidgets on it and runs the
// tests inside an active event loop. Listing the tests needs no server.
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include "gui_test_support.h"

#if defined(__SANITIZE_ADDRESS__)
// GTK, GLib and D-Bus keep allocations for the life of the process, even when only listing the
// tests, and LeakSanitizer would report them; address errors are still caught.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif

namespace {

class CTestApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

bool ListingOnly(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--gtest_list_tests", 18) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (ListingOnly(argc, argv)) {
        return RUN_ALL_TESTS();
    }
    setenv("LANG", "C.UTF-8", 1);
    setenv("LC_ALL", "C.UTF-8", 1);
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("NO_AT_BRIDGE", "1", 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);
#if defined(__SANITIZE_ADDRESS__)
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1); // for the program the tests start
#endif
    CXvfbServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "pemo_ui_tests: could not start Xvfb\n");
        return 1;
    }
    SetTestDisplay(server.Display());
    setenv("DISPLAY", server.Display().c_str(), 1);
    setenv("GDK_BACKEND", "x11", 1);
    unsetenv("WAYLAND_DISPLAY");

    wxApp::SetInstance(new CTestApp);
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    if (!wxEntryStart(wxArgc, wxArgv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "pemo_ui_tests: could not start wxWidgets on %s\n", server.Display().c_str());
        return 1;
    }
    int result = 0;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = RUN_ALL_TESTS();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
