// The three user settings, kept in the registry under
// HKEY_CURRENT_USER\Software\kelvane\unpacker. Every call opens the key, does
// one read or write and closes it again; nothing is cached. The store is also
// how a request's destination and options reach the extraction driver.
#pragma once

#include <cstddef>

#include "platform/win_types.h"

// Fills buffer with the stored ExtractPath in narrow text; a stored single
// backslash (the root) reads as the empty string, and so does a missing
// value or one that cannot be converted or does not fit. False only when the
// key cannot be opened (buffer empty as well).
bool readExtractPath(char* buffer, std::size_t capacity);
// Stores text (UTF-16) as REG_SZ, creating the key when needed.
bool writeExtractPath(const WCHAR* text);

// On only when the stored 32-bit value is exactly 1.
bool readCreateFolder();
bool readOpenFolder();
// Stores 1 when flag is exactly 1, otherwise 0. False only when the key
// cannot be created or opened.
bool writeCreateFolder(int flag);
bool writeOpenFolder(int flag);

// The three settings as a request reads them (readExtractPath, readCreateFolder,
// readOpenFolder), for the extraction driver.
struct RequestSettings;
const RequestSettings& storedRequestSettings();
