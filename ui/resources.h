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

// The program's module instance.
HINSTANCE programInstance();
