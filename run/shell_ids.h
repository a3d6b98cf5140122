// The ids the controller and the window program share: the shell's timers and the icons of the
// notification area and the windows. Defined here only; run/, app/ and ui/ all use these.
#pragma once

enum : int { closeTimerId = 1224, runTimerId = 1225 };
inline constexpr int closeTimerPeriodMs = 10000;
inline constexpr int runTimerPeriodMs = 500;

// Resource ids of the icons; the tray shows one of the first six, the windows carry iconWindow.
enum TrayIcon : int {
    iconIdle = 130,
    iconWindow = 132,
    iconWorking = 134,
    iconWorkingAlt = 135,
    iconCopying = 136,
    iconCopyingAlt = 137,
    iconPaused = 143
};
