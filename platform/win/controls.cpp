// The other built-in controls: static texts, edit fields, buttons and check
// boxes, combo boxes.
#include <algorithm>

#include "platform/win/window_records.h"

namespace window_records {

namespace {

bool startsWithIgnoreCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (lowerCase(text[i]) != lowerCase(prefix[i])) return false;
    return true;
}

}  // namespace

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


}  // namespace window_records
