#include "platform/win/window_system.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/win/backend.h"

namespace {

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

WCHAR lowerCase(WCHAR c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3A9) || (c >= 0x410 && c <= 0x42F))
        return static_cast<WCHAR>(c + 32);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<WCHAR>(c + 32);  // full-width A-Z
    return c;
}

// Case-insensitive order of two labels, as the list keeps its sorted labels.
int compareLabels(const std::u16string& a, const std::u16string& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        WCHAR x = lowerCase(a[i]), y = lowerCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool startsWithIgnoreCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerCase(text[i]) != lowerCase(prefix[i])) return false;
    return true;
}

LRESULT notifyParent(Window* control, NMHDR* header) {
    if (!control->parent) return 0;
    header->hwndFrom = control;
    header->idFrom = control->id;
    return SendMessageW(control->parent, WM_NOTIFY, control->id, reinterpret_cast<LPARAM>(header));
}

void endEdit(Window* list, bool commit);

// The list view's own behaviour: rows with labels, sub-item texts, data,
// images and states; sorted insertion, sorting, finding and label editing.
LRESULT listViewProc(Window* window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* item = reinterpret_cast<LVITEMW*>(lParam);
    auto validRow = [&](WPARAM row) { return row < window->rows.size(); };
    switch (message) {
    case LVM_GETITEMCOUNT:
        return static_cast<LRESULT>(window->rows.size());
    case LVM_INSERTITEMW: {
        if (!item) return -1;
        std::u16string label = (item->mask & LVIF_TEXT) ? textFrom(item->pszText) : u"";
        std::size_t at = std::min<std::size_t>(
            item->iItem < 0 ? 0 : static_cast<std::size_t>(item->iItem), window->rows.size());
        if (window->style & LVS_SORTASCENDING) {
            // After every label that does not sort after it: equal labels keep
            // their insertion order.
            at = 0;
            while (at < window->rows.size() && compareLabels(window->rows[at][0], label) <= 0) ++at;
        }
        ListRow info;
        if (item->mask & LVIF_PARAM) info.param = item->lParam;
        if (item->mask & LVIF_IMAGE) info.image = item->iImage;
        if (item->mask & LVIF_STATE) info.state = item->state & item->stateMask;
        window->rows.insert(window->rows.begin() + static_cast<std::ptrdiff_t>(at),
                            std::vector<std::u16string>{label});
        window->rowInfo.insert(window->rowInfo.begin() + static_cast<std::ptrdiff_t>(at), info);
        if (window->editedRow >= static_cast<int>(at)) ++window->editedRow;
        notifyChanged(window);
        return static_cast<LRESULT>(at);
    }
    case LVM_SETITEMTEXTW: {
        if (!item || !validRow(wParam) || item->iSubItem < 0 || item->iSubItem > 63) return FALSE;
        auto& row = window->rows[wParam];
        if (row.size() <= static_cast<std::size_t>(item->iSubItem))
            row.resize(static_cast<std::size_t>(item->iSubItem) + 1);
        row[static_cast<std::size_t>(item->iSubItem)] = textFrom(item->pszText);
        notifyChanged(window);
        return TRUE;
    }
    case LVM_GETITEMTEXTW: {
        if (!item || !validRow(wParam) || item->iSubItem < 0) return 0;
        const auto& row = window->rows[wParam];
        std::u16string text = static_cast<std::size_t>(item->iSubItem) < row.size()
                                  ? row[static_cast<std::size_t>(item->iSubItem)]
                                  : u"";
        return copyText(text, item->pszText, item->cchTextMax);
    }
    case LVM_GETITEMW: {
        if (!item || item->iItem < 0 || !validRow(static_cast<WPARAM>(item->iItem)) ||
            item->iSubItem < 0)
            return FALSE;
        const auto row = static_cast<std::size_t>(item->iItem);
        const ListRow& info = window->rowInfo[row];
        if (item->mask & LVIF_TEXT) {
            const auto& texts = window->rows[row];
            auto sub = static_cast<std::size_t>(item->iSubItem);
            copyText(sub < texts.size() ? texts[sub] : u"", item->pszText, item->cchTextMax);
        }
        if (item->mask & LVIF_PARAM) item->lParam = info.param;
        if (item->mask & LVIF_IMAGE) item->iImage = info.image;
        if (item->mask & LVIF_STATE) item->state = info.state & item->stateMask;
        return TRUE;
    }
    case LVM_GETITEMSTATE:
        return validRow(wParam) ? static_cast<LRESULT>(window->rowInfo[wParam].state & lParam) : 0;
    case LVM_DELETEITEM:
        if (!validRow(wParam)) return FALSE;
        if (window->editedRow == static_cast<int>(wParam)) endEdit(window, false);
        window->rows.erase(window->rows.begin() + static_cast<std::ptrdiff_t>(wParam));
        window->rowInfo.erase(window->rowInfo.begin() + static_cast<std::ptrdiff_t>(wParam));
        if (window->editedRow > static_cast<int>(wParam)) --window->editedRow;
        notifyChanged(window);
        return TRUE;
    case LVM_DELETEALLITEMS:
        if (window->labelEditor) endEdit(window, false);
        window->rows.clear();
        window->rowInfo.clear();
        notifyChanged(window);
        return TRUE;
    case LVM_SETITEMSTATE: {
        if (!item) return FALSE;
        auto apply = [&](std::size_t row) {
            UINT& state = window->rowInfo[row].state;
            state = (state & ~item->stateMask) | (item->state & item->stateMask);
        };
        // One row at most is focused; a single-selection list selects one.
        auto clearOthers = [&](std::size_t keep) {
            for (std::size_t i = 0; i < window->rowInfo.size(); ++i) {
                if (i == keep) continue;
                if (item->state & item->stateMask & LVIS_FOCUSED)
                    window->rowInfo[i].state &= ~LVIS_FOCUSED;
                if ((item->state & item->stateMask & LVIS_SELECTED) &&
                    (window->style & LVS_SINGLESEL))
                    window->rowInfo[i].state &= ~LVIS_SELECTED;
            }
        };
        if (static_cast<std::intptr_t>(wParam) == -1) {
            for (std::size_t i = 0; i < window->rowInfo.size(); ++i) apply(i);
        } else {
            if (!validRow(wParam)) return FALSE;
            clearOthers(wParam);
            apply(wParam);
        }
        notifyChanged(window);
        return TRUE;
    }
    case LVM_GETNEXTITEM: {
        auto start = static_cast<std::intptr_t>(wParam);
        UINT wanted = static_cast<UINT>(lParam) & (LVNI_SELECTED | LVNI_FOCUSED);
        for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start + 1);
             i < window->rows.size(); ++i) {
            UINT state = window->rowInfo[i].state;
            if (((wanted & LVNI_SELECTED) && !(state & LVIS_SELECTED)) ||
                ((wanted & LVNI_FOCUSED) && !(state & LVIS_FOCUSED)))
                continue;
            return static_cast<LRESULT>(i);
        }
        return -1;
    }
    case LVM_FINDITEMW: {
        const auto* find = reinterpret_cast<const LVFINDINFOW*>(lParam);
        if (!find || !(find->flags & LVFI_STRING) || !find->psz) return -1;
        auto start = static_cast<std::intptr_t>(wParam);
        std::u16string wanted = find->psz;
        for (std::size_t i = start < 0 ? 0 : static_cast<std::size_t>(start + 1);
             i < window->rows.size(); ++i) {
            if (compareLabels(window->rows[i][0], wanted) == 0) return static_cast<LRESULT>(i);
        }
        return -1;
    }
    case LVM_SORTITEMS: {
        auto compare = reinterpret_cast<PFNLVCOMPARE>(lParam);
        if (!compare) return FALSE;
        std::vector<std::size_t> order(window->rows.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return compare(window->rowInfo[a].param, window->rowInfo[b].param,
                           static_cast<LPARAM>(wParam)) < 0;
        });
        std::vector<std::vector<std::u16string>> rows;
        std::vector<ListRow> infos;
        int edited = -1;
        for (std::size_t i = 0; i < order.size(); ++i) {
            rows.push_back(std::move(window->rows[order[i]]));
            infos.push_back(window->rowInfo[order[i]]);
            if (static_cast<int>(order[i]) == window->editedRow) edited = static_cast<int>(i);
        }
        window->rows = std::move(rows);
        window->rowInfo = std::move(infos);
        window->editedRow = edited;
        notifyChanged(window);
        return TRUE;
    }
    case LVM_ENSUREVISIBLE:
        return validRow(wParam) ? TRUE : FALSE;
    case LVM_SETIMAGELIST: {
        if (static_cast<int>(wParam) != LVSIL_SMALL) return 0;
        HIMAGELIST previous = window->imageList;
        window->imageList = reinterpret_cast<HIMAGELIST>(lParam);
        notifyChanged(window);
        return reinterpret_cast<LRESULT>(previous);
    }
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return window->extendedStyle;
    case LVM_SETEXTENDEDLISTVIEWSTYLE: {
        DWORD previous = window->extendedStyle;
        DWORD mask = wParam ? static_cast<DWORD>(wParam) : 0xFFFFFFFFu;
        window->extendedStyle = (previous & ~mask) | (static_cast<DWORD>(lParam) & mask);
        return previous;
    }
    case LVM_INSERTCOLUMNW: {
        const auto* column = reinterpret_cast<const LVCOLUMNW*>(lParam);
        if (!column || static_cast<std::intptr_t>(wParam) < 0) return -1;
        std::size_t at = std::min<std::size_t>(wParam, window->columns.size());
        window->columns.insert(window->columns.begin() + static_cast<std::ptrdiff_t>(at),
                               (column->mask & LVCF_TEXT) ? textFrom(column->pszText) : u"");
        window->columnWidths.insert(window->columnWidths.begin() + static_cast<std::ptrdiff_t>(at),
                                    (column->mask & LVCF_WIDTH) ? column->cx : 50);
        notifyChanged(window);
        return static_cast<LRESULT>(at);
    }
    case LVM_EDITLABELW: {
        if (window->labelEditor) endEdit(window, false);
        if (!validRow(wParam) || !(window->style & LVS_EDITLABELS) || !window->parent) return 0;
        NMLVDISPINFOW begin{};
        begin.hdr.code = LVN_BEGINLABELEDITW;
        begin.item.mask = LVIF_TEXT | LVIF_PARAM;
        begin.item.iItem = static_cast<int>(wParam);
        begin.item.pszText = window->rows[wParam][0].data();
        begin.item.lParam = window->rowInfo[wParam].param;
        notifyParent(window, &begin.hdr);
        if (!lookup(window) || !validRow(wParam)) return 0;
        // An edit control over the top of the list holds the label while it
        // is edited; Enter or Esc in the dialog ends the edit.
        RECT listRect = window->rect;
        int height = 18;
        HWND editor = CreateWindowExW(
            0, kEditClass, window->rows[wParam][0].c_str(),
            WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, listRect.left, listRect.top,
            listRect.right - listRect.left, height, window->parent, nullptr, window->instance,
            nullptr);
        window->labelEditor = lookup(editor);
        window->editedRow = window->labelEditor ? static_cast<int>(wParam) : -1;
        if (editor) SetFocus(editor);
        notifyChanged(window);
        return reinterpret_cast<LRESULT>(editor);
    }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void endEdit(Window* list, bool commit) {
    Window* editor = list->labelEditor;
    if (!editor) return;
    std::u16string text = editor->text;
    int row = list->editedRow;
    list->labelEditor = nullptr;
    list->editedRow = -1;
    DestroyWindow(editor);
    NMLVDISPINFOW end{};
    end.hdr.code = LVN_ENDLABELEDITW;
    end.item.mask = LVIF_TEXT;
    end.item.iItem = row;
    end.item.pszText = commit ? text.data() : nullptr;
    if (row >= 0 && static_cast<std::size_t>(row) < list->rowInfo.size())
        end.item.lParam = list->rowInfo[static_cast<std::size_t>(row)].param;
    notifyParent(list, &end.hdr);
    if (lookup(list)) {
        SetFocus(list);
        notifyChanged(list);
    }
}

