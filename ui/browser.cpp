#include "ui/browser.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "core/app_state.h"
#include "platform/file_times.h"
#include "platform/files.h"
#include "platform/wildcard.h"
#include "ui/resources.h"

namespace {

// Shared by every use of the browser, one dialog at a time.
bool waitCursorShown = false;
WCHAR newFolderName[MAX_PATH];
WCHAR labelBeforeEdit[MAX_PATH];

constexpr DWORD kFolderBits = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
constexpr int kMenuBarHeight = 26;

enum PathKind { NotFound = 0, NotDirectory = 1, Directory = 2, StorageFolder = 3 };

// Copies text into a MAX_PATH buffer; false (and out untouched) when it does
// not fit, so that a path is refused rather than cut into another one.
bool store(WCHAR* out, const std::u16string& text) {
    if (text.size() >= static_cast<std::size_t>(MAX_PATH)) return false;
    std::memcpy(out, text.data(), text.size() * sizeof(WCHAR));
    out[text.size()] = 0;
    return true;
}

BrowseRequest* requestOf(HWND dialog) {
    return reinterpret_cast<BrowseRequest*>(GetWindowLongPtrW(dialog, DWLP_USER));
}

HWND listOf(HWND dialog) { return GetDlgItem(dialog, IDC_BROWSER_LIST); }

std::u16string fieldText(HWND dialog, int id) {
    WCHAR text[MAX_PATH] = {};
    GetDlgItemTextW(dialog, id, text, MAX_PATH);
    return text;
}

PathKind lookUp(const std::u16string& path) {
    // A wildcard would let the search find some other entry and call the
    // name valid.
    if (path.find_first_of(u"*?") != std::u16string::npos) return NotFound;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return NotFound;
    FindClose(find);
    if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return NotDirectory;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_TEMPORARY) ? StorageFolder : Directory;
}

std::u16string formatted(const char* format, unsigned long long a, unsigned long long b = 0) {
    char text[48];
    std::snprintf(text, sizeof text, format, a, b);
    return std::u16string(text, text + std::strlen(text));
}

std::u16string dateText(const FILETIME& lastWrite) {
    FILETIME local{};
    SYSTEMTIME time{};
    if (!FileTimeToLocalFileTime(&lastWrite, &local) || !FileTimeToSystemTime(&local, &time))
        return u"";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    return std::u16string(text, text + std::strlen(text));
}

bool matchesAnyPattern(const BrowseRequest& request, const WCHAR* name) {
    WCHAR lower[MAX_PATH];
    std::size_t length = std::min<std::size_t>(wideLength(name), MAX_PATH - 1);
    std::memcpy(lower, name, length * sizeof(WCHAR));
    lower[length] = 0;
    CharLowerW(lower);
    for (const std::u16string& pattern : request.patterns)
        if (browserPatternMatches(pattern.c_str(), lower)) return true;
    return false;
}

void fillList(HWND dialog, BrowseRequest& request) {
    HWND list = listOf(dialog);
    SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
    std::u16string search = std::u16string(request.currentFolder) + u"*.*";
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(search.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    if (!waitCursorShown) SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    waitCursorShown = true;
    do {
        DWORD attributes = data.dwFileAttributes;
        bool folder = (attributes & kFolderBits) != 0;
        if (request.folderMode && !folder) continue;
        if (data.cFileName[0] == u'.') continue;
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && !matchesAnyPattern(request, data.cFileName))
            continue;
        std::u16string size;
        if (!folder) {
            size = browserSizeText((static_cast<unsigned long long>(data.nFileSizeHigh) << 32) |
                                   data.nFileSizeLow);
        }
        std::u16string date = dateText(data.ftLastWriteTime);
        LVITEMW item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
        item.pszText = data.cFileName;
        item.iImage = folder ? 1 : 0;
        item.lParam = static_cast<LPARAM>(attributes);
        auto index = static_cast<WPARAM>(SendMessageW(list, LVM_INSERTITEMW, 0,
                                                      reinterpret_cast<LPARAM>(&item)));
        LVITEMW sub{};
        sub.iSubItem = 1;
        sub.pszText = size.data();
        SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
        sub.iSubItem = 2;
        sub.pszText = date.data();
        SendMessageW(list, LVM_SETITEMTEXTW, index, reinterpret_cast<LPARAM>(&sub));
    } while (FindNextFileW(find, &data));
    FindClose(find);
    waitCursorShown = false;
    SetCursor(nullptr);
}

