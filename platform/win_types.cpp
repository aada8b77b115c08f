#include "platform/win_types.h"

namespace {
// Each thread has its own last error, as on the device.
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD error) { lastError = error; }

std::size_t wideLength(const WCHAR* text) {
    if (!text) return 0;
    std::size_t length = 0;
    while (text[length] != 0) ++length;
    return length;
}
