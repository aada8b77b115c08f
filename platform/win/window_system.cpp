#include "platform/win/window_system.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/win/backend.h"

namespace {

struct WindowClass {
    std::u16string name;
    WNDCLASSW info;
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
    std::vector<LPARAM> rowParams;
    std::vector<bool> rowSelected;
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
};

State& state() {
    static State instance;
    return instance;
}

Window* lookup(HWND handle) {
    if (!handle) return nullptr;
    for (const auto& window : state().windows) {
        if (window.get() == handle && !window->destroying) return window.get();
    }
    return nullptr;
}

bool equalsIgnoreCase(const std::u16string& a, const WCHAR* b) {
    std::size_t length = wideLength(b);
    if (a.size() != length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        WCHAR x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<WCHAR>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<WCHAR>(y - 32);
        if (x != y) return false;
    }
    return true;
}

void notifyChanged(Window* window) {
    if (state().backend) state().backend->windowChanged(window);
}

std::u16string textFrom(LPCWSTR text) { return text ? std::u16string(text) : std::u16string(); }

// Copies text into a caller's buffer, cut to fit; returns the units copied.
int copyText(const std::u16string& text, LPWSTR buffer, int capacity) {
    if (!buffer || capacity <= 0) return 0;
    std::size_t count = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity) - 1);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(count), buffer);
    buffer[count] = 0;
    return static_cast<int>(count);
}

bool isTopLevel(const Window* window) { return !(window->style & WS_CHILD); }

WORD buttonType(const Window* window) { return static_cast<WORD>(window->style & BS_TYPEMASK); }