int compareKinds(LPARAM first, LPARAM second, LPARAM) {
    return static_cast<int>(second & FILE_ATTRIBUTE_DIRECTORY) -
           static_cast<int>(first & FILE_ATTRIBUTE_DIRECTORY);
}

void sortList(HWND dialog) {
    SendMessageW(listOf(dialog), LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&compareKinds));
}

void rebuildFolders(HWND dialog, const BrowseRequest& request) {
    HWND combo = GetDlgItem(dialog, IDC_BROWSER_FOLDERS);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    SendMessageW(combo, CB_INSERTSTRING, 0, reinterpret_cast<LPARAM>(u"\\"));
    std::u16string deepest = u"\\";
    const WCHAR* p = request.currentFolder[0] == u'\\' ? request.currentFolder + 1
                                                       : request.currentFolder;
    int depth = 0;
    while (*p) {
        const WCHAR* end = p;
        while (*end && *end != u'\\') ++end;
        if (end == p) {  // an empty component: nothing to show for it
            p = *end ? end + 1 : end;
            continue;
        }
        ++depth;
        std::u16string entry(static_cast<std::size_t>(depth), u' ');
        entry.append(p, end);
        SendMessageW(combo, CB_INSERTSTRING, static_cast<WPARAM>(depth),
                     reinterpret_cast<LPARAM>(entry.c_str()));
        deepest = entry;
        p = *end ? end + 1 : end;
    }
    SendMessageW(combo, CB_SELECTSTRING, 0, reinterpret_cast<LPARAM>(deepest.c_str()));
}

void refresh(HWND dialog, BrowseRequest& request) {
    fillList(dialog, request);
    rebuildFolders(dialog, request);
    sortList(dialog);
}

// The field hears no change notifications here, so what was typed is taken
// into nameText before the field is set back from it.
void restoreNameField(HWND dialog, BrowseRequest& request) {
    store(request.nameText, fieldText(dialog, IDC_BROWSER_NAME));
    SetDlgItemTextW(dialog, IDC_BROWSER_NAME, request.nameText);
}

void enterFolder(HWND dialog, BrowseRequest& request, const std::u16string& name) {
    // A folder whose path would not fit is not entered.
    if (store(request.currentFolder, request.currentFolder + name + u"\\")) refresh(dialog, request);
}

// The label and item data of the list's focused item; false with none.
bool focusedItem(HWND dialog, std::u16string& label, LPARAM& data, int* index = nullptr) {
    HWND list = listOf(dialog);
    auto row = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                             LVNI_FOCUSED));
    if (row < 0) return false;
    WCHAR text[MAX_PATH] = {};
    LVITEMW item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return false;
    label = text;
    data = item.lParam;
    if (index) *index = row;
    return true;
}

void openFocused(HWND dialog, BrowseRequest& request) {
    std::u16string name;
    LPARAM data = 0;
    if (!focusedItem(dialog, name, data)) return;
    std::u16string path = request.currentFolder + name;
    if (!store(request.resultPath, path)) return;
    DWORD attributes = GetFileAttributesW(request.resultPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetDlgItemTextW(dialog, IDC_BROWSER_NAME, name.c_str());
        store(request.nameText, name);
    } else if (!(data & kFolderBits)) {
        restoreNameField(dialog, request);
    } else {
        enterFolder(dialog, request, name);
    }
}

void doubleTapFocused(HWND dialog, BrowseRequest& request) {
    std::u16string name;
    LPARAM data = 0;
    if (!focusedItem(dialog, name, data)) return;
    if (!(data & kFolderBits)) {
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    } else {
        enterFolder(dialog, request, name);
    }
}

