// Host-side controls: what backends and tests read back from the window
// system, and the input calls through which a backend delivers what a
// person does.
#include <algorithm>

#include "platform/win/window_records.h"

using namespace window_records;

namespace window_system {

void setPlatformType(const WCHAR* name) { state().platformType = textFrom(name); }

SIZE screenSize() { return state().screen; }

void setScreenSize(int width, int height) {
    state().screen = {width, height};
    // Full-screen dialogs and menu bars follow the screen, as the shell
    // resizes them when the device rotates.
    for (const auto& window : state().windows) {
        if (window->fullScreen) {
            MoveWindow(window.get(), 0, 0, width, height - kMenuBarHeight, TRUE);
        } else if (window->menu) {
            MoveWindow(window.get(), 0, height - kMenuBarHeight, width, kMenuBarHeight, TRUE);
        }
    }
}

const MenuTemplate* menuOf(HWND bar) {
    Window* window = lookup(bar);
    return window ? window->menu : nullptr;
}

HWND menuBarOf(HWND owner) {
    Window* parent = lookup(owner);
    if (!parent) return nullptr;
    for (const auto& window : state().windows) {
        if (window->parent == parent && window->menu && !window->destroying) return window.get();
    }
    return nullptr;
}

HWND activeDialog() {
    auto& stack = state().modalStack;
    for (std::size_t i = stack.size(); i-- > 0;) {
        if (lookup(stack[i])) return stack[i];
    }
    return nullptr;
}

bool isCheckBox(HWND handle) {
    Window* window = lookup(handle);
    return window && equalsIgnoreCase(window->className, kButtonClass) &&
           buttonType(window) == BS_AUTOCHECKBOX;
}

int checkState(HWND handle) {
    Window* window = lookup(handle);
    return window ? window->check : 0;
}

const WCHAR* classNameOf(HWND handle) {
    Window* window = lookup(handle);
    return window ? window->className.c_str() : nullptr;
}

DWORD styleOf(HWND handle) {
    Window* window = lookup(handle);
    return window ? window->style : 0;
}

const WCHAR* textOf(HWND handle) {
    Window* window = lookup(handle);
    return window ? window->text.c_str() : nullptr;
}

std::size_t windowCount() { return state().windows.size(); }

HWND windowAt(std::size_t index) {
    return index < state().windows.size() ? state().windows[index].get() : nullptr;
}

bool waitCursorShown() { return state().waitCursor; }

const std::vector<std::u16string>* comboEntries(HWND comboBox) {
    Window* window = lookup(comboBox);
    return window ? &window->entries : nullptr;
}

int comboSelection(HWND comboBox) {
    Window* window = lookup(comboBox);
    return window ? window->selection : -1;
}

const std::vector<std::vector<std::u16string>>* listRows(HWND listView) {
    Window* window = lookup(listView);
    return window ? &window->rows : nullptr;
}

bool listRowSelected(HWND listView, std::size_t row) {
    Window* window = lookup(listView);
    return window && row < window->rowInfo.size() && (window->rowInfo[row].state & LVIS_SELECTED);
}

int listFocusedRow(HWND listView) {
    Window* window = lookup(listView);
    if (!window) return -1;
    for (std::size_t i = 0; i < window->rowInfo.size(); ++i)
        if (window->rowInfo[i].state & LVIS_FOCUSED) return static_cast<int>(i);
    return -1;
}

int listRowImage(HWND listView, std::size_t row) {
    Window* window = lookup(listView);
    return window && row < window->rowInfo.size() ? window->rowInfo[row].image : -1;
}

const IconImage* listImage(HWND listView, int image) {
    Window* window = lookup(listView);
    if (!window || !window->imageList || !state().imageLists.count(window->imageList) ||
        image < 0 || image >= ImageList_GetImageCount(window->imageList))
        return nullptr;
    return window->imageList->images[static_cast<std::size_t>(image)];
}

const std::vector<std::u16string>* listColumns(HWND listView) {
    Window* window = lookup(listView);
    return window ? &window->columns : nullptr;
}

const std::vector<int>* listColumnWidths(HWND listView) {
    Window* window = lookup(listView);
    return window ? &window->columnWidths : nullptr;
}

HWND labelEditorOf(HWND listView) {
    Window* window = lookup(listView);
    return window ? window->labelEditor : nullptr;
}

void endLabelEdit(HWND listView, bool commit) {
    if (Window* window = lookup(listView)) endEdit(window, commit);
}

namespace {
// Selects and focuses row alone; false when the row is not there.
bool selectOnly(Window* window, int row) {
    if (row < 0 || static_cast<std::size_t>(row) >= window->rows.size()) return false;
    for (std::size_t i = 0; i < window->rowInfo.size(); ++i) {
        UINT& rowState = window->rowInfo[i].state;
        rowState &= ~(LVIS_SELECTED | LVIS_FOCUSED);
        if (i == static_cast<std::size_t>(row)) rowState |= LVIS_SELECTED | LVIS_FOCUSED;
    }
    return true;
}

// Selects and focuses row as a person's tap does; false when the list takes no taps.
bool tapRow(HWND listView, int row) {
    Window* window = lookup(listView);
    if (!window || !window->enabled || !IsWindowVisible(listView) || !selectOnly(window, row))
        return false;
    state().focus = window;
    notifyChanged(window);
    return true;
}

int selectedRow(const Window* window) {
    for (std::size_t i = 0; i < window->rowInfo.size(); ++i)
        if (window->rowInfo[i].state & LVIS_SELECTED) return static_cast<int>(i);
    return -1;
}
}  // namespace

void tapListRow(HWND listView, int row) {
    if (!tapRow(listView, row)) return;
    Window* window = lookup(listView);
    window->tappedListing = window->listing;
    NMHDR header{};
    header.code = NM_CLICK;
    notifyParent(window, &header);
}

void doubleTapListRow(HWND listView, int row) {
    Window* window = lookup(listView);
    if (!window) return;
    // The first tap replaced the rows (it opened a folder): the second tap
    // belongs to the item the first one opened, not to whatever row of the
    // new listing lies under it.
    if (window->tappedListing != window->listing) {
        notifyChanged(window);
        return;
    }
    if (!tapRow(listView, row)) return;
    NMHDR header{};
    header.code = NM_DBLCLK;
    notifyParent(window, &header);
}

void listKey(HWND listView, WORD key) {
    Window* window = lookup(listView);
    if (!window || !window->enabled) return;
    // Moving keys start from the selection; with none, Down and Home reach
    // the first row and Up and End the last. Space selects the focused row.
    const int last = static_cast<int>(window->rows.size()) - 1;
    const int selected = selectedRow(window);
    int target = -2;
    switch (key) {
    case VK_DOWN: target = selected < 0 ? 0 : std::min(selected + 1, last); break;
    case VK_UP: target = selected < 0 ? last : std::max(selected - 1, 0); break;
    case VK_HOME: target = 0; break;
    case VK_END: target = last; break;
    case VK_SPACE: {
        int focused = listFocusedRow(listView);
        target = focused >= 0 ? focused : 0;
        break;
    }
    }
    if (target != -2 && selectOnly(window, target)) notifyChanged(window);
    NMLVKEYDOWN keyDown{};
    keyDown.hdr.code = LVN_KEYDOWN;
    keyDown.wVKey = key;
    notifyParent(window, &keyDown.hdr);
}

void chooseComboEntry(HWND comboBox, int index) {
    Window* window = lookup(comboBox);
    if (!window || !window->enabled || index < 0 ||
        static_cast<std::size_t>(index) >= window->entries.size())
        return;
    window->selection = index;
    if (window->parent) {
        PostMessageW(window->parent, WM_COMMAND, MAKEWPARAM(window->id, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(window));
    }
}

void selectListRow(HWND listView, int row) {
    Window* window = lookup(listView);
    if (window && window->enabled) selectOnly(window, row);
}

const IconImage* programIcon() {
    for (const WindowClass& cls : state().classes) {
        if (cls.info.hIcon) return static_cast<const IconImage*>(cls.info.hIcon);
    }
    return nullptr;
}

bool messagesPending() { return !state().queue.empty() || state().quitPosted; }

void reset() {
    State& s = state();
    for (const auto& window : s.windows) {
        if (s.backend && !window->destroying) s.backend->windowDestroyed(window.get());
        window->destroying = true;
    }
    s.windows.clear();
    s.classes.clear();
    s.queue.clear();
    s.modalStack.clear();
    s.quitPosted = false;
    s.quitCode = 0;
    s.waitCursor = false;
    s.focus = nullptr;
}

WindowBackend* backend() { return state().backend; }

void installBackend(WindowBackend* newBackend) { state().backend = newBackend; }

}  // namespace window_system

namespace window_system {

void clickControl(HWND handle) {
    Window* window = lookup(handle);
    if (!window || !window->enabled || !IsWindowVisible(handle)) return;
    if (equalsIgnoreCase(window->className, kButtonClass) && buttonType(window) == BS_AUTOCHECKBOX) {
        window->check = window->check ? 0 : 1;
        notifyChanged(window);
    }
    if (window->parent) {
        PostMessageW(window->parent, WM_COMMAND, MAKEWPARAM(window->id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(window));
    }
}

void typeText(HWND handle, const WCHAR* text, bool echo) {
    Window* window = lookup(handle);
    if (!window || !window->enabled) return;
    window->text = textFrom(text);
    if (echo) notifyChanged(window);
}

void chooseCommand(HWND window, WORD command) {
    if (lookup(window)) PostMessageW(window, WM_COMMAND, command, 0);
}

void pressKey(HWND window, WORD key) {
    if (lookup(window)) PostMessageW(window, WM_KEYDOWN, key, 0);
}

bool menuHasCommand(const MenuTemplate* menu, WORD command) {
    if (!menu) return false;
    for (std::size_t i = 0; i < menu->itemCount; ++i) {
        const MenuItemTemplate& item = menu->items[i];
        if (item.command == command && item.command != 0) return true;
        MenuTemplate popup{item.popup, item.popupCount};
        if (item.popup && menuHasCommand(&popup, command)) return true;
    }
    return false;
}

}  // namespace window_system

namespace window_system {

void showProgress(const std::u16string& outputPath, unsigned filesSoFar, int percent) {
    if (state().backend) state().backend->progress(outputPath, filesSoFar, percent);
}

}  // namespace window_system
