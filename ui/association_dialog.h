// The Associate dialog: one check box per archive type; confirming it makes
// the program the handler of the checked types (in HKEY_CLASSES_ROOT and on
// the host desktop) and withdraws it from the unchecked ones it holds.
#pragma once

#include "platform/win_types.h"

// Registration state of a file type: 0 not registered, 1 registered to this
// program (the extension's Default is exactly classId), 2 registered elsewhere.
int associationState(LPCWSTR extension, LPCWSTR classId);
void registerType(LPCWSTR extension, LPCWSTR classId, LPCWSTR description, LPCWSTR programPath);
void unregisterType(LPCWSTR extension, LPCWSTR classId);

// Runs dialog 110 modally with no owner; 1 after OK, 0 after Cancel.
int runAssociationDialog();