void goToAncestor(HWND dialog, BrowseRequest& request) {
    auto chosen = static_cast<int>(
        SendMessageW(GetDlgItem(dialog, IDC_BROWSER_FOLDERS), CB_GETCURSEL, 0, 0));
    if (chosen < 0) return;
    if (chosen == 0) {
        store(request.currentFolder, u"\\");
    } else {
        // Just after the backslash that ends the chosen component.
        int seen = 0;
        WCHAR* p = request.currentFolder[0] == u'\\' ? request.currentFolder + 1
                                                     : request.currentFolder;
        for (; *p; ++p) {
            if (*p == u'\\' && p > request.currentFolder && p[-1] != u'\\' && ++seen == chosen) {
                p[1] = 0;
                break;
            }
        }
    }
    restoreNameField(dialog, request);
    refresh(dialog, request);
}

void goUp(HWND dialog, BrowseRequest& request) {
    std::u16string folder = request.currentFolder;
    if (!folder.empty() && folder.back() == u'\\') folder.pop_back();
    std::size_t slash = folder.rfind(u'\\');
    folder = slash == std::u16string::npos ? std::u16string() : folder.substr(0, slash + 1);
    if (folder.empty()) folder = u"\\";
    if (folder.back() != u'\\') folder.push_back(u'\\');
    store(request.currentFolder, folder);
    store(request.nameText, fieldText(dialog, IDC_BROWSER_NAME));
    refresh(dialog, request);
}

bool validate(HWND dialog, BrowseRequest& request) {
    std::u16string name = fieldText(dialog, IDC_BROWSER_NAME);
    store(request.nameText, name);
    if (!request.folderMode && name.empty()) return false;
    std::u16string path = request.currentFolder + name;
    if (request.folderMode && !path.empty() && path.back() == u'\\') path.pop_back();
    if (!store(request.resultPath, path)) return false;
    if (request.folderMode && path.empty()) return true;
    PathKind kind = lookUp(path);
    if (request.mustExist && kind == NotFound) return false;
    if (!request.folderMode && (kind == Directory || kind == StorageFolder)) return false;
    if (request.folderMode && kind == NotDirectory) return false;
    return true;
}

void startLabelEdit(HWND dialog, int index) {
    HWND list = listOf(dialog);
    SetFocus(list);
    SendMessageW(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), FALSE);
    LVITEMW state{};
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&state));
    SendMessageW(list, LVM_EDITLABELW, static_cast<WPARAM>(index), 0);
}

void createFolder(HWND dialog, BrowseRequest& request) {
    bool created = false;
    for (int n = 1; n <= 100 && !created; ++n) {
        std::u16string name = u"NewFolder";
        if (n > 1) name += formatted("#%llu", static_cast<unsigned long long>(n));
        std::u16string path = request.currentFolder + name;
        if (path.size() >= static_cast<std::size_t>(MAX_PATH)) break;
        store(newFolderName, name);
        created = CreateDirectoryW(path.c_str(), nullptr) != FALSE;
    }
    if (!created) return;
    refresh(dialog, request);
    SendMessageW(dialog, WM_USER, 1, 0);
}

void selectNewFolder(HWND dialog) {
    LVFINDINFOW find{};
    find.flags = LVFI_STRING;
    find.psz = newFolderName;
    auto index = static_cast<int>(SendMessageW(listOf(dialog), LVM_FINDITEMW,
                                               static_cast<WPARAM>(-1),
                                               reinterpret_cast<LPARAM>(&find)));
    if (index >= 0) startLabelEdit(dialog, index);
}

void renameSelected(HWND dialog, BrowseRequest& request) {
    auto index = static_cast<int>(SendMessageW(listOf(dialog), LVM_GETNEXTITEM,
                                               static_cast<WPARAM>(-1), LVNI_SELECTED));
    if (index < 0) return;
    request.renameIndex = index;
    startLabelEdit(dialog, index);
}

void beginLabelEdit(HWND dialog, BrowseRequest& request) {
    std::u16string label;
    LPARAM data = 0;
    if (!focusedItem(dialog, label, data)) return;
    if (label.size() > static_cast<std::size_t>(MAX_PATH - 1)) label.resize(MAX_PATH - 1);
    store(labelBeforeEdit, label);
    request.editing = 1;
}

std::u16string withSingleBackslashes(std::u16string path) {
    for (std::size_t at; (at = path.find(u"\\\\")) != std::u16string::npos;) path.erase(at, 1);
    return path;
}