// The list of the dialog whose label is being edited, or nullptr.
Window* listEditingIn(Window* dialog) {
    for (const auto& window : state().windows) {
        if (window->parent == dialog && window->labelEditor && !window->destroying)
            return window.get();
    }
    return nullptr;
}

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
        case CB_INSERTSTRING: {
            auto index = static_cast<std::intptr_t>(wParam);
            if (index > static_cast<std::intptr_t>(window->entries.size())) return CB_ERR;
            std::size_t at = index < 0 ? window->entries.size() : static_cast<std::size_t>(index);
            window->entries.insert(window->entries.begin() + static_cast<std::ptrdiff_t>(at),
                                   textFrom(reinterpret_cast<LPCWSTR>(lParam)));
            if (window->selection >= static_cast<int>(at)) ++window->selection;
            notifyChanged(window);
            return static_cast<LRESULT>(at);
        }
        case CB_SELECTSTRING: {
            // The first entry that begins with the text, searching after the
            // entry wParam names and round to the start.
            std::u16string prefix = textFrom(reinterpret_cast<LPCWSTR>(lParam));
            std::size_t count = window->entries.size();
            auto after = static_cast<std::intptr_t>(wParam);
            std::size_t first = after < 0 || static_cast<std::size_t>(after) >= count
                                    ? 0
                                    : static_cast<std::size_t>(after) + 1;
            for (std::size_t n = 0; n < count; ++n) {
                std::size_t i = (first + n) % count;
                if (startsWithIgnoreCase(window->entries[i], prefix)) {
                    window->selection = static_cast<int>(i);
                    notifyChanged(window);
                    return static_cast<LRESULT>(i);
                }
            }
            return CB_ERR;
        }
        }
    } else if (equalsIgnoreCase(cls, kListViewClass)) {
        return listViewProc(window, message, wParam, lParam);
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
    static const int systemFont = SYSTEM_FONT;
    if (object == SYSTEM_FONT) return const_cast<int*>(&systemFont);
    return object == WHITE_BRUSH ? const_cast<int*>(&whiteBrush) : nullptr;
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

struct ImageList {
    int width;
    int height;
    std::vector<const IconImage*> images;
};

HIMAGELIST ImageList_Create(int width, int height, UINT flags, int initial, int grow) {
    if (width <= 0 || height <= 0) return nullptr;
    auto* list = new ImageList{width, height, {}};
    state().imageLists.insert(list);
    return list;
}

int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon) {
    if (!state().imageLists.count(list) || !icon) return -1;
    const auto* image = static_cast<const IconImage*>(icon);
    if (index == -1) {
        list->images.push_back(image);
        return static_cast<int>(list->images.size() - 1);
    }
    if (index < 0 || static_cast<std::size_t>(index) >= list->images.size()) return -1;
    list->images[static_cast<std::size_t>(index)] = image;
    return index;
}

