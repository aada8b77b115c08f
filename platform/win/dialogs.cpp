// Modal dialogs from templates and their keys (Enter, Esc, Tab), dialog
// items, resources, message boxes and string resources.
#include <algorithm>

#include "platform/win/window_records.h"

namespace window_records {

const void* findEntry(const ResourceEntry* entries, std::size_t count, LPCWSTR name) {
    if (!entries || !IS_INTRESOURCE(name)) return nullptr;
    auto id = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(name));
    for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].id == id) return entries[i].data;
    }
    return nullptr;
}

bool isDialogKey(const MSG& message, Window* dialog) {
    if (message.message != WM_KEYDOWN) return false;
    Window* target = lookup(message.hwnd);
    // A key for the dialog itself or any of its controls.
    while (target && target != dialog) target = isTopLevel(target) ? nullptr : target->parent;
    if (!target) return false;
    if (Window* list = listEditingIn(dialog)) {
        if (message.wParam != VK_RETURN && message.wParam != VK_ESCAPE) return false;
        endEdit(list, message.wParam == VK_RETURN);
        return true;
    }
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

}  // namespace window_records

using namespace window_records;

namespace {

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

}  // namespace

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    const auto* module = static_cast<const ResourceModule*>(instance);
    if (!module) return nullptr;
    return const_cast<void*>(findEntry(module->icons, module->iconCount, name));
}

void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, std::uintptr_t extraInfo) {
    if (virtualKey != VK_TAB || !(flags & KEYEVENTF_KEYUP)) return;
    Window* dialog = static_cast<Window*>(window_system::activeDialog());
    if (!dialog) return;
    // The next control after the focused one that takes the focus, round
    // to the first.
    std::vector<Window*> stops;
    for (const auto& window : state().windows) {
        if (window->parent == dialog && !isTopLevel(window.get()) && !window->destroying &&
            (window->style & WS_TABSTOP) && window->enabled && IsWindowVisible(window.get()))
            stops.push_back(window.get());
    }
    if (stops.empty()) return;
    auto current = std::find(stops.begin(), stops.end(), state().focus);
    std::size_t next = current == stops.end()
                           ? 0
                           : (static_cast<std::size_t>(current - stops.begin()) + 1) % stops.size();
    SetFocus(stops[next]);
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
    std::u16string body = textFrom(text);
    return state().backend->messageBox(owner, body, textFrom(caption), style,
                                       window_system::layOutMessageBox(owner, body, style));
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