void endLabelEdit(HWND dialog, BrowseRequest& request, const WCHAR* newText) {
    request.editing = 0;
    if (!newText) return;
    std::u16string newName = newText;
    // A new name stays a name in this folder: a separator would move the
    // entry elsewhere, and an empty name is none.
    if (newName.empty() || newName.find_first_of(u"\\/") != std::u16string::npos) {
        refresh(dialog, request);
        return;
    }
    std::u16string oldPath =
        withSingleBackslashes(request.currentFolder + (u"\\" + std::u16string(labelBeforeEdit)));
    std::u16string newPath = withSingleBackslashes(request.currentFolder + (u"\\" + newName));
    if (oldPath.size() < static_cast<std::size_t>(MAX_PATH) &&
        newPath.size() < static_cast<std::size_t>(MAX_PATH))
        MoveFileW(oldPath.c_str(), newPath.c_str());
    refresh(dialog, request);
}

void deleteFocused(HWND dialog, BrowseRequest& request) {
    std::u16string name;
    LPARAM data = 0;
    if (!focusedItem(dialog, name, data)) return;
    std::u16string path = request.currentFolder + name;
    if (path.size() >= static_cast<std::size_t>(MAX_PATH)) return;
    PathKind kind = lookUp(path);
    if (kind == NotFound) return;
    if (MessageBoxW(dialog, name.c_str(), u"Delete ?", MB_YESNO) == IDYES) {
        if (kind == NotDirectory) {
            DeleteFileW(path.c_str());
        } else if (kind == Directory) {
            RemoveDirectoryW(path.c_str());
        }
    }
    fillList(dialog, request);
    sortList(dialog);
}

void layOut(HWND dialog, const BrowseRequest& request) {
    SIZE extent{0, 0};
    HDC dc = GetDC(dialog);
    HGDIOBJ previous = SelectObject(dc, GetStockObject(SYSTEM_FONT));
    GetTextExtentExPointW(dc, u"F", 1, 0, nullptr, nullptr, &extent);
    SelectObject(dc, previous);
    ReleaseDC(dialog, dc);
    const int h = extent.cy;
    RECT client{};
    GetClientRect(dialog, &client);
    const int left = client.left + 2;
    const int width = client.right - 2 - left;
    int top = client.top + 4;
    HWND name = GetDlgItem(dialog, IDC_BROWSER_NAME);
    if (request.folderMode) {
        EnableWindow(name, FALSE);
        ShowWindow(name, SW_HIDE);
    } else {
        SetWindowPos(name, nullptr, left, top, width, h + 2, SWP_NOZORDER);
        top += h + 2 + 2;
    }
    SetWindowPos(GetDlgItem(dialog, IDC_BROWSER_FOLDERS), nullptr, left, top, width, h + 2,
                 SWP_NOZORDER);
    top += h + 2 + 4;
    int bottom = client.bottom - 2;
    SetWindowPos(listOf(dialog), nullptr, left, top, width, bottom > top ? bottom - top : 0,
                 SWP_NOZORDER);
}

void fitToWorkArea(HWND dialog) {
    RECT work{};
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
    SetWindowPos(dialog, nullptr, work.left, work.top, work.right - work.left,
                 work.bottom - work.top - kMenuBarHeight, SWP_NOZORDER);
}

void setView(HWND dialog, DWORD view) {
    HWND list = listOf(dialog);
    DWORD style = static_cast<DWORD>(GetWindowLongW(list, GWL_STYLE));
    SetWindowLongW(list, GWL_STYLE, static_cast<LONG>((style & ~LVS_TYPEMASK) | view));
}

