#include "ui/settings_store.h"

#include "core/narrow_text.h"
#include "core/request_settings.h"
#include "platform/registry.h"

namespace {

const WCHAR kSettingsKey[] = u"Software\\kelvane\\unpacker";
const WCHAR kExtractPathValue[] = u"ExtractPath";
const WCHAR kCreateFolderValue[] = u"CreateFolder";
const WCHAR kOpenFolderValue[] = u"OpenFolder";

// The stored path is read into 260 UTF-16 characters, the device's limit.
constexpr DWORD kExtractPathBytes = 520;

bool readFlag(const WCHAR* valueName) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    BYTE data[4] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, valueName, nullptr, &type, data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || size != 4) return false;
    DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                  static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    return value == 1;
}

bool writeFlag(const WCHAR* valueName, int flag) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<WCHAR*>(u""), 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD value = flag == 1 ? 1 : 0;
    BYTE data[4] = {static_cast<BYTE>(value), 0, 0, 0};
    RegSetValueExW(key, valueName, 0, REG_DWORD, data, sizeof data);
    RegCloseKey(key);
    return true;
}

}  // namespace

bool readExtractPath(char* buffer, std::size_t capacity) {
    if (capacity) buffer[0] = '\0';
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    WCHAR stored[kExtractPathBytes / 2 + 1] = {};
    DWORD size = kExtractPathBytes;
    DWORD type = 0;
    LONG result = RegQueryValueExW(key, kExtractPathValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(stored), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return true;
    // A value edited by hand may lack its terminating NUL.
    stored[size / 2] = 0;
    if (!toNarrow(stored, buffer, capacity)) return true;
    if (buffer[0] == '\\' && buffer[1] == '\0') buffer[0] = '\0';
    return true;
}

bool writeExtractPath(const WCHAR* text) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, const_cast<WCHAR*>(u""), 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    DWORD bytes = static_cast<DWORD>((wideLength(text) + 1) * sizeof(WCHAR));
    LONG result = RegSetValueExW(key, kExtractPathValue, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text), bytes);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool readCreateFolder() { return readFlag(kCreateFolderValue); }
bool readOpenFolder() { return readFlag(kOpenFolderValue); }
bool writeCreateFolder(int flag) { return writeFlag(kCreateFolderValue, flag); }
bool writeOpenFolder(int flag) { return writeFlag(kOpenFolderValue, flag); }

const RequestSettings& storedRequestSettings() {
    static const RequestSettings settings{
        [](char* buffer, std::size_t capacity) { readExtractPath(buffer, capacity); },
        readCreateFolder, readOpenFolder};
    return settings;
}
