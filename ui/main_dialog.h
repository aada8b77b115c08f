// The main dialog (dialog 102): the file to unpack, the extract path, the
// password and the two options; Extract runs one request and reports it.
#pragma once

#include "platform/win/window_system.h"

// Runs dialog 102 modally, owned by owner. Ends when the program's quit
// message arrives: the dialog never ends itself.
void runMainDialog(HWND owner);

// A message box of the main dialog: the text formatted printf-style from
// format (UTF-16; %s takes a UTF-16 string, %d an int, %u an unsigned) into
// at most 1023 characters; style 0 becomes MB_SETFOREGROUND and an absent
// caption the empty one.
int showMessage(HWND owner, const WCHAR* caption, UINT style, const WCHAR* format, ...);

// The string resource id of the program's module, as a pointer into the table.
const WCHAR* loadString(UINT id);