void initDialog(HWND dialog, BrowseRequest& request) {
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&request));

    SHMENUBARINFO bar{};
    bar.cbSize = sizeof bar;
    bar.hwndParent = dialog;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDM_BROWSER_MENU;
    bar.hInstRes = appState.moduleInstance;
    if (SHCreateMenuBar(&bar)) CommandBar_Show(bar.hwndMB, TRUE);

    HWND list = listOf(dialog);
    auto extended = static_cast<DWORD>(SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 static_cast<LPARAM>(extended | LVS_EX_FULLROWSELECT));

    int iconSize = GetSystemMetrics(SM_CXSMICON);
    request.imageList = ImageList_Create(iconSize, iconSize, ILC_COLOR, 16, 0);
    SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(request.imageList));
    ImageList_ReplaceIcon(request.imageList, -1,
                          LoadImageW(appState.moduleInstance, MAKEINTRESOURCEW(IDI_BROWSER_FILE),
                                     IMAGE_ICON, 16, 16, 0));
    ImageList_ReplaceIcon(request.imageList, -1,
                          LoadImageW(appState.moduleInstance,
                                     MAKEINTRESOURCEW(IDI_BROWSER_FOLDER), IMAGE_ICON, 16, 16, 0));

    struct Column {
        const WCHAR* name;
        int format;
        int width;
    };
    const Column columns[] = {{u"Name", LVCFMT_LEFT, 120},
                              {u"Size", LVCFMT_RIGHT, 70},
                              {u"Date", LVCFMT_LEFT, 136}};
    for (int i = 0; i < 3; ++i) {
        WCHAR text[8] = {};
        std::memcpy(text, columns[i].name, (wideLength(columns[i].name) + 1) * sizeof(WCHAR));
        LVCOLUMNW column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
        column.fmt = columns[i].format;
        column.cx = columns[i].width;
        column.pszText = text;
        column.iSubItem = i;
        SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&column));
    }

    refresh(dialog, request);
    SetDlgItemTextW(dialog, IDC_BROWSER_NAME, request.nameText);
    SetWindowTextW(dialog, request.title);
    fitToWorkArea(dialog);

    SHINITDLGINFO init{SHIDIM_FLAGS, dialog,
                       SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&init);
    SHDoneButton(dialog, SHDB_HIDE);

    layOut(dialog, request);
    SetForegroundWindow(dialog);
}

void endBrowser(HWND dialog, BrowseRequest& request, INT_PTR result) {
    ImageList_Destroy(request.imageList);
    request.imageList = nullptr;
    EndDialog(dialog, result);
}

void onNotify(HWND dialog, BrowseRequest& request, const NMHDR* header) {
    if (!header || header->idFrom != static_cast<std::uintptr_t>(IDC_BROWSER_LIST)) return;
    switch (header->code) {
    case NM_CLICK:
    case NM_RCLICK:
        openFocused(dialog, request);
        break;
    case NM_DBLCLK:
        doubleTapFocused(dialog, request);
        break;
    case LVN_KEYDOWN: {
        if (request.editing) break;
        WORD key = reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey;
        if (key == VK_RETURN) openFocused(dialog, request);
        if (key == VK_DELETE) deleteFocused(dialog, request);
        break;
    }
    case LVN_BEGINLABELEDITW:
        beginLabelEdit(dialog, request);
        break;
    case LVN_ENDLABELEDITW:
        endLabelEdit(dialog, request, reinterpret_cast<const NMLVDISPINFOW*>(header)->item.pszText);
        break;
    }
}

void onCommand(HWND dialog, BrowseRequest& request, WPARAM wParam) {
    if (request.editing) return;
    switch (LOWORD(wParam)) {
    case IDM_BROWSER_OK:
        if (validate(dialog, request)) endBrowser(dialog, request, 1);
        break;
    case IDM_BROWSER_CANCEL:
        endBrowser(dialog, request, IDM_BROWSER_CANCEL);
        break;
    case IDCANCEL:
        endBrowser(dialog, request, IDCANCEL);
        break;
    case IDOK:
        openFocused(dialog, request);
        break;
    case IDC_BROWSER_NAME:
        store(request.nameText, fieldText(dialog, IDC_BROWSER_NAME));
        break;
    case IDC_BROWSER_FOLDERS:
        if (HIWORD(wParam) == CBN_SELCHANGE) goToAncestor(dialog, request);
        break;
    case IDM_BROWSER_REPORT:
        setView(dialog, LVS_REPORT);
        break;
    case IDM_BROWSER_LIST_VIEW:
        setView(dialog, LVS_LIST);
        break;
    case IDM_BROWSER_UP:
        goUp(dialog, request);
        break;
    case IDM_BROWSER_NEW:
        createFolder(dialog, request);
        break;
    case IDM_BROWSER_RENAME:
        renameSelected(dialog, request);
        break;
    case IDM_BROWSER_SWITCH:
        keybd_event(VK_TAB, 9, KEYEVENTF_SILENT, 0);
        keybd_event(VK_TAB, 9, KEYEVENTF_KEYUP | KEYEVENTF_SILENT, 0);
        break;
    }
}

