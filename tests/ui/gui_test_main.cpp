// Entry of the window tests: starts a private Xvfb server, starts wxWidgets on it and runs the
// tests inside an active event loop. Listing the tests needs no server.
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include "gui_test_support.h"

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
