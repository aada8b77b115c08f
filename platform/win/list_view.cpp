// The list view (rows, sub-items, states, sorting, finding, label editing)
// and the image lists that hold its icons.
#include <algorithm>
#include <numeric>

#include "platform/win/window_records.h"

namespace window_records {

namespace {

// Case-insensitive order of two labels, as the list keeps its sorted labels.
int compareLabels(const std::u16string& a, const std::u16string& b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        WCHAR x = lowerCase(a[i]), y = lowerCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

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
        ++window->listing;
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


}  // namespace window_records

using namespace window_records;

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

