// Loading and saving the seven program settings in "pemo.ini" or the per-user settings file.
#include "model/settings.h"

#include <iterator>
#include <string_view>

#include "model/replace_file.h"
#include "model/stdio_file_ex.h"
#include "platform/fs_error.h"
#include "platform/process.h"
#include "platform/user_store.h"
#include "util/path_parts.h"
#include "util/texts.h"

namespace {

// Per-user values hold at most this many characters, the width of the store's fields.
constexpr std::size_t kUserValueLimit = 7;

void StoreValue(Settings& s, std::string_view name, int value) {
    if (name == "compactview") {
        s.compactView = value == 1;
    } else if (name == "countatstart") {
        s.countAtStart = value == 1;
    } else if (name == "width") {
        s.windowWidth = value;
    } else if (name == "height") {
        s.windowHeight = value;
    } else if (name == "stayawakemethod") {
        s.stayAwakeMethod = value;
    } else if (name == "debug") {
        s.debug = value == 1;
    } else if (name == "emptyguard") {
        s.emptyGuard = value == 1;
    } else if (name == "threads") {
        s.threads = value >= 0 && value <= kMostThreads ? value : 0;
    }
}

void ReadIniLine(Settings& s, const std::string& line) {
    static constexpr std::string_view kNames[] = {"compactview",     "countatstart", "width",      "height",
                                                  "stayawakemethod", "debug",        "emptyguard", "threads"};
    for (std::string_view name : kNames) {
        if (line.size() > name.size() && line.compare(0, name.size(), name) == 0 && line[name.size()] == '=') {
            StoreValue(s, name, IntFromText(std::string_view(line).substr(name.size() + 1)));
            return;
        }
    }
}

std::string Trimmed(std::string_view text) {
    const std::size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) {
        return "";
    }
    const std::size_t end = text.find_last_not_of(" \t");
    return std::string(text.substr(begin, end + 1 - begin));
}

// The system's store: each value read on its own, in the store's order, so that one missing or
// too long leaves only its own setting as it was.
void LoadSystemStore(Settings& s, const std::string& keyPath) {
    const CUserStoreKey key(keyPath, false);
    static constexpr std::string_view kOrder[] = {"compactview", "countatstart", "stayawakemethod", "height",
                                                  "width",       "debug",        "emptyguard",      "threads"};
    for (std::string_view name : kOrder) {
        if (std::string value; key.Read(std::string(name), kUserValueLimit, value)) {
            StoreValue(s, name, IntFromText(value));
        }
    }
}

bool LoadUserStore(Settings& s, const std::string& path, IFileSystem& fs) {
    if (path.empty()) {
        return false;
    }
    if (SystemUserStoreAvailable()) {
        LoadSystemStore(s, path);
        return true;
    }
    CStdioFileEx file(fs);
    if (!file.Open(path, CStdioFileEx::modeRead)) {
        return false;
    }
    try {
        std::string line;
        while (file.ReadString(line)) {
            const std::size_t eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string value = line.substr(eq + 1);
            if (LeadingCharacters(value, kUserValueLimit).size() != value.size()) {
                continue; // a value too long for the store is left out
            }
            StoreValue(s, Trimmed(std::string_view(line).substr(0, eq)), IntFromText(value));
        }
    } catch (const CFileException&) {
        // Registry-like store: failures are silent and what was read stays.
    }
    return true;
}

} // namespace

