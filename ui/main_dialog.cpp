#include "ui/main_dialog.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/narrow_text.h"
#include "core/request_outcome.h"
#include "platform/process.h"
#include "ui/association_dialog.h"
#include "ui/browser.h"
#include "ui/progress_display.h"
#include "ui/resources.h"
#include "ui/settings_store.h"
#include "ui/string_table.h"

namespace {

constexpr std::size_t kMessageCapacity = 1024;  // 1023 characters and the NUL
constexpr int kFieldCapacity = MAX_PATH;
constexpr int kPasswordFieldCapacity = 256;

bool checked(HWND dialog, int id) {
    return SendMessageW(GetDlgItem(dialog, id), BM_GETCHECK, 0, 0) == 1;
}

bool equalsIgnoreCaseAscii(const WCHAR* a, const WCHAR* b) {
    for (;; ++a, ++b) {
        WCHAR x = *a, y = *b;
        if (x >= u'A' && x <= u'Z') x = static_cast<WCHAR>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<WCHAR>(y + 32);
        if (x != y) return false;
        if (!x) return true;
    }
}

bool isPocketPc() {
    WCHAR platform[64] = {};
    if (!SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof platform, platform, 0)) return false;
    return equalsIgnoreCaseAscii(platform, u"PocketPC");
}

// One column of rows filling the client area; on a Pocket PC the file and
// extract-path rows keep a square browse button at their right end.
void layOut(HWND dialog) {
    SIZE extent{0, 0};
    HDC screen = GetDC(nullptr);
    GetTextExtentExPointW(screen, u"WY", 2, 0, nullptr, nullptr, &extent);
    ReleaseDC(nullptr, screen);
    const int h = extent.cy;
    RECT client{};
    GetClientRect(dialog, &client);
    const int left = client.left + 2;
    const int right = client.right - 2;
    const bool pocketPc = isPocketPc();
    const int rows[] = {IDC_FILE_LABEL,     IDC_FILE,     IDC_PATH_LABEL,    IDC_EXTRACT_PATH,
                        IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_CREATE_FOLDER, IDC_OPEN_FOLDER};
    int top = client.top + 2;
    for (int id : rows) {
        int fieldRight = right;
        int button = id == IDC_FILE ? IDC_BROWSE_FILE : id == IDC_EXTRACT_PATH ? IDC_BROWSE_FOLDER : 0;
        if (button) {
            HWND buttonWindow = GetDlgItem(dialog, button);
            if (pocketPc) {
                fieldRight = right - h - 2;
                MoveWindow(buttonWindow, fieldRight + 1, top, right - (fieldRight + 1), h + 2, TRUE);
                ShowWindow(buttonWindow, SW_SHOW);
            } else {
                ShowWindow(buttonWindow, SW_HIDE);
            }
        }
        MoveWindow(GetDlgItem(dialog, id), left, top, fieldRight - left, h + 2, TRUE);
        top += h + 2 + 2;
    }
}

void showError(HWND dialog, UINT messageId) {
    showMessage(dialog, loadString(IDS_ERROR_CAPTION), MB_ICONHAND, loadString(messageId));
}

// Reads a field whole; false when its text is longer than capacity - 1
// units, which would otherwise be cut into another path or password.
bool readField(HWND dialog, int id, WCHAR* buffer, int capacity) {
    HWND field = GetDlgItem(dialog, id);
    if (SendMessageW(field, WM_GETTEXTLENGTH, 0, 0) >= capacity) {
        buffer[0] = 0;
        return false;
    }
    GetDlgItemTextW(dialog, id, buffer, capacity);
    return true;
}