BOOL browserDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        initDialog(dialog, *reinterpret_cast<BrowseRequest*>(lParam));
        return TRUE;
    }
    BrowseRequest* request = requestOf(dialog);
    if (!request) return FALSE;
    switch (message) {
    case WM_SIZE:
        layOut(dialog, *request);
        return FALSE;
    case WM_SETTINGCHANGE:
        if (wParam == SPI_SETSIPINFO) {
            SHHandleWMSettingChange(dialog, static_cast<WPARAM>(-1), 0, nullptr);
            fitToWorkArea(dialog);
        }
        return FALSE;
    case WM_NOTIFY:
        onNotify(dialog, *request, reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_USER:
        if (wParam == 1) selectNewFolder(dialog);
        return TRUE;
    case WM_COMMAND:
        onCommand(dialog, *request, wParam);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool browserPatternMatches(const WCHAR* pattern, const WCHAR* name) {
    // "*.*" names every file, dotted or not, as on the device.
    const std::u16string wanted = std::u16string(pattern) == u"*.*" ? u"*" : pattern;
    return wildcardMatch(wanted, name, false);
}

std::u16string browserSizeText(unsigned long long size) {
    if (size < 10000) return formatted("%llu", size);
    if (size < 1000000) return formatted("%lluKB", size / 1000);
    if (size < 100000000) return formatted("%llu,%03lluKB", size / 1000000, (size / 1000) % 1000);
    return formatted("%lluMB", size / 1000000);
}

void initBrowseRequest(BrowseRequest& request) {
    request.folderMode = 0;
    request.editing = 0;
    request.renameIndex = 0;
    request.mustExist = 0;
    request.patterns.clear();
    request.title = u"File";
    request.resultPath[0] = 0;
    request.nameText[0] = 0;
    request.currentFolder[0] = 0;
    request.imageList = nullptr;
}

bool runBrowser(BrowseRequest& request, HWND owner, WCHAR* path, const WCHAR* patternSpec) {
    std::u16string start = path ? path : u"";
    // A given path starts the browser in its folder.
    std::size_t slash = start.rfind(u'\\');
    std::u16string folder = slash == std::u16string::npos ? u"" : start.substr(0, slash + 1);
    if (folder.empty() || folder[0] != u'\\') folder = u"\\";
    if (!store(request.currentFolder, folder) || !store(request.resultPath, start)) return false;

    request.patterns.clear();
    std::u16string patternList = patternSpec ? patternSpec : u"";
    CharLowerW(patternList.data());
    std::size_t from = 0;
    for (bool first = true; from <= patternList.size(); first = false) {
        std::size_t end = patternList.find(u';', from);
        if (end == std::u16string::npos) end = patternList.size();
        try {
            request.patterns.push_back(patternList.substr(from, end - from));
        } catch (const std::bad_alloc&) {
            MessageBoxW(nullptr, first ? u"CLPA: alloc error!" : u"CLPA: realloc error!", u"",
                        MB_OK);
        }
        from = end + 1;
    }

    const auto* dialogTemplate = static_cast<const DialogTemplate*>(LoadResource(
        appState.moduleInstance,
        FindResourceW(appState.moduleInstance, MAKEINTRESOURCEW(IDD_BROWSER), RT_DIALOG)));
    INT_PTR result = DialogBoxIndirectParamW(appState.moduleInstance, dialogTemplate, owner,
                                             browserDialogProc,
                                             reinterpret_cast<LPARAM>(&request));
    // A dialog that ended some other way still gives its image list back.
    if (request.imageList) {
        ImageList_Destroy(request.imageList);
        request.imageList = nullptr;
    }
    if (result != 1) return false;
    std::memcpy(path, request.resultPath, (wideLength(request.resultPath) + 1) * sizeof(WCHAR));
    return true;
}

void releaseBrowseRequest(BrowseRequest& request) {
    request.patterns.clear();
    request.patterns.shrink_to_fit();
}
