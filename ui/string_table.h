// The program's string table: messages loaded by resource id.
#pragma once

#include "platform/win_types.h"

constexpr UINT IDS_ERROR_CAPTION = 40003;
constexpr UINT IDS_FILE_NOT_EXIST = 40009;
constexpr UINT IDS_FORMAT_NOT_SUPPORTED = 40010;
constexpr UINT IDS_UNKNOWN_ERROR = 40011;
constexpr UINT IDS_PROGRAM_NAME = 40014;
constexpr UINT IDS_UNPACKED_TO = 40015;
constexpr UINT IDS_ASSOCIATE_QUESTION = 40016;
constexpr UINT IDS_ABOUT_TEXT = 40017;

// The NUL-terminated text of a string resource, or nullptr for an unknown id.
const WCHAR* stringResource(UINT id);
