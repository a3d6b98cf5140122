// The start-up of the window program, shared by the program's entry and the tests.
#pragma once

struct StartOptions;
class CMainFrame;
class CWxShell;

// The window program's start-up on a frame built over shell: start options, the job, the
// settings, the hidden dialog, the tray icon, the zero progress display, then the dialog shown or
// the start-up run begun.
void StartDesktop(CMainFrame& frame, CWxShell& shell, const StartOptions& options);
