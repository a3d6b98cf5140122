// The settings store: "pemo.ini" in a given directory when it exists, else the per-user store:
// the system's (on Windows the registry key HKEY_CURRENT_USER\Software\Vexal\pemo) where it has
// one, otherwise the file $XDG_CONFIG_HOME/Vexal/pemo.conf (default ~/.config/Vexal/pemo.conf).
#pragma once

#include <string>

#include "model/message_port.h"
#include "platform/file_system.h"

struct Settings {
    bool compactView = false;
    bool countAtStart = false;
    int windowWidth = -1;
    int windowHeight = -1;
    int stayAwakeMethod = 1;
    bool debug = false;
    // Refuse to empty a destination when its source is empty; stored after the six others.
    bool emptyGuard = true;
    bool useIniFile = false; // loaded from "pemo.ini", so saved there; not stored itself
    // Threads a run copies with: 0 for one per core (the default, not written to the store),
    // 1 for one file after another on the run thread. Values outside 0..kMostThreads read as 0.
    int threads = 0;
};

// More threads than this only queue on the disk.
inline constexpr int kMostThreads = 64;

// $XDG_CONFIG_HOME, else ~/.config; empty when neither gives a place.
std::string UserConfigDirectory();
// The per-user store's path: the system store's key path where there is one, else the file's;
// empty when neither $XDG_CONFIG_HOME nor $HOME gives the file a place.
std::string DefaultUserSettingsPath();
// "pemo.ini" in iniDirectory (empty: the current directory).
std::string IniFilePath(const std::string& iniDirectory);

// Reads "pemo.ini" if it opens (useIniFile = true), else the per-user store; a missing or unreadable
// store keeps the current values. Only a "pemo.ini" that is a link or not a regular file is
// reported (it is never read or written through): false then, and the per-user file is read.
bool LoadSettings(Settings& settings, const std::string& iniDirectory, const std::string& userStorePath,
                  IMessagePort& messages, IFileSystem& fs);
// Writes to the store the settings came from, each through a temporary file and a rename. A
// failure to write "pemo.ini" is reported through messages; a per-user store that cannot be
// written saves nothing, silently. True when the settings were saved.
bool SaveSettings(const Settings& settings, const std::string& iniDirectory, const std::string& userStorePath,
                  IMessagePort& messages, IFileSystem& fs);
