#include "ui/association_dialog.h"

#include <cstring>

#include "core/app_state.h"
#include "platform/desktop_association.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/win/window_system.h"
#include "ui/main_dialog.h"
#include "ui/resources.h"
#include "ui/string_table.h"

namespace {

// Every value the program reads or writes is the named value "Default".
constexpr WCHAR kDefaultValue[] = u"Default";
constexpr DWORD kStateBufferBytes = 256;

struct FileType {
    LPCWSTR extension;
    LPCWSTR classId;
    LPCWSTR description;
};

// One row per check box, in the order the rows are applied; the first type
// of a row decides its state, the second follows it.
struct AssociationRow {
    int boxId;
    FileType types[2];
};

constexpr AssociationRow kRows[] = {
    {IDC_ASSOC_LZH, {{u".lzh", u"TOVRINU_LZH", u"LHA Archive"}, {}}},
    {IDC_ASSOC_ZIP, {{u".zip", u"TOVRINU_ZIP", u"ZIP Archive"}, {}}},
    {IDC_ASSOC_RAR, {{u".rar", u"TOVRINU_RAR", u"RAR Archive"}, {}}},
    {IDC_ASSOC_TAR, {{u".tar", u"TOVRINU_TAR", u"TAR Archive"}, {}}},
    {IDC_ASSOC_BZ2,
     {{u".bz2", u"TOVRINU_BZ2", u"BZIP2 Archive"}, {u".tbz", u"TOVRINU_TBZ", u"TAR+BZIP2 Archive"}}},
    {IDC_ASSOC_GZ,
     {{u".gz", u"TOVRINU_GZ", u"GZIP Archive"}, {u".tgz", u"TOVRINU_TGZ", u"TAR+GZIP Archive"}}},
    {IDC_ASSOC_Z, {{u".z", u"TOVRINU_Z", u"Z Archive"}, {}}},
    {IDC_ASSOC_ARJ, {{u".arj", u"TOVRINU_ARJ", u"ARJ Archive"}, {}}},
    {IDC_ASSOC_IMP, {{u".imp", u"TOVRINU_IMP", u"IMP Archive"}, {}}},
    {IDC_ASSOC_B64, {{u".b64", u"TOVRINU_B64", u"B64 Archive"}, {}}},
    {IDC_ASSOC_NTX, {{u".ntx", u"TOVRINU_NTX", u"yEnc Archive"}, {}}},
    {IDC_ASSOC_UUE,
     {{u".uue", u"TOVRINU_UUE", u"UUencode Archive"}, {u".xxe", u"TOVRINU_XXE", u"XXencode Archive"}}},
};
constexpr std::size_t kRowCount = sizeof kRows / sizeof kRows[0];

enum class RowAction { LeaveAlone, Register, Unregister };

bool setDefault(HKEY key, LPCWSTR text) {
    auto bytes = static_cast<DWORD>((wideLength(text) + 1) * sizeof(WCHAR));
    return RegSetValueExW(key, kDefaultValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          bytes) == ERROR_SUCCESS;
}

// Creates or opens subKey and sets its Default; false when the key could
// not be had (the value write itself is not checked).
bool writeKey(LPCWSTR subKey, LPCWSTR text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, subKey, 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    setDefault(key, text);
    RegCloseKey(key);
    return true;
}

// text followed by suffix, or false when the two do not fit capacity units.
bool concatenate(WCHAR* out, std::size_t capacity, LPCWSTR text, LPCWSTR suffix) {
    std::size_t textLength = wideLength(text), suffixLength = wideLength(suffix);
    if (textLength + suffixLength + 1 > capacity) return false;
    std::memcpy(out, text, textLength * sizeof(WCHAR));
    std::memcpy(out + textLength, suffix, suffixLength * sizeof(WCHAR));
    out[textLength + suffixLength] = 0;
    return true;
}

void initDialog(HWND dialog) {
    SHMENUBARINFO bar{};
    bar.cbSize = sizeof bar;
    bar.hwndParent = dialog;
    bar.dwFlags = SHCMBF_HMENU;
    bar.nToolBarId = IDM_ASSOCIATE_MENU;
    bar.hInstRes = appState.moduleInstance;
    if (SHCreateMenuBar(&bar)) CommandBar_Show(bar.hwndMB, TRUE);

    for (const AssociationRow& row : kRows) {
        if (associationState(row.types[0].extension, row.types[0].classId) == 1)
            SendMessageW(GetDlgItem(dialog, row.boxId), BM_SETCHECK, BST_CHECKED, 0);
    }

    SHINITDLGINFO init{SHIDIM_FLAGS, dialog,
                       SHIDIF_SIZEDLG | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
    SHInitDialog(&init);
    SHDoneButton(dialog, SHDB_HIDE);
}

void confirm(HWND dialog) {
    // Every row is decided from the boxes and the registry as they are now,
    // before the question.
    RowAction actions[kRowCount];
    for (std::size_t i = 0; i < kRowCount; ++i) {
        HWND box = GetDlgItem(dialog, kRows[i].boxId);
        LRESULT checked = box ? SendMessageW(box, BM_GETCHECK, 0, 0) : 0;
        int state = associationState(kRows[i].types[0].extension, kRows[i].types[0].classId);
        if (checked == 1) {
            actions[i] = RowAction::Register;
        } else if (checked != 0 || state == 2) {
            actions[i] = RowAction::LeaveAlone;
        } else {
            actions[i] = RowAction::Unregister;
        }
    }
    if (MessageBoxW(dialog, loadString(IDS_ASSOCIATE_QUESTION), loadString(IDS_PROGRAM_NAME),
                    MB_YESNO) != IDYES)
        return;
    WCHAR programPath[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameW(nullptr, programPath, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;  // no usable path to register
    for (std::size_t i = 0; i < kRowCount; ++i) {
        for (const FileType& type : kRows[i].types) {
            if (!type.extension) continue;
            if (actions[i] == RowAction::Register) {
                registerType(type.extension, type.classId, type.description, programPath);
            } else if (actions[i] == RowAction::Unregister) {
                unregisterType(type.extension, type.classId);
            }
        }
    }
}

BOOL associationDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        initDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDOK) {
            confirm(dialog);
            EndDialog(dialog, 1);
        } else if (wParam == IDCANCEL) {
            EndDialog(dialog, 0);
        }
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int associationState(LPCWSTR extension, LPCWSTR classId) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    // 128 characters at most, and room for a NUL the data may lack.
    WCHAR value[kStateBufferBytes / sizeof(WCHAR) + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = kStateBufferBytes;
    LONG status = RegQueryValueExW(key, kDefaultValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    // A value too long for the buffer is not one of this program's class
    // names but some other program's: reading it as "not registered" would
    // let an unchecked box delete it.
    if (status == ERROR_MORE_DATA) return 2;
    if (status != ERROR_SUCCESS) return 0;
    value[size / sizeof(WCHAR)] = 0;
    if (!value[0]) return 0;
    // Another program's value of another type is still another program's.
    if (type != REG_SZ) return 2;
    return wideLength(value) == wideLength(classId) &&
                   std::memcmp(value, classId, wideLength(classId) * sizeof(WCHAR)) == 0
               ? 1
               : 2;
}

void registerType(LPCWSTR extension, LPCWSTR classId, LPCWSTR description, LPCWSTR programPath) {
    constexpr std::size_t kKeyCapacity = 2 * MAX_PATH;
    WCHAR subKey[kKeyCapacity];
    WCHAR text[kKeyCapacity];
    if (!writeKey(extension, classId)) return;
    // The desktop follows the registry: the type now opens with the program.
    desktopRegisterType(extension, description);
    if (!writeKey(classId, description)) return;
    if (!concatenate(subKey, kKeyCapacity, classId, u"\\DefaultIcon") ||
        !concatenate(text, kKeyCapacity, programPath, u", -0") || !writeKey(subKey, text))
        return;
    WCHAR quoted[kKeyCapacity];
    if (!concatenate(subKey, kKeyCapacity, classId, u"\\Shell\\Open\\Command") ||
        !concatenate(quoted, kKeyCapacity, u"\"", programPath) ||
        !concatenate(text, kKeyCapacity, quoted, u"\" %1"))
        return;
    writeKey(subKey, text);
}

void unregisterType(LPCWSTR extension, LPCWSTR classId) {
    // Whatever the registry holds, the desktop keeps none of the program's
    // entries for the type.
    desktopUnregisterType(extension);
    HKEY root = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"", 0, 0, &root) != ERROR_SUCCESS) return;
    RegDeleteKeyW(root, classId);
    RegCloseKey(root);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, extension, 0, 0, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, kDefaultValue);
    RegCloseKey(key);
}

int runAssociationDialog() {
    const auto* dialogTemplate = static_cast<const DialogTemplate*>(LoadResource(
        appState.moduleInstance,
        FindResourceW(appState.moduleInstance, MAKEINTRESOURCEW(IDD_ASSOCIATE), RT_DIALOG)));
    INT_PTR result = DialogBoxIndirectParamW(appState.moduleInstance, dialogTemplate, nullptr,
                                             associationDialogProc, 0);
    return result == 1 ? 1 : 0;
}