BOOL ImageList_Destroy(HIMAGELIST list) {
    if (!state().imageLists.erase(list)) return FALSE;
    delete list;
    return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST list) {
    return state().imageLists.count(list) ? static_cast<int>(list->images.size()) : 0;
}

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height,
                  UINT flags) {
    // Icons are drawn at one size; the size asked for is the one they have.
    return type == IMAGE_ICON ? LoadIconW(instance, name) : nullptr;
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
// Selects and focuses row as a person's tap does; false when the list takes no taps.
bool tapRow(HWND listView, int row) {
    Window* window = lookup(listView);
    if (!window || !window->enabled || !IsWindowVisible(listView) || row < 0 ||
        static_cast<std::size_t>(row) >= window->rows.size())
        return false;
    for (std::size_t i = 0; i < window->rowInfo.size(); ++i) {
        UINT& rowState = window->rowInfo[i].state;
        rowState &= ~(LVIS_SELECTED | LVIS_FOCUSED);
        if (i == static_cast<std::size_t>(row)) rowState |= LVIS_SELECTED | LVIS_FOCUSED;
    }
    state().focus = window;
    notifyChanged(window);
    return true;
}
}  // namespace

void tapListRow(HWND listView, int row) {
    if (!tapRow(listView, row)) return;
    NMHDR header{};
    header.code = NM_CLICK;
    notifyParent(lookup(listView), &header);
}

void doubleTapListRow(HWND listView, int row) {
    if (!tapRow(listView, row)) return;
    NMHDR header{};
    header.code = NM_DBLCLK;
    notifyParent(lookup(listView), &header);
}

void listKey(HWND listView, WORD key) {
    Window* window = lookup(listView);
    if (!window || !window->enabled) return;
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
    if (!window || !window->enabled || row < 0 ||
        static_cast<std::size_t>(row) >= window->rows.size())
        return;
    for (std::size_t i = 0; i < window->rowInfo.size(); ++i) {
        UINT& rowState = window->rowInfo[i].state;
        rowState &= ~(LVIS_SELECTED | LVIS_FOCUSED);
        if (i == static_cast<std::size_t>(row)) rowState |= LVIS_SELECTED | LVIS_FOCUSED;
    }
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
