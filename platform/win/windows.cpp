// Windows and the message queue: classes, creation and destruction, window
// data, focus, geometry, visibility, texts and the queue itself.
#include <algorithm>

#include "platform/win/window_records.h"

namespace window_records {

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
WCHAR lowerCase(WCHAR c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F))
        return static_cast<WCHAR>(c + 32);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<WCHAR>(c + 32);  // full-width A-Z
    return c;
}

LRESULT notifyParent(Window* control, NMHDR* header) {
    if (!control->parent) return 0;
    header->hwndFrom = control;
    header->idFrom = control->id;
    return SendMessageW(control->parent, WM_NOTIFY, control->id, reinterpret_cast<LPARAM>(header));
}

}  // namespace window_records

using namespace window_records;

namespace {

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
    if (state().focus && state().focus->destroying) state().focus = nullptr;
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

// The screen has one font: selecting one changes nothing.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) { return dc ? GetStockObject(SYSTEM_FONT) : nullptr; }

LONG GetWindowLongW(HWND handle, int index) {
    Window* window = lookup(handle);
    if (!window) return 0;
    if (index == GWL_STYLE) return static_cast<LONG>(window->style);
    if (index == GWL_EXSTYLE) return 0;
    return static_cast<LONG>(GetWindowLongPtrW(handle, index));
}

LONG SetWindowLongW(HWND handle, int index, LONG value) {
    Window* window = lookup(handle);
    if (!window) return 0;
    if (index == GWL_STYLE) {
        auto previous = static_cast<LONG>(window->style);
        window->style = static_cast<DWORD>(value);
        window->enabled = !(window->style & WS_DISABLED);
        notifyChanged(window);
        return previous;
    }
    return static_cast<LONG>(SetWindowLongPtrW(handle, index, value));
}

LONG_PTR GetWindowLongPtrW(HWND handle, int index) {
    Window* window = lookup(handle);
    if (!window) return 0;
    if (index == DWLP_USER && window->dialogProc) return window->userData;
    if (index == GWL_STYLE) return static_cast<LONG_PTR>(window->style);
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

LONG_PTR SetWindowLongPtrW(HWND handle, int index, LONG_PTR value) {
    Window* window = lookup(handle);
    if (!window) return 0;
    if (index == DWLP_USER && window->dialogProc) {
        LONG_PTR previous = window->userData;
        window->userData = value;
        return previous;
    }
    if (index == GWL_STYLE) return SetWindowLongW(handle, index, static_cast<LONG>(value));
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

BOOL SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int width, int height, UINT flags) {
    Window* window = lookup(handle);
    if (!window) return FALSE;
    RECT r = window->rect;
    if (flags & SWP_NOMOVE) {
        x = r.left;
        y = r.top;
    }
    if (flags & SWP_NOSIZE) {
        width = r.right - r.left;
        height = r.bottom - r.top;
    }
    return MoveWindow(handle, x, y, width, height, TRUE);
}

HWND SetFocus(HWND handle) {
    Window* window = lookup(handle);
    Window* previous = state().focus;
    if (handle && !window) return nullptr;
    state().focus = window;
    if (state().backend && window) state().backend->focusChanged(window);
    return previous;
}

HWND GetFocus() { return state().focus; }

BOOL SetForegroundWindow(HWND handle) { return lookup(handle) ? TRUE : FALSE; }

int GetSystemMetrics(int index) { return index == SM_CXSMICON ? 16 : 0; }

LPWSTR CharLowerW(LPWSTR text) {
    for (WCHAR* p = text; p && *p; ++p) *p = lowerCase(*p);
    return text;
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
    bool resized = window->rect.right - window->rect.left != width ||
                   window->rect.bottom - window->rect.top != height;
    window->rect = {x, y, x + width, y + height};
    if (repaint) window->needsPaint = true;
    notifyChanged(window);
    // The window lays out its contents for the new size.
    if (resized && window->proc)
        window->proc(window, WM_SIZE, 0,
                     static_cast<LPARAM>((static_cast<std::uint32_t>(height) << 16) |
                                         static_cast<std::uint32_t>(width & 0xFFFF)));
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

