// The headless backend: no display at all. A test installs it, queues the
// steps a person would take, runs the program, and reads back what the
// person would have seen. Each step runs when the program waits for input
// (its message queue is empty), so everything the previous step caused has
// been handled by then.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/win/backend.h"

namespace headless {

struct ShownMessage {
    std::u16string caption;
    std::u16string text;
    UINT style;
    window_system::MessageBoxLayout layout;
};

// Makes the headless backend the one in use, with no steps, no answers and
// no messages shown; reset() clears the window system too.
void install();
void uninstall();

// Runs the whole program on the queued steps, its handler list built from
// scratch; afterwards puts back what it released that the suite shares.
// Fails the test when the steps ran out with a dialog still open.
int runMain(const WCHAR* commandLine = u"");

// Queues a step. When the program waits and no step is left, the run ends
// (quit message with code 1) and ranOutOfSteps() turns true: a test that
// forgot to close the dialog fails instead of hanging.
void whenIdle(std::function<void()> step);
bool ranOutOfSteps();
// The answer to the next message box (IDOK when none is queued).
void answerNextMessageBox(int answer);
const std::vector<ShownMessage>& messagesShown();
// What the window showed of running requests, in order.
struct ProgressStep {
    std::u16string outputPath;
    int percent;
    std::chrono::steady_clock::time_point at;
};
const std::vector<ProgressStep>& progressSeen();

// Actions on the innermost running dialog. Each returns false when the
// control or command is not there for a person to use (missing, hidden).
bool typeInto(int controlId, const std::u16string& text);
bool click(int controlId);
bool chooseMenu(int command);  // must be an item of the dialog's menu bar
void pressEnter();
void pressEscape();
// List views and combo boxes: tap or double-tap the row with this label
// (false when there is none), press a key in the list, pick a drop-down entry.
bool tapRow(int listId, const std::u16string& label);
// Both taps of a double tap on the row that has the label when it begins.
bool doubleTapRow(int listId, const std::u16string& label);
// Moves the selection and focus to the row, as the arrow keys do (no notification).
bool selectRow(int listId, const std::u16string& label);
void keyInList(int listId, WORD key);
bool chooseEntry(int comboId, int index);
// The label being edited in a list of the dialog: type text and press Enter.
// False when no label edit is open.
bool finishLabelEdit(const std::u16string& text);
bool labelEditOpen();

// Reading the innermost dialog's controls.
std::u16string textOf(int controlId);
bool isChecked(int controlId);
bool isVisible(int controlId);
HWND dialog();
// The labels of a list's rows; a combo box's entries.
std::vector<std::u16string> labelsOf(int listId);

// The device turns: a new screen size, then WM_SETTINGCHANGE to the dialog.
void rotateScreen(int width, int height);
RECT rectOf(int controlId);  // in the dialog's client coordinates

}  // namespace headless
