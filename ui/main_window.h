// The main window: it draws nothing, carries the program's menu bar and runs
// the start-up action that opens the main dialog.
#pragma once

#include "platform/win/window_system.h"

// Registers the window class, creates the main window and runs the message
// loop until the quit message; returns the quit message's code (0 when the
// dialog or window was closed normally), or -1 when the window could not be
// created. appState.commandLineFile names the file to show, if any: the
// window closes when the dialog returns.
int runMainWindow(int showCommand);

// The main window's own state while it exists: its handle, its menu bar and
// the shell's activation record.
struct MainWindowState {
    HWND window = nullptr;
    HWND menuBar = nullptr;
    SHACTIVATEINFO activationInfo{};
};
extern MainWindowState mainWindowState;
