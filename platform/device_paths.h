// Device paths and the device root.
//
// Device paths start with `\` and use `\` as separator; `/` is accepted too,
// so host paths typed by a user work unchanged. The device root `\` is the
// host directory named by TOVRIN_ROOT (or `/` when unset). A path without a
// leading separator is relative to the working directory.
#pragma once

#include <string>

#include "platform/win_types.h"

// The host directory that stands for the device root, without a trailing
// slash ("" for the host's own root). Read from TOVRIN_ROOT at every call, so
// tests may change it.
std::string deviceRootDirectory();

// Maps a device path (UTF-16) to the host path (UTF-8). Fails, with
// ERROR_NO_UNICODE_TRANSLATION or ERROR_INVALID_NAME, when the text is not
// valid UTF-16 or holds a NUL before its end.
bool hostPathFromDevice(const WCHAR* devicePath, std::string& hostPath);
