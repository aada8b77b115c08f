#include "platform/device_paths.h"

#include <cstdlib>
#include <string_view>

#include "platform/text_conversion.h"

std::string deviceRootDirectory() {
    const char* configured = std::getenv("TOVRIN_ROOT");
    std::string root = configured ? configured : "";
    // The root is joined with device paths that begin with a separator, so it
    // must not end with one; "/" itself becomes "".
    while (!root.empty() && root.back() == '/') root.pop_back();
    return root;
}

bool hostPathFromDevice(const WCHAR* devicePath, std::string& hostPath) {
    hostPath.clear();
    if (!devicePath) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    std::string utf8;
    if (!utf16ToUtf8(std::u16string_view(devicePath, wideLength(devicePath)), utf8)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return false;
    }
    for (char& c : utf8) {
        if (c == '\\') c = '/';
    }
    if (!utf8.empty() && utf8[0] == '/') {
        hostPath = deviceRootDirectory();
        hostPath += utf8;
    } else {
        hostPath = std::move(utf8);
    }
    return true;
}
