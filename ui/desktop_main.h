// The start-up of the window program, shared by the program's entry and the tests.
#pragma once

struct StartOptions;
class CMainFrame;
class CWxShell;

// The window program's start-up on a frame built over shell: the start options, then the
// controller's start-up (job, settings, hidden dialog, tray icon, zero progress, the dialog shown
// or the start-up run begun); without a notification area the dialog is always shown. False when
// the program cannot start.
bool StartDesktop(CMainFrame& frame, CWxShell& shell, const StartOptions& options);