std::string UserConfigDirectory() {
    std::string xdg = EnvironmentValue("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and to be ignored.
    if (!xdg.empty() && xdg[0] == '/') {
        return xdg;
    }
    if (const std::string home = EnvironmentValue("HOME"); !home.empty()) {
        return home + "/.config";
    }
    return "";
}

std::string DefaultUserSettingsPath() {
    if (SystemUserStoreAvailable()) {
        return "Software\\Vexal\\pemo";
    }
    const std::string base = UserConfigDirectory();
    return base.empty() ? base : base + "/Vexal/pemo.conf";
}

std::string IniFilePath(const std::string& iniDirectory) {
    if (iniDirectory.empty()) {
        return "pemo.ini";
    }
    return JoinedPath(iniDirectory, "pemo.ini");
}

bool LoadSettings(Settings& settings, const std::string& iniDirectory, const std::string& userStorePath,
                  IMessagePort& messages, IFileSystem& fs) {
    settings.useIniFile = false;
    CStdioFileEx file(fs);
    CFileException error;
    if (file.Open(IniFilePath(iniDirectory), CStdioFileEx::modeRead | CStdioFileEx::modeNoFollow, &error)) {
        try {
            std::string line;
            while (file.ReadString(line)) {
                ReadIniLine(settings, line);
            }
            settings.useIniFile = true;
            file.Close();
            return true;
        } catch (const CFileException&) {
            // Unreported: the values read so far stay, and the per-user store is read next.
            settings.useIniFile = false;
        }
    }
    const bool refused =
        error.cause == CFileException::Cause::notRegularFile || error.cause == CFileException::Cause::symbolicLink;
    if (refused) {
        messages.MessageBox("Error reading settings\n\n" + LeadingCharacters(error.ErrorText(), kMessageTextLimit));
    }
    LoadUserStore(settings, userStorePath, fs);
    return !refused;
}

bool SaveSettings(const Settings& settings, const std::string& iniDirectory, const std::string& userStorePath,
                  IMessagePort& messages, IFileSystem& fs) {
    const int values[] = {
        settings.compactView ? 1 : 0, settings.countAtStart ? 1 : 0, settings.windowWidth,        settings.windowHeight,
        settings.stayAwakeMethod,     settings.debug ? 1 : 0,        settings.emptyGuard ? 1 : 0, settings.threads};
    static constexpr const char* kNames[] = {"compactview",     "countatstart", "width",      "height",
                                             "stayawakemethod", "debug",        "emptyguard", "threads"};
    // The thread count is written only when the user chose one, so that a store keeps following
    // the machine it is on.
    const int kCount = static_cast<int>(std::size(kNames)) - (settings.threads != 0 ? 0 : 1);
    if (settings.useIniFile) {
        const std::string path = IniFilePath(iniDirectory);
        try {
            ReplaceFile(
                path,
                CStdioFileEx::modeCreate | CStdioFileEx::modeWrite | CStdioFileEx::modeWriteUnicode |
                    CStdioFileEx::modeNoFollow,
                [&](CStdioFileEx& file) {
                    for (int i = 0; i < kCount; ++i) {
                        file.WriteString(std::string(kNames[i]) + "=" + std::to_string(values[i]) + "\r\n");
                    }
                },
                fs);
        } catch (const CFileException& e) {
            messages.MessageBox("Error saving pemo.ini\n\n" + LeadingCharacters(e.ErrorText(), kMessageTextLimit));
            return false;
        }
        return true;
    }
    if (userStorePath.empty()) {
        return false;
    }
    if (SystemUserStoreAvailable()) {
        // Every value is written, the thread count too: a 0 left out would leave an older choice.
        CUserStoreKey key(userStorePath, true);
        bool saved = key.IsOpen();
        for (std::size_t i = 0; saved && i < std::size(kNames); ++i) {
            saved = key.Write(kNames[i], std::to_string(values[i]));
        }
        return saved;
    }
    if (!MakeDirectoryTree(DirectoryPartOf(userStorePath), fs)) {
        return false;
    }
    try {
        ReplaceFile(
            userStorePath, CStdioFileEx::modeCreate | CStdioFileEx::modeWrite,
            [&](CStdioFileEx& file) {
                for (int i = 0; i < kCount; ++i) {
                    file.WriteString(std::string(kNames[i]) + "=" + std::to_string(values[i]) + "\n");
                }
            },
            fs);
    } catch (const CFileException&) {
        return false;
    }
    return true;
}
