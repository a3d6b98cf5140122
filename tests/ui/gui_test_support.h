// Helpers of the window tests: the private X server, event pumping, temporary directories and
// screen pixels.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <wx/colour.h>
#include <wx/gdicmn.h>

class wxWindow;

// Starts Xvfb on a free display (chosen by the server itself) and stops it on destruction.
class CXvfbServer {
public:
    CXvfbServer() = default;
    ~CXvfbServer();
    CXvfbServer(const CXvfbServer&) = delete;
    CXvfbServer& operator=(const CXvfbServer&) = delete;

    bool Start();
    std::string Display() const { return display; }

private:
    int pid = -1;
    std::string display;
};

// The display of the server the test binary started.
const std::string& TestDisplay();
void SetTestDisplay(const std::string& display);

// Handles pending events and posted work for about the given time.
void PumpEvents(std::chrono::milliseconds duration = std::chrono::milliseconds(50));
// Pumps events until done() holds; false after the limit.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(20));

// A fresh directory removed with its contents at the end of the test.
class CGuiTempDir {
public:
    CGuiTempDir();
    ~CGuiTempDir();
    const std::filesystem::path& Path() const { return path; }
    std::string File(const std::string& name) const { return (path / name).string(); }

private:
    std::filesystem::path path;
};

// Reads the whole file as bytes ("" when missing).
std::string ReadFileBytes(const std::string& path);
// Decodes a UTF-16LE file with a byte-order mark (the program's text files) to UTF-8.
std::string ReadUtf16File(const std::string& path);

// Takes a screenshot of the whole screen with ImageMagick and returns the pixel colours at the
// given screen points; false when the tool is missing or failed.
bool ScreenPixels(const std::vector<wxPoint>& points, std::vector<wxColour>& colours, const std::string& savePng = "");
// Saves the window's part of the screen as a PNG (the pictures in docs/); false when it could not.
bool SaveWindowPicture(wxWindow* window, const std::string& png);
