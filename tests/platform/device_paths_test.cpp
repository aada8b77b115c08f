#include <cstdlib>
#include <string>

#include "platform/device_paths.h"
#include "tests/test_support.h"

using DevicePaths = testing_support::DeviceSandbox;

TEST_F(DevicePaths, DeviceAndHostPathsMapBelowTheRootReadAtEveryCall) {
    auto map = [](const WCHAR* devicePath) {
        std::string hostPath = "<refused>";
        return hostPathFromDevice(devicePath, hostPath) ? hostPath : "<refused>";
    };
    const std::pair<const WCHAR*, std::string> cases[] = {
        {u"\\My Documents\\a.zip", root() + "/My Documents/a.zip"},
        {u"\\", root() + "/"},
        {u"/home/me/a.zip", root() + "/home/me/a.zip"},  // a slash separates too
        {u"\\a/b\\c", root() + "/a/b/c"},
        {u"dir\\file.txt", "dir/file.txt"},  // relative to the working directory
        {u"", ""},
        {u"\\\u65E5\u672C\\\u30BD.txt", root() + "/\xE6\x97\xA5\xE6\x9C\xAC/\xE3\x82\xBD.txt"},
        {u"\\\xD800" u"a", "<refused>"},  // no UTF-8 form
        {nullptr, "<refused>"},
    };
    for (const auto& [device, host] : cases) EXPECT_EQ(map(device), host);
    setenv("TOVRIN_ROOT", "/srv/device///", 1);
    EXPECT_EQ(deviceRootDirectory(), "/srv/device");
    EXPECT_EQ(map(u"\\x"), "/srv/device/x");
    setenv("TOVRIN_ROOT", "/", 1);
    EXPECT_EQ(map(u"\\x"), "/x");
    unsetenv("TOVRIN_ROOT");
    EXPECT_EQ(map(u"\\etc\\hosts"), "/etc/hosts");
}
