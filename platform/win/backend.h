// What turns the window system's state into something a person sees, and a
// person's input into messages. The window system tells the backend about
// every change; the backend posts or sends messages for every input.
#pragma once

#include <string>

#include "platform/win/window_system.h"

class WindowBackend {
public:
    virtual ~WindowBackend() = default;

    // A window was created, changed (text, check, position, visibility,
    // enabled state) or is about to be destroyed.
    virtual void windowCreated(HWND window) {}
    virtual void windowChanged(HWND window) {}
    virtual void windowDestroyed(HWND window) {}
    // The message queue is empty and the program waits for input: return
    // once something has been posted (or the program cannot go on, after
    // posting the quit message).
    virtual void waitForInput() = 0;
    // A modal message box laid out as the device draws it; returns the
    // button chosen (IDOK, IDYES, ...).
    virtual int messageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                           UINT style, const window_system::MessageBoxLayout& layout) = 0;
    virtual void waitCursorChanged(bool shown) {}
    // The keyboard focus moved to window.
    virtual void focusChanged(HWND window) {}
    // Height and width of text in the screen's default font.
    virtual SIZE textExtent(const WCHAR* text, int length) = 0;
    // A request is running: the output file being written (empty before
    // the first) and how many have been created, and how much of the archive
    // has been read (0 to 100, -1 while unknown). A chance to repaint and
    // show it; input stays blocked.
    virtual void progress(const std::u16string& outputPath, unsigned filesSoFar, int percent) {}
};

namespace window_system {
// The backend in use; nullptr before one is installed.
WindowBackend* backend();
// Installs backend (not owned) for the rest of the run; nullptr removes it.
void installBackend(WindowBackend* backend);
}  // namespace window_system

// The backend that a display allows: the FLTK one when DISPLAY or
// WAYLAND_DISPLAY is set and it can open the display, else nullptr.
WindowBackend* openDisplayBackend();