void extractRequest(HWND dialog) {
    clearRequestCounters(appState);
    writeCreateFolder(checked(dialog, IDC_CREATE_FOLDER) ? 1 : 0);
    writeOpenFolder(checked(dialog, IDC_OPEN_FOLDER) ? 1 : 0);

    WCHAR extractPath[kFieldCapacity];
    WCHAR password[kPasswordFieldCapacity];
    bool pathFits = readField(dialog, IDC_EXTRACT_PATH, extractPath, kFieldCapacity);
    bool archiveFits = readField(dialog, IDC_FILE, appState.archivePathWide, kFieldCapacity);
    bool passwordFits = readField(dialog, IDC_PASSWORD, password, kPasswordFieldCapacity);
    if (pathFits) writeExtractPath(extractPath);

    // A text that does not fit its buffer refuses the request rather than
    // naming another file, folder or password.
    if (!archiveFits || !toNarrow(appState.archivePathWide, appState.archivePathNarrow, MAX_PATH)) {
        appState.notFoundCount += 1;
    } else if (!pathFits || !passwordFits ||
               !toNarrow(password, appState.password, kPasswordBufferSize)) {
        appState.failedCount += 1;
    } else {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        {
            RequestProgressDisplay progress;
            ExtractionDriver(appState.archivePathNarrow);
        }
        SetCursor(nullptr);
    }

    RequestOutcome outcome = outcomeOf(appState);
    if (outcome != RequestOutcome::Succeeded) {
        showError(dialog, messageIdFor(outcome));
    } else if (!readOpenFolder()) {
        showMessage(dialog, loadString(IDS_PROGRAM_NAME), 0, loadString(IDS_UNPACKED_TO),
                    appState.archivePathWide, extractPath);
    } else {
        // The file manager shows the folder now; the program's work is done.
        PostMessageW(dialog, WM_COMMAND, IDM_DIALOG_EXIT, 0);
    }
}

void selectFile(HWND dialog) {
    BrowseRequest request;
    initBrowseRequest(request);
    request.mustExist = 1;
    appState.archivePathWide[0] = 0;
    if (runBrowser(request, dialog, appState.archivePathWide, u"*.*"))
        SetDlgItemTextW(dialog, IDC_FILE, appState.archivePathWide);
    releaseBrowseRequest(request);
}

void selectFolder(HWND dialog) {
    BrowseRequest request;
    initBrowseRequest(request);
    request.folderMode = 1;
    request.mustExist = 1;
    WCHAR folder[MAX_PATH] = {};
    if (runBrowser(request, dialog, folder, u"*.*")) {
        // The root comes back empty and is shown as the single backslash.
        SetDlgItemTextW(dialog, IDC_EXTRACT_PATH, folder[0] ? folder : u"\\");
    }
    releaseBrowseRequest(request);
}

void initDialog(HWND dialog) {
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof bar;
    bar.hwndParent = dialog;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDM_MAIN_DIALOG;
    bar.hInstRes = appState.moduleInstance;
    if (SHCreateMenuBar(&bar)) CommandBar_Show(bar.hwndMB, TRUE);

    appState.archivePathWide[0] = 0;

    char storedPath[MAX_PATH];
    WCHAR extractPath[MAX_PATH];
    readExtractPath(storedPath, sizeof storedPath);
    if (!storedPath[0] || !toWide(storedPath, extractPath, MAX_PATH)) {
        extractPath[0] = u'\\';
        extractPath[1] = 0;
    }
    SetDlgItemTextW(dialog, IDC_EXTRACT_PATH, extractPath);
    if (appState.commandLineFile[0]) SetDlgItemTextW(dialog, IDC_FILE, appState.commandLineFile);

    if (readCreateFolder()) SendMessageW(GetDlgItem(dialog, IDC_CREATE_FOLDER), BM_SETCHECK, 1, 0);
    if (readOpenFolder()) SendMessageW(GetDlgItem(dialog, IDC_OPEN_FOLDER), BM_SETCHECK, 1, 0);

    if (findFileManager() == FileManager::None) {
        writeOpenFolder(0);
        // Unchecked as well: every Extract writes the box back to the store,
        // and a hidden checked box would turn the option on again and end
        // the program after a success without opening anything.
        HWND openFolder = GetDlgItem(dialog, IDC_OPEN_FOLDER);
        SendMessageW(openFolder, BM_SETCHECK, BST_UNCHECKED, 0);
        ShowWindow(openFolder, SW_HIDE);
    }

    SHINITDLGINFO init{SHIDIM_FLAGS, dialog,
                       SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&init);
    SHDoneButton(dialog, SHDB_HIDE);

    UpdateWindow(dialog);
    layOut(dialog);
}