// The built-in control classes keep their state in the Window record.
LRESULT controlProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = lookup(handle);
    if (!window) return 0;
    const std::u16string& cls = window->className;
    if (equalsIgnoreCase(cls, kButtonClass)) {
        if (message == BM_GETCHECK) return window->check;
        if (message == BM_SETCHECK) {
            window->check = wParam == BST_CHECKED ? 1 : 0;
            notifyChanged(window);
            return 0;
        }
    } else if (equalsIgnoreCase(cls, kComboBoxClass)) {
        switch (message) {
        case CB_ADDSTRING:
            window->entries.push_back(textFrom(reinterpret_cast<LPCWSTR>(lParam)));
            notifyChanged(window);
            return static_cast<LRESULT>(window->entries.size() - 1);
        case CB_GETCOUNT:
            return static_cast<LRESULT>(window->entries.size());
        case CB_GETCURSEL:
            return window->selection;
        case CB_SETCURSEL:
            if (wParam >= window->entries.size()) {
                window->selection = -1;
                notifyChanged(window);
                return CB_ERR;
            }
            window->selection = static_cast<int>(wParam);
            notifyChanged(window);
            return window->selection;
        case CB_GETLBTEXTLEN:
            if (wParam >= window->entries.size()) return CB_ERR;
            return static_cast<LRESULT>(window->entries[wParam].size());
        case CB_GETLBTEXT: {
            if (wParam >= window->entries.size() || !lParam) return CB_ERR;
            const std::u16string& entry = window->entries[wParam];
            auto* out = reinterpret_cast<WCHAR*>(lParam);
            std::copy(entry.begin(), entry.end(), out);
            out[entry.size()] = 0;
            return static_cast<LRESULT>(entry.size());
        }
        case CB_RESETCONTENT:
            window->entries.clear();
            window->selection = -1;
            notifyChanged(window);
            return 0;
        }
    } else if (equalsIgnoreCase(cls, kListViewClass)) {
        auto* item = reinterpret_cast<LVITEMW*>(lParam);
        switch (message) {
        case LVM_GETITEMCOUNT:
            return static_cast<LRESULT>(window->rows.size());
        case LVM_INSERTITEMW: {
            if (!item) return -1;
            std::size_t at = std::min<std::size_t>(
                item->iItem < 0 ? 0 : static_cast<std::size_t>(item->iItem), window->rows.size());
            window->rows.insert(window->rows.begin() + static_cast<std::ptrdiff_t>(at),
                                std::vector<std::u16string>{
                                    (item->mask & LVIF_TEXT) ? textFrom(item->pszText) : u""});
            window->rowParams.insert(window->rowParams.begin() + static_cast<std::ptrdiff_t>(at),
                                     (item->mask & LVIF_PARAM) ? item->lParam : 0);
            window->rowSelected.insert(window->rowSelected.begin() + static_cast<std::ptrdiff_t>(at),
                                       false);
            notifyChanged(window);
            return static_cast<LRESULT>(at);
        }
        case LVM_SETITEMTEXTW: {
            if (!item || wParam >= window->rows.size() || item->iSubItem < 0 ||
                item->iSubItem > 63)
                return FALSE;
            auto& row = window->rows[wParam];
            if (row.size() <= static_cast<std::size_t>(item->iSubItem))
                row.resize(static_cast<std::size_t>(item->iSubItem) + 1);
            row[static_cast<std::size_t>(item->iSubItem)] = textFrom(item->pszText);
            notifyChanged(window);
            return TRUE;
        }
        case LVM_GETITEMTEXTW: {
            if (!item || wParam >= window->rows.size() || item->iSubItem < 0) return 0;
            const auto& row = window->rows[wParam];
            std::u16string text = static_cast<std::size_t>(item->iSubItem) < row.size()
                                      ? row[static_cast<std::size_t>(item->iSubItem)]
                                      : u"";
            return copyText(text, item->pszText, item->cchTextMax);
        }
        case LVM_DELETEITEM:
            if (wParam >= window->rows.size()) return FALSE;
            window->rows.erase(window->rows.begin() + static_cast<std::ptrdiff_t>(wParam));
            window->rowParams.erase(window->rowParams.begin() + static_cast<std::ptrdiff_t>(wParam));
            window->rowSelected.erase(window->rowSelected.begin() +
                                      static_cast<std::ptrdiff_t>(wParam));
            notifyChanged(window);
            return TRUE;
        case LVM_DELETEALLITEMS:
            window->rows.clear();
            window->rowParams.clear();
            window->rowSelected.clear();
            notifyChanged(window);
            return TRUE;
        case LVM_SETITEMSTATE:
            if (!item || wParam >= window->rows.size()) return FALSE;
            if (item->stateMask & LVIS_SELECTED) {
                window->rowSelected[wParam] = (item->state & LVIS_SELECTED) != 0;
                notifyChanged(window);
            }
            return TRUE;
        case LVM_GETNEXTITEM: {
            auto start = static_cast<std::intptr_t>(wParam);
            for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start + 1);
                 i < window->rows.size(); ++i) {
                if (!(lParam & LVNI_SELECTED) || window->rowSelected[i])
                    return static_cast<LRESULT>(i);
            }
            return -1;
        }
        }
    }
    return DefWindowProcW(handle, message, wParam, lParam);
}

// Every dialog window runs this procedure around its dialog procedure.
LRESULT dialogWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = lookup(handle);
    if (!window) return 0;
    if (window->dialogProc && window->dialogProc(handle, message, wParam, lParam)) return TRUE;
    if (message == WM_CLOSE) {
        // Closing a dialog is its Cancel.
        PostMessageW(handle, WM_COMMAND, IDCANCEL, 0);
        return 0;
    }
    return DefWindowProcW(handle, message, wParam, lParam);
}

const WindowClass* findClass(LPCWSTR name) {
    if (!name || IS_INTRESOURCE(name)) return nullptr;
    for (const WindowClass& cls : state().classes) {
        if (equalsIgnoreCase(cls.name, name)) return &cls;
    }
    return nullptr;
}

bool isBuiltInClass(LPCWSTR name) {
    for (LPCWSTR builtIn : {kStaticClass, kEditClass, kButtonClass, kComboBoxClass,
                            kListViewClass, kMenuBarClass}) {
        if (equalsIgnoreCase(std::u16string(builtIn), name)) return true;
    }
    return false;
}

