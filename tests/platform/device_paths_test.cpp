#include <cstdlib>
#include <string>

#include "platform/device_paths.h"
#include "tests/test_support.h"

namespace {

class DevicePaths : public testing_support::DeviceSandbox {
protected:
    std::string map(const WCHAR* devicePath) {
        std::string hostPath = "<unset>";
        EXPECT_TRUE(hostPathFromDevice(devicePath, hostPath));
        return hostPath;
    }
};

}  // namespace

TEST_F(DevicePaths, BackslashPathsLandUnderTheDeviceRoot) {
    EXPECT_EQ(map(u"\\My Documents\\a.zip"), root() + "/My Documents/a.zip");
    EXPECT_EQ(map(u"\\"), root() + "/");
    EXPECT_EQ(deviceRootDirectory(), root());
}

TEST_F(DevicePaths, ForwardSlashesAreSeparatorsToo) {
    EXPECT_EQ(map(u"/home/me/a.zip"), root() + "/home/me/a.zip");
    EXPECT_EQ(map(u"\\a/b\\c"), root() + "/a/b/c");
}

TEST_F(DevicePaths, RelativePathsStayRelativeToTheWorkingDirectory) {
    EXPECT_EQ(map(u"dir\\file.txt"), "dir/file.txt");
    EXPECT_EQ(map(u""), "");
}

TEST_F(DevicePaths, NonAsciiNamesBecomeUtf8) {
    EXPECT_EQ(map(u"\\\u65E5\u672C\\\u30BD.txt"),
              root() + "/\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x82\xBD.txt");
}

TEST_F(DevicePaths, RootIsReadAtEveryCallAndLosesTrailingSlashes) {
    setenv("TOVRIN_ROOT", "/srv/device///", 1);
    EXPECT_EQ(deviceRootDirectory(), "/srv/device");
    EXPECT_EQ(map(u"\\x"), "/srv/device/x");
    setenv("TOVRIN_ROOT", "/", 1);
    EXPECT_EQ(map(u"\\x"), "/x");
    unsetenv("TOVRIN_ROOT");
    EXPECT_EQ(deviceRootDirectory(), "");
    EXPECT_EQ(map(u"\\etc\\hosts"), "/etc/hosts");
}

TEST_F(DevicePaths, InvalidUtf16IsRefused) {
    const WCHAR lone[] = {u'\\', static_cast<WCHAR>(0xD800), u'a', 0};
    std::string hostPath;
    SetLastError(0);
    EXPECT_FALSE(hostPathFromDevice(lone, hostPath));
    EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
    SetLastError(0);
    EXPECT_FALSE(hostPathFromDevice(nullptr, hostPath));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}
