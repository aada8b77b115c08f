// Calendar and file-time conversions. Local time is the host's time zone,
// daylight rules included.
#pragma once

#include "platform/win_types.h"

// Fails (FALSE, ERROR_INVALID_PARAMETER) on a field out of range: month 0 or
// above 12, a day the month does not have, hour above 23, minute or second
// above 59, milliseconds above 999, year before 1601 or after 30827.
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, FILETIME* fileTime);
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