const void* findEntry(const ResourceEntry* entries, std::size_t count, LPCWSTR name) {
    if (!entries || !IS_INTRESOURCE(name)) return nullptr;
    auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].id == id) return entries[i].data;
    }
    return nullptr;
}

void destroyTree(Window* window) {
    if (window->destroying) return;
    window->destroying = true;
    // Children and owned windows go first, newest first.
    auto& windows = state().windows;
    for (std::size_t i = windows.size(); i-- > 0;) {
        Window* other = windows[i].get();
        if (other->parent == window && !other->destroying) {
            destroyTree(other);
        }
    }
    window->destroying = false;
    if (window->proc) window->proc(window, WM_DESTROY, 0, 0);
    window->destroying = true;
    if (state().backend) state().backend->windowDestroyed(window);
}

void removeDestroyed() {
    auto& windows = state().windows;
    // Messages still queued for them go too.
    auto& queue = state().queue;
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [](const MSG& m) {
                                   Window* w = static_cast<Window*>(m.hwnd);
                                   if (!w) return false;
                                   for (const auto& live : state().windows)
                                       if (live.get() == w) return live->destroying;
                                   return true;
                               }),
                queue.end());
    windows.erase(std::remove_if(windows.begin(), windows.end(),
                                 [](const std::unique_ptr<Window>& w) { return w->destroying; }),
                  windows.end());
}

