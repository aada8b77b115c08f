// The window system's own records: every window's state, the registered
// classes, the queue and the modal stack, and the helpers its parts share.
// Internal to platform/win/; the rest of the program sees window_system.h.
#pragma once

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/win/backend.h"
#include "platform/win/window_system.h"

struct ImageList {
    int width;
    int height;
    std::vector<const IconImage*> images;
};

namespace window_records {

struct WindowClass {
    std::u16string name;
    WNDCLASSW info;
};

struct ListRow {
    LPARAM param = 0;
    UINT state = 0;  // LVIS_SELECTED, LVIS_FOCUSED
    int image = -1;
};

struct Window {
    std::u16string className;
    std::u16string text;
    DWORD style = 0;
    WORD id = 0;
    RECT rect{};  // screen coordinates for top-level windows, else the parent's client
    Window* parent = nullptr;  // the parent of a child, the owner of a top-level window
    WNDPROC proc = nullptr;
    HINSTANCE instance = nullptr;
    bool enabled = true;
    int check = 0;
    bool needsPaint = true;
    bool destroying = false;
    // Dialogs.
    DLGPROC dialogProc = nullptr;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
    bool fullScreen = false;
    // Menu bars.
    const MenuTemplate* menu = nullptr;
    // Combo boxes: the entries and the selection; list views: rows of column texts.
    std::vector<std::u16string> entries;
    int selection = -1;
    std::vector<std::vector<std::u16string>> rows;
    std::vector<ListRow> rowInfo;
    DWORD extendedStyle = 0;
    HIMAGELIST imageList = nullptr;
    std::vector<std::u16string> columns;
    std::vector<int> columnWidths;
    // Each replacement of all rows starts a new listing; a double tap acts
    // only in the listing its first tap was in.
    unsigned listing = 0;
    unsigned tappedListing = 0;
    Window* labelEditor = nullptr;  // the edit control over the row being renamed
    int editedRow = -1;
    // Dialogs: the procedure's own data (DWLP_USER).
    LONG_PTR userData = 0;
};

struct State {
    std::vector<WindowClass> classes;
    std::vector<std::unique_ptr<Window>> windows;  // creation order
    std::deque<MSG> queue;
    bool quitPosted = false;
    int quitCode = 0;
    std::vector<Window*> modalStack;
    std::u16string platformType = u"PocketPC";
    SIZE screen{240, 320};
    bool waitCursor = false;
    WindowBackend* backend = nullptr;
    Window* focus = nullptr;
    std::set<HIMAGELIST> imageLists;
};

State& state();
// The live window behind a handle; nullptr for a destroyed or unknown one.
Window* lookup(HWND handle);

bool equalsIgnoreCase(const std::u16string& a, const WCHAR* b);
// Tells the backend that the window's state changed.
void notifyChanged(Window* window);
std::u16string textFrom(LPCWSTR text);
// Copies text into a caller's buffer, cut to fit; returns the units copied.
int copyText(const std::u16string& text, LPWSTR buffer, int capacity);
inline bool isTopLevel(const Window* window) { return !(window->style & WS_CHILD); }
inline WORD buttonType(const Window* window) {
    return static_cast<WORD>(window->style & BS_TYPEMASK);
}
WCHAR lowerCase(WCHAR c);
LRESULT notifyParent(Window* control, NMHDR* header);

// The built-in control classes keep their state in the Window record.
LRESULT controlProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT listViewProc(Window* window, UINT message, WPARAM wParam, LPARAM lParam);
// Ends a list's label edit: commit with the editor's text, or cancel.
void endEdit(Window* list, bool commit);
// The list of the dialog whose label is being edited, or nullptr.
Window* listEditingIn(Window* dialog);
// Enter and Esc for a running dialog; true when the key was the dialog's.
bool isDialogKey(const MSG& message, Window* dialog);
const void* findEntry(const ResourceEntry* entries, std::size_t count, LPCWSTR name);

}  // namespace window_records
