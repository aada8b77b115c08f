// The program's resources: dialog 102, menus 109 and 111, icon 101 and the
// string table, as the module instance every window and string comes from.
#pragma once

#include "platform/win/window_system.h"

constexpr UINT IDI_PROGRAM = 101;
constexpr UINT IDD_MAIN = 102;
constexpr UINT IDM_MAIN_DIALOG = 109;
constexpr UINT IDM_MAIN_WINDOW = 111;

// Controls of dialog 102.
constexpr int IDC_FILE_LABEL = 1006;
constexpr int IDC_PATH_LABEL = 1007;
constexpr int IDC_PASSWORD_LABEL = 1008;
constexpr int IDC_FILE = 2007;
constexpr int IDC_EXTRACT_PATH = 2006;
constexpr int IDC_PASSWORD = 2005;
constexpr int IDC_CREATE_FOLDER = 1013;
constexpr int IDC_OPEN_FOLDER = 1010;
constexpr int IDC_BROWSE_FILE = 2001;
constexpr int IDC_BROWSE_FOLDER = 2002;

// Menu commands.
constexpr WORD IDM_EXTRACT = 1002;
constexpr WORD IDM_SELECT_FILE = 1009;
constexpr WORD IDM_SELECT_FOLDER = 1012;
constexpr WORD IDM_ASSOCIATE = 1006;
constexpr WORD IDM_ABOUT = 40014;
constexpr WORD IDM_DIALOG_EXIT = 40008;
constexpr WORD IDM_WINDOW_EXIT = 40013;

// The association dialog 110 (with its menu 110) and its check boxes.
constexpr UINT IDD_ASSOCIATE = 110;
constexpr UINT IDM_ASSOCIATE_MENU = 110;
constexpr int IDC_ASSOC_LZH = 401;
constexpr int IDC_ASSOC_ZIP = 402;
constexpr int IDC_ASSOC_RAR = 403;  // no box in the dialog
constexpr int IDC_ASSOC_TAR = 404;
constexpr int IDC_ASSOC_BZ2 = 405;
constexpr int IDC_ASSOC_GZ = 406;
constexpr int IDC_ASSOC_Z = 407;
constexpr int IDC_ASSOC_ARJ = 408;
constexpr int IDC_ASSOC_UUE = 409;
constexpr int IDC_ASSOC_B64 = 410;
constexpr int IDC_ASSOC_IMP = 411;
constexpr int IDC_ASSOC_NTX = 412;

// The browser: dialog 900, its menu 2006, the entry icons 150 and 109.
constexpr UINT IDD_BROWSER = 900;
constexpr UINT IDM_BROWSER_MENU = 2006;
constexpr UINT IDI_BROWSER_FILE = 150;
constexpr UINT IDI_BROWSER_FOLDER = 109;
constexpr int IDC_BROWSER_NAME = 901;
constexpr int IDC_BROWSER_FOLDERS = 902;
constexpr int IDC_BROWSER_LIST = 903;
constexpr WORD IDM_BROWSER_OK = 15329;
constexpr WORD IDM_BROWSER_CANCEL = 15330;
constexpr WORD IDM_BROWSER_SWITCH = 702;
constexpr WORD IDM_BROWSER_REPORT = 904;
constexpr WORD IDM_BROWSER_UP = 905;
constexpr WORD IDM_BROWSER_LIST_VIEW = 906;
constexpr WORD IDM_BROWSER_NEW = 745;
constexpr WORD IDM_BROWSER_RENAME = 746;

// The program's module instance.
HINSTANCE programInstance();