bool isDialogKey(const MSG& message, Window* dialog) {
    if (message.message != WM_KEYDOWN) return false;
    Window* target = lookup(message.hwnd);
    // A key for the dialog itself or any of its controls.
    while (target && target != dialog) target = isTopLevel(target) ? nullptr : target->parent;
    if (!target) return false;
    if (message.wParam == VK_RETURN) {
        SendMessageW(dialog, WM_COMMAND, IDOK, 0);
        return true;
    }
    if (message.wParam == VK_ESCAPE) {
        SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Windows

ATOM RegisterClassW(const WNDCLASSW* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || IS_INTRESOURCE(windowClass->lpszClassName) ||
        !windowClass->lpfnWndProc || findClass(windowClass->lpszClassName) ||
        isBuiltInClass(windowClass->lpszClassName)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    state().classes.push_back({windowClass->lpszClassName, *windowClass});
    return static_cast<ATOM>(0xC000 + state().classes.size());
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param) {
    Window* parentWindow = nullptr;
    if (parent) {
        parentWindow = lookup(parent);
        if (!parentWindow) {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
    }
    if ((style & WS_CHILD) && !parentWindow) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    WNDPROC proc = nullptr;
    if (const WindowClass* cls = findClass(className)) {
        proc = cls->info.lpfnWndProc;
    } else if (className && !IS_INTRESOURCE(className) && isBuiltInClass(className)) {
        proc = controlProc;
    } else {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto window = std::make_unique<Window>();
    window->className = className;
    window->text = textFrom(windowName);
    window->style = style;
    window->parent = parentWindow;
    window->proc = proc;
    window->instance = instance;
    window->enabled = !(style & WS_DISABLED);
    if (style & WS_CHILD) window->id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(menu));
    if (x == CW_USEDEFAULT || width == CW_USEDEFAULT) {
        SIZE screen = state().screen;
        window->rect = {0, 0, screen.cx, screen.cy};
    } else {
        window->rect = {x, y, x + width, y + height};
    }
    Window* created = window.get();
    state().windows.push_back(std::move(window));
    if (state().backend) state().backend->windowCreated(created);
    CREATESTRUCTW create{param,  instance, menu,          parent,    height,
                         width,  y,        x,             static_cast<LONG>(style),
                         windowName, className, exStyle};
    if (proc(created, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        DestroyWindow(created);
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    return lookup(created) ? created : nullptr;
}

BOOL DestroyWindow(HWND handle) {
    Window* window = lookup(handle);
    if (!window) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    destroyTree(window);
    auto& stack = state().modalStack;
    for (Window*& modal : stack) {
        if (modal->destroying) modal->dialogEnded = true;
    }
    removeDestroyed();
    return TRUE;
}

BOOL IsWindow(HWND window) { return lookup(window) ? TRUE : FALSE; }

LRESULT DefWindowProcW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = lookup(handle);
    if (!window) return 0;
    switch (message) {
    case WM_SETTEXT:
        window->text = textFrom(reinterpret_cast<LPCWSTR>(lParam));
        notifyChanged(window);
        return TRUE;
    case WM_GETTEXT:
        return copyText(window->text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(window->text.size());
    case WM_CLOSE:
        DestroyWindow(handle);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(handle, &paint);
        EndPaint(handle, &paint);
        return 0;
    }
    }
    return 0;
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    const auto* module = static_cast<const ResourceModule*>(instance);
    if (!module) return nullptr;
    return const_cast<void*>(findEntry(module->icons, module->iconCount, name));
}

HGDIOBJ GetStockObject(int object) {
    static const int whiteBrush = WHITE_BRUSH;
    return object == WHITE_BRUSH ? const_cast<int*>(&whiteBrush) : nullptr;
}

// ---------------------------------------------------------------------------
// The message queue

BOOL GetMessageW(MSG* message, HWND filterWindow, UINT filterMin, UINT filterMax) {
    if (!message) return FALSE;
    State& s = state();
    for (;;) {
        if (!s.queue.empty()) {
            *message = s.queue.front();
            s.queue.pop_front();
            if (message->hwnd && !lookup(message->hwnd)) continue;
            return TRUE;
        }
        if (s.quitPosted) {
            s.quitPosted = false;
            *message = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(s.quitCode), 0, 0, {0, 0}};
            return FALSE;
        }
        if (!s.backend) {
            // Nobody can ever post anything: end rather than wait forever.
            PostQuitMessage(1);
            continue;
        }
        s.backend->waitForInput();
    }
}

BOOL TranslateMessage(const MSG* message) { return message ? TRUE : FALSE; }

LRESULT DispatchMessageW(const MSG* message) {
    if (!message) return 0;
    Window* window = lookup(message->hwnd);
    if (!window || !window->proc) return 0;
    return window->proc(window, message->message, message->wParam, message->lParam);
}

BOOL PostMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle && !lookup(handle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    state().queue.push_back(MSG{handle, message, wParam, lParam, 0, {0, 0}});
    return TRUE;
}

LRESULT SendMessageW(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = lookup(handle);
    if (!window || !window->proc) return 0;
    return window->proc(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
    state().quitPosted = true;
    state().quitCode = exitCode;
}

// ---------------------------------------------------------------------------
// Geometry and visibility

BOOL GetWindowRect(HWND handle, RECT* rect) {
    Window* window = lookup(handle);
    if (!window || !rect) return FALSE;
    RECT r = window->rect;
    for (Window* up = window; !isTopLevel(up) && up->parent; up = up->parent) {
        r.left += up->parent->rect.left;
        r.right += up->parent->rect.left;
        r.top += up->parent->rect.top;
        r.bottom += up->parent->rect.top;
    }
    *rect = r;
    return TRUE;
}

BOOL GetClientRect(HWND handle, RECT* rect) {
    Window* window = lookup(handle);
    if (!window || !rect) return FALSE;
    // Windows have no frame on the device: the client area is the window.
    *rect = {0, 0, window->rect.right - window->rect.left, window->rect.bottom - window->rect.top};
    return TRUE;
}

BOOL MoveWindow(HWND handle, int x, int y, int width, int height, BOOL repaint) {
    Window* window = lookup(handle);
    if (!window || width < 0 || height < 0) return FALSE;
    window->rect = {x, y, x + width, y + height};
    if (repaint) window->needsPaint = true;
    notifyChanged(window);
    return TRUE;
}

BOOL ShowWindow(HWND handle, int command) {
    Window* window = lookup(handle);
    if (!window) return FALSE;
    BOOL wasVisible = (window->style & WS_VISIBLE) ? TRUE : FALSE;
    if (command == SW_HIDE) {
        window->style &= ~WS_VISIBLE;
    } else {
        window->style |= WS_VISIBLE;
        window->needsPaint = true;
    }
    notifyChanged(window);
    return wasVisible;
}

BOOL IsWindowVisible(HWND handle) {
    Window* window = lookup(handle);
    for (; window; window = isTopLevel(window) ? nullptr : window->parent) {
        if (!(window->style & WS_VISIBLE)) return FALSE;
        if (isTopLevel(window)) return TRUE;
    }
    return FALSE;
}

BOOL UpdateWindow(HWND handle) {
    Window* window = lookup(handle);
    if (!window) return FALSE;
    if (window->needsPaint && (window->style & WS_VISIBLE) && !window->dialogProc) {
        SendMessageW(handle, WM_PAINT, 0, 0);
    }
    window->needsPaint = false;
    notifyChanged(window);
    return TRUE;
}

BOOL EnableWindow(HWND handle, BOOL enable) {
    Window* window = lookup(handle);
    if (!window) return FALSE;
    BOOL wasDisabled = window->enabled ? FALSE : TRUE;
    window->enabled = enable != FALSE;
    notifyChanged(window);
    return wasDisabled;
}

HDC BeginPaint(HWND handle, PAINTSTRUCT* paint) {
    Window* window = lookup(handle);
    if (!window || !paint) return nullptr;
    paint->hdc = window;
    paint->fErase = FALSE;
    GetClientRect(handle, &paint->rcPaint);
    window->needsPaint = false;
    return window;
}

BOOL EndPaint(HWND handle, const PAINTSTRUCT* paint) { return lookup(handle) ? TRUE : FALSE; }

// ---------------------------------------------------------------------------
// Texts

BOOL SetWindowTextW(HWND handle, LPCWSTR text) {
    if (!lookup(handle)) return FALSE;
    return SendMessageW(handle, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND handle, LPWSTR buffer, int capacity) {
    if (!lookup(handle)) return 0;
    return static_cast<int>(
        SendMessageW(handle, WM_GETTEXT, static_cast<WPARAM>(capacity < 0 ? 0 : capacity),
                     reinterpret_cast<LPARAM>(buffer)));
}

// ---------------------------------------------------------------------------
// Dialogs

HRSRC FindResourceW(HINSTANCE instance, LPCWSTR name, LPCWSTR type) {
    const auto* module = static_cast<const ResourceModule*>(instance);
    if (!module) return nullptr;
    if (type == RT_DIALOG) return findEntry(module->dialogs, module->dialogCount, name);
    if (type == RT_MENU) return findEntry(module->menus, module->menuCount, name);
    return nullptr;
}

HGLOBAL LoadResource(HINSTANCE instance, HRSRC resource) { return resource; }

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DialogTemplate* dialogTemplate,
                                HWND owner, DLGPROC dialogProc, LPARAM initParam) {
    if (!dialogTemplate || !dialogProc || (owner && !lookup(owner))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    // Dialog units become pixels on the device's 96-dpi screen with an
    // 8-point font: 2 pixels per horizontal unit, 2 per vertical unit.
    HWND dialog = nullptr;
    {
        auto window = std::make_unique<Window>();
        window->className = u"Dialog";
        window->text = textFrom(dialogTemplate->title);
        window->style = dialogTemplate->style & ~WS_VISIBLE;
        window->parent = lookup(owner);
        window->proc = dialogWindowProc;
        window->dialogProc = dialogProc;
        window->instance = instance;
        window->rect = {dialogTemplate->x * 2, dialogTemplate->y * 2,
                        (dialogTemplate->x + dialogTemplate->cx) * 2,
                        (dialogTemplate->y + dialogTemplate->cy) * 2};
        dialog = window.get();
        state().windows.push_back(std::move(window));
        if (state().backend) state().backend->windowCreated(dialog);
    }
    for (std::size_t i = 0; i < dialogTemplate->itemCount; ++i) {
        const DialogItemTemplate& item = dialogTemplate->items[i];
        CreateWindowExW(0, item.className, item.caption, item.style | WS_CHILD, item.x * 2,
                        item.y * 2, item.cx * 2, item.cy * 2, dialog,
                        reinterpret_cast<HMENU>(static_cast<std::uintptr_t>(item.id)), instance,
                        nullptr);
    }
    Window* ownerWindow = lookup(owner);
    bool ownerWasEnabled = ownerWindow && ownerWindow->enabled;
    if (ownerWindow) EnableWindow(owner, FALSE);

    dialogProc(dialog, WM_INITDIALOG, 0, initParam);
    Window* window = lookup(dialog);
    if (window && !window->dialogEnded) ShowWindow(dialog, SW_SHOW);

    state().modalStack.push_back(window);
    MSG message;
    bool quit = false;
    while ((window = lookup(dialog)) && !window->dialogEnded) {
        if (!GetMessageW(&message, nullptr, 0, 0)) {
            quit = true;
            break;
        }
        if (isDialogKey(message, window)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    state().modalStack.erase(
        std::remove(state().modalStack.begin(), state().modalStack.end(), static_cast<Window*>(dialog)),
        state().modalStack.end());
    INT_PTR result = window ? window->dialogResult : 0;
    if (window) DestroyWindow(dialog);
    if (ownerWindow && lookup(owner) && ownerWasEnabled) EnableWindow(owner, TRUE);
    // The quit message ends every loop it passes through, so the loop that
    // runs this dialog's owner sees it as well.
    if (quit) PostQuitMessage(static_cast<int>(message.wParam));
    return result;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    Window* window = lookup(dialog);
    if (!window || !window->dialogProc) return FALSE;
    window->dialogEnded = true;
    window->dialogResult = result;
    return TRUE;
}

HWND GetDlgItem(HWND dialog, int id) {
    Window* parent = lookup(dialog);
    if (!parent) return nullptr;
    for (const auto& window : state().windows) {
        if (window->parent == parent && !isTopLevel(window.get()) && window->id == id &&
            !window->destroying)
            return window.get();
    }
    return nullptr;
}

int GetDlgCtrlID(HWND control) {
    Window* window = lookup(control);
    return window ? window->id : 0;
}

HWND GetParent(HWND handle) {
    Window* window = lookup(handle);
    return window ? window->parent : nullptr;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int capacity) {
    HWND control = GetDlgItem(dialog, id);
    if (!control) {
        if (buffer && capacity > 0) buffer[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(control, buffer, capacity));
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND control = GetDlgItem(dialog, id);
    return control ? SetWindowTextW(control, text) : FALSE;
}

// ---------------------------------------------------------------------------
// Messages, strings, cursor, platform

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
    if (!state().backend) return 0;
    return state().backend->messageBox(owner, textFrom(text), textFrom(caption), style);
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity) {
    const auto* module = static_cast<const ResourceModule*>(instance);
    const WCHAR* text = module && module->stringLookup ? module->stringLookup(id) : nullptr;
    if (!text || !buffer) return 0;
    int length = static_cast<int>(wideLength(text));
    if (capacity == 0) {
        *reinterpret_cast<const WCHAR**>(buffer) = text;
        return length;
    }
    return copyText(text, buffer, capacity);
}

HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name) {
    static int waitCursor;
    return (!instance && name == IDC_WAIT) ? &waitCursor : nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
    static HCURSOR current = nullptr;
    HCURSOR previous = current;
    current = cursor;
    bool wait = cursor != nullptr && cursor == LoadCursorW(nullptr, IDC_WAIT);
    if (wait != state().waitCursor) {
        state().waitCursor = wait;
        if (state().backend) state().backend->waitCursorChanged(wait);
    }
    return previous;
}

BOOL SystemParametersInfoW(UINT action, UINT param, void* value, UINT winIni) {
    if (action != SPI_GETPLATFORMTYPE || !value) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string& name = state().platformType;
    // param is the capacity of value in bytes.
    if (param < (name.size() + 1) * sizeof(WCHAR)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    copyText(name, static_cast<LPWSTR>(value), static_cast<int>(param / sizeof(WCHAR)));
    return TRUE;
}

HDC GetDC(HWND window) {
    static int screenContext;
    return window ? static_cast<HDC>(lookup(window)) : static_cast<HDC>(&screenContext);
}

int ReleaseDC(HWND window, HDC dc) { return 1; }

BOOL GetTextExtentExPointW(HDC dc, LPCWSTR text, int length, int maxExtent, int* fit, int* dx,
                           SIZE* size) {
    if (!dc || !text || length < 0 || !size) return FALSE;
    *size = state().backend ? state().backend->textExtent(text, length)
                            : SIZE{6 * length, 13};
    if (fit) *fit = length;
    return TRUE;
}

// ---------------------------------------------------------------------------
// The shell

BOOL SHCreateMenuBar(SHMENUBARINFO* info) {
    if (!info || info->cbSize < sizeof(DWORD) * 9 || !lookup(info->hwndParent)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hwndMB = nullptr;
    const auto* menu = static_cast<const MenuTemplate*>(
        FindResourceW(info->hInstRes, MAKEINTRESOURCEW(info->nToolBarId), RT_MENU));
    if (!menu) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    SIZE screen = state().screen;
    // The bar is a window of its own along the bottom of the screen, owned by
    // its parent so that it goes when the parent goes.
    HWND bar = CreateWindowExW(0, kMenuBarClass, nullptr, WS_VISIBLE, 0,
                               screen.cy - window_system::kMenuBarHeight, screen.cx,
                               window_system::kMenuBarHeight, info->hwndParent, nullptr,
                               info->hInstRes, nullptr);
    Window* window = lookup(bar);
    if (!window) return FALSE;
    window->menu = menu;
    notifyChanged(window);
    info->hwndMB = bar;
    return TRUE;
}

BOOL SHInitDialog(SHINITDLGINFO* info) {
    if (!info) return FALSE;
    Window* dialog = lookup(info->hDlg);
    if (!dialog) return FALSE;
    if ((info->dwMask & SHIDIM_FLAGS) && (info->dwFlags & SHIDIF_SIZEDLGFULLSCREEN)) {
        // The whole screen above the menu bar.
        dialog->fullScreen = true;
        SIZE screen = state().screen;
        MoveWindow(dialog, 0, 0, screen.cx, screen.cy - window_system::kMenuBarHeight, TRUE);
    }
    return TRUE;
}

// The dialog title bar's OK button does not exist here: nothing to hide.
BOOL SHDoneButton(HWND window, DWORD state) { return lookup(window) ? TRUE : FALSE; }

BOOL CommandBar_Show(HWND bar, BOOL show) {
    return lookup(bar) ? (ShowWindow(bar, show ? SW_SHOW : SW_HIDE), TRUE) : FALSE;
}

BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info,
                        DWORD flags) {
    return lookup(window) ? TRUE : FALSE;
}

BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info) {
    return lookup(window) ? TRUE : FALSE;
}

// ---------------------------------------------------------------------------
// Host-side controls

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
    return window && row < window->rowSelected.size() && window->rowSelected[row];
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
    if (!window || !window->enabled || row < 0 ||
        static_cast<std::size_t>(row) >= window->rows.size())
        return;
    for (std::size_t i = 0; i < window->rowSelected.size(); ++i)
        window->rowSelected[i] = i == static_cast<std::size_t>(row);
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

// ---------------------------------------------------------------------------
// Progress while a request runs (the wait cursor is up)

#include "platform/win/progress_hook.h"

void reportOutputCreated(LPCWSTR path) {
    static unsigned filesSoFar = 0;
    static bool counting = false;
    State& s = state();
    if (!s.waitCursor) {
        counting = false;
        return;
    }
    if (!counting) filesSoFar = 0;
    counting = true;
    ++filesSoFar;
    if (s.backend && path) s.backend->progress(path, filesSoFar);
}
