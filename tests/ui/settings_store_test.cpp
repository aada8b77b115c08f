// The three settings as the registry keeps them between runs.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "tests/test_support.h"
#include "ui/settings_store.h"

namespace {

class Settings : public testing_support::DeviceSandbox {
protected:
    void storeRaw(const WCHAR* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::string extractPath() {
        char buffer[520];
        readExtractPath(buffer, sizeof buffer);
        return buffer;
    }
};

}  // namespace

TEST_F(Settings, DefaultsWithoutAKey) {
    char buffer[520] = "stale";
    EXPECT_FALSE(readExtractPath(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "");
    EXPECT_FALSE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
}

TEST_F(Settings, ValuesPersistAndTheRootReadsEmpty) {
    ASSERT_TRUE(writeExtractPath(u"\\Storage Card"));
    ASSERT_TRUE(writeCreateFolder(1));
    ASSERT_TRUE(writeOpenFolder(0));
    EXPECT_EQ(extractPath(), "\\Storage Card");
    EXPECT_TRUE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
    ASSERT_TRUE(writeExtractPath(u"\\"));
    EXPECT_EQ(extractPath(), "");
    ASSERT_TRUE(writeExtractPath(u"\\\x5C55\x958B"));  // Japanese folder name
    EXPECT_EQ(extractPath(), "\\\x93\x57\x8A\x4A");
}

TEST_F(Settings, FlagsAreOnOnlyForExactlyOne) {
    DWORD two = 2;
    storeRaw(u"CreateFolder", REG_DWORD, &two, sizeof two);
    EXPECT_FALSE(readCreateFolder());
    writeCreateFolder(2);  // anything but 1 is stored as 0
    DWORD stored = 99;
    DWORD size = sizeof stored;
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegQueryValueExW(key, u"CreateFolder", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(&stored), &size),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(stored, 0u);
    // A value of the wrong size is not a flag.
    BYTE one = 1;
    storeRaw(u"OpenFolder", REG_BINARY, &one, 1);
    EXPECT_FALSE(readOpenFolder());
}

TEST_F(Settings, UnreadablePathsReadAsEmpty) {
    std::u16string tooLong = u"\\" + std::u16string(260, u'a');
    ASSERT_TRUE(writeExtractPath(tooLong.c_str()));
    EXPECT_EQ(extractPath(), "");
    // A character without a Shift-JIS form: the path would be another path.
    ASSERT_TRUE(writeExtractPath(u"\\\xD83D\xDE00"));
    EXPECT_EQ(extractPath(), "");
    // Stored without its terminating NUL, as a hand edit may leave it.
    storeRaw(u"ExtractPath", REG_SZ, u"\\abc", 8);
    EXPECT_EQ(extractPath(), "\\abc");
}
