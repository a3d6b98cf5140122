// The private X server, event pumping, temporary directories and screenshots of the window tests.
#include "gui_test_support.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/image.h>
#include <wx/utils.h>
#include <wx/window.h>

namespace {
std::string& DisplayName() {
    static std::string name;
    return name;
}
} // namespace

const std::string& TestDisplay() {
    return DisplayName();
}

void SetTestDisplay(const std::string& display) {
    DisplayName() = display;
}

CXvfbServer::~CXvfbServer() {
    if (pid > 0) {
        kill(pid, SIGTERM);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

bool CXvfbServer::Start() {
    int fds[2];
    if (pipe(fds) != 0) {
        return false;
    }
    pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // The server goes with the test process, even when that one crashes or is killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        const int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, STDERR_FILENO);
            dup2(devnull, STDOUT_FILENO);
        }
        const std::string fd = std::to_string(fds[1]);
        execl(PEMO_XVFB, "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
              "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') {
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        return false;
    }
    display = ":" + number;
    return true;
}

void PumpEvents(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    do {
        wxTheApp->ProcessPendingEvents();
        wxTheApp->Yield(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < end);
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        PumpEvents(std::chrono::milliseconds(10));
    }
    return true;
}

CGuiTempDir::CGuiTempDir() {
    std::random_device random;
    path = std::filesystem::temp_directory_path() /
           ("pemo-ui-" + std::to_string(getpid()) + "-" + std::to_string(random()));
    std::filesystem::create_directories(path);
}

CGuiTempDir::~CGuiTempDir() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadUtf16File(const std::string& path) {
    const std::string bytes = ReadFileBytes(path);
    std::string out;
    std::size_t i = (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') ? 2 : 0;
    for (; i + 1 < bytes.size(); i += 2) {
        unsigned unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            const unsigned low =
                static_cast<unsigned char>(bytes[i + 2]) | (static_cast<unsigned char>(bytes[i + 3]) << 8);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (unit < 0x80) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | (unit >> 6));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else if (unit < 0x10000) {
            out += static_cast<char>(0xE0 | (unit >> 12));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (unit >> 18));
            out += static_cast<char>(0x80 | ((unit >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

bool ScreenPixels(const std::vector<wxPoint>& points, std::vector<wxColour>& colours, const std::string& savePng) {
    std::string imageFile = savePng;
    CGuiTempDir scratch;
    if (imageFile.empty()) {
        imageFile = scratch.File("screen.png");
    }
    const std::string command = std::string("DISPLAY=") + TestDisplay() + " " + PEMO_IMPORT + " -window root png:'" +
                                imageFile + "' 2>/dev/null";
    if (std::string(PEMO_IMPORT).empty() || std::system(command.c_str()) != 0) {
        return false;
    }
    if (!wxImage::FindHandler(wxBITMAP_TYPE_PNG)) {
        wxImage::AddHandler(new wxPNGHandler);
    }
    wxImage image;
    if (!image.LoadFile(wxString::FromUTF8(imageFile), wxBITMAP_TYPE_PNG)) {
        return false;
    }
    colours.clear();
    for (const wxPoint& p : points) {
        if (p.x < 0 || p.y < 0 || p.x >= image.GetWidth() || p.y >= image.GetHeight()) {
            colours.emplace_back();
        } else {
            colours.emplace_back(image.GetRed(p.x, p.y), image.GetGreen(p.x, p.y), image.GetBlue(p.x, p.y));
        }
    }
    return true;
}

bool SaveWindowPicture(wxWindow* window, const std::string& png) {
    window->Raise();
    window->Refresh();
    window->Update();
    PumpEvents(std::chrono::milliseconds(300));
    CGuiTempDir scratch;
    const std::string screen = scratch.File("screen.png");
    std::vector<wxColour> unused;
    wxImage image;
    if (!ScreenPixels({}, unused, screen) || !image.LoadFile(wxString::FromUTF8(screen), wxBITMAP_TYPE_PNG)) {
        return false;
    }
    const wxRect r = window->GetScreenRect().Intersect(wxRect(0, 0, image.GetWidth(), image.GetHeight()));
    return !r.IsEmpty() && image.GetSubImage(r).SaveFile(wxString::FromUTF8(png), wxBITMAP_TYPE_PNG);
}
