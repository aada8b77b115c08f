// The shell calls (menu bars, full-screen dialogs), the cursor, system
// parameters, device contexts and text measurement.
#include "platform/win/window_records.h"

using namespace window_records;

HGDIOBJ GetStockObject(int object) {
    static const int whiteBrush = WHITE_BRUSH;
    static const int systemFont = SYSTEM_FONT;
    if (object == SYSTEM_FONT) return const_cast<int*>(&systemFont);
    return object == WHITE_BRUSH ? const_cast<int*>(&whiteBrush) : nullptr;
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
    if (action == SPI_GETWORKAREA && value) {
        // No task bar: the work area is the whole screen, the menu bar included.
        *static_cast<RECT*>(value) = {0, 0, state().screen.cx, state().screen.cy};
        return TRUE;
    }
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

