// The three settings as the registry keeps them between runs.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "tests/test_support.h"
#include "ui/settings_store.h"

namespace {

class Settings : public testing_support::DeviceSandbox {
protected:
    static LONG raw(const WCHAR* name, DWORD type, const void* data, DWORD* size, bool write) {
        HKEY key = nullptr;
        LONG status = RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS)
            status = write ? RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), *size)
                           : RegQueryValueExW(key, name, nullptr, nullptr, static_cast<BYTE*>(const_cast<void*>(data)), size);
        RegCloseKey(key);
        return status;
    }
    static std::string extractPath() {
        char buffer[520] = "stale";
        readExtractPath(buffer, sizeof buffer);
        return buffer;
    }
};

}  // namespace

TEST_F(Settings, DefaultsStoredValuesAndTheRoot) {
    char buffer[520] = "stale";
    EXPECT_FALSE(readExtractPath(buffer, sizeof buffer));  // no key at all
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
    ASSERT_TRUE(writeCreateFolder(1));
    ASSERT_TRUE(writeOpenFolder(0));
    EXPECT_TRUE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
    const std::pair<std::u16string, std::string> paths[] = {
        {u"\\Storage Card", "\\Storage Card"},
        {u"\\", ""},                                  // the root reads as empty
        {u"\\\x5C55\x958B", "\\\x93\x57\x8A\x4A"},   // a Japanese folder in Shift-JIS
        {u"\\" + std::u16string(260, u'a'), ""},      // too long for the buffer
        {u"\\\xD83D\xDE00", ""},                      // no Shift-JIS form: another path
    };
    for (const auto& [stored, read] : paths) {
        ASSERT_TRUE(writeExtractPath(stored.c_str()));
        EXPECT_EQ(extractPath(), read);
    }
    DWORD size = 8;  // stored without its NUL, as a hand edit may leave it
    raw(u"ExtractPath", REG_SZ, u"\\abc", &size, true);
    EXPECT_EQ(extractPath(), "\\abc");
}

TEST_F(Settings, FlagsAreOnOnlyForExactlyOne) {
    DWORD value = 2, size = sizeof value;
    raw(u"CreateFolder", REG_DWORD, &value, &size, true);
    EXPECT_FALSE(readCreateFolder());
    writeCreateFolder(2);  // anything but 1 is stored as 0
    ASSERT_EQ(raw(u"CreateFolder", 0, &value, &size, false), ERROR_SUCCESS);
    EXPECT_EQ(value, 0u);
    BYTE one = 1;  // a value of the wrong size is not a flag
    size = 1;
    raw(u"OpenFolder", REG_BINARY, &one, &size, true);
    EXPECT_FALSE(readOpenFolder());
}