BOOL mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initDialog(dialog);
        return FALSE;
    case WM_SETTINGCHANGE:
        layOut(dialog);
        return FALSE;
    case WM_COMMAND:
        // The whole wParam: only menu items and clicks (high word 0) match.
        switch (wParam) {
        case IDOK:
        case IDM_EXTRACT:
            extractRequest(dialog);
            break;
        case IDCANCEL:
        case IDM_DIALOG_EXIT:
            PostQuitMessage(0);
            break;
        case IDC_CREATE_FOLDER:
            writeCreateFolder(checked(dialog, IDC_CREATE_FOLDER) ? 1 : 0);
            UpdateWindow(dialog);
            break;
        case IDC_OPEN_FOLDER:
            writeOpenFolder(checked(dialog, IDC_OPEN_FOLDER) ? 1 : 0);
            UpdateWindow(dialog);
            break;
        case IDM_ABOUT:
            showMessage(dialog, loadString(IDS_PROGRAM_NAME), 0, loadString(IDS_ABOUT_TEXT));
            break;
        case IDM_SELECT_FILE:
        case IDC_BROWSE_FILE:
            selectFile(dialog);
            break;
        case IDM_SELECT_FOLDER:
        case IDC_BROWSE_FOLDER:
            selectFolder(dialog);
            break;
        case IDM_ASSOCIATE:
            runAssociationDialog();
            break;
        }
        return TRUE;
    }
    return FALSE;
}

void appendText(std::u16string& out, const WCHAR* text) {
    for (; text && *text && out.size() < kMessageCapacity - 1; ++text) out.push_back(*text);
}

}  // namespace

const WCHAR* loadString(UINT id) {
    const WCHAR* text = nullptr;
    if (!LoadStringW(appState.moduleInstance, id, reinterpret_cast<LPWSTR>(&text), 0)) return u"";
    return text;
}

int showMessage(HWND owner, const WCHAR* caption, UINT style, const WCHAR* format, ...) {
    std::u16string text;
    va_list arguments;
    va_start(arguments, format);
    for (const WCHAR* p = format; p && *p && text.size() < kMessageCapacity - 1; ++p) {
        if (*p != u'%' || !p[1]) {
            text.push_back(*p);
            continue;
        }
        ++p;
        char number[24];
        switch (*p) {
        case u's':
            appendText(text, va_arg(arguments, const WCHAR*));
            break;
        case u'd':
        case u'u': {
            if (*p == u'd') {
                std::snprintf(number, sizeof number, "%d", va_arg(arguments, int));
            } else {
                std::snprintf(number, sizeof number, "%u", va_arg(arguments, unsigned));
            }
            for (const char* digit = number; *digit && text.size() < kMessageCapacity - 1; ++digit)
                text.push_back(static_cast<WCHAR>(*digit));
            break;
        }
        default:
            text.push_back(*p);  // "%%" and anything unknown show the character
            break;
        }
    }
    va_end(arguments);
    return MessageBoxW(owner, text.c_str(), caption ? caption : u"",
                       style ? style : MB_SETFOREGROUND);
}

void runMainDialog(HWND owner) {
    const auto* dialogTemplate = static_cast<const DialogTemplate*>(LoadResource(
        appState.moduleInstance,
        FindResourceW(appState.moduleInstance, MAKEINTRESOURCEW(IDD_MAIN), RT_DIALOG)));
    DialogBoxIndirectParamW(appState.moduleInstance, dialogTemplate, owner, mainDialogProc, 0);
}
