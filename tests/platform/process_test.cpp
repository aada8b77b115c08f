// Starting programs and the file manager. The programs are small shell
// scripts planted in the sandbox; each writes what it was given to a file,
// which the test waits for.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "tests/test_support.h"

using testing_support::fileExists;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class Programs : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        savedPath_ = std::getenv("PATH") ? std::getenv("PATH") : "";
        makeDirectories(root() + "/bin");  // a PATH without xdg-open unless a test plants one
        setenv("PATH", (root() + "/bin").c_str(), 1);
        makeDirectories(host("\\windows"));
    }
    void TearDown() override {
        setenv("PATH", savedPath_.c_str(), 1);
        DeviceSandbox::TearDown();
    }
    // A script that writes "argument count|first argument" to record.
    std::string plantRecorder(const std::string& hostPath, const std::string& name) {
        std::string record = root() + "/" + name;
        writeFile(hostPath, "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > '" + record + ".part'\n/bin/mv '" + record +
                                ".part' '" + record + "'\n");
        chmod(hostPath.c_str(), 0755);
        return record;
    }
    static std::string waitFor(const std::string& record) {
        for (int i = 0; i < 500 && !fileExists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return fileExists(record) ? readFile(record) : "";
    }
    std::string savedPath_;
};

}  // namespace

TEST_F(Programs, TheFileManagerIsTheDevicesFirstThenTheDesktops) {
    // Not executable, so not a usable xdg-open.
    writeFile(root() + "/bin/xdg-open", "#!/bin/sh\n");
    EXPECT_EQ(findFileManager(), FileManager::None);
    EXPECT_FALSE(openFolderInFileManager(u"\\out"));

    std::string xdg = plantRecorder(root() + "/bin/xdg-open", "xdg");
    EXPECT_EQ(findFileManager(), FileManager::HostDesktop);
    ASSERT_TRUE(openFolderInFileManager(u"\\out\\x"));
    EXPECT_EQ(waitFor(xdg), "1|" + root() + "/out/x");  // the host path

    std::string ia = plantRecorder(host("\\windows\\IA_File_Manager.exe"), "ia");
    makeDirectories(host("\\windows\\fexplore.exe"));  // a folder is not the program
    EXPECT_EQ(findFileManager(), FileManager::DeviceIaManager);
    ASSERT_TRUE(openFolderInFileManager(u"\\out"));
    EXPECT_EQ(waitFor(ia), "1|\\out");

    rmdir(host("\\windows\\fexplore.exe").c_str());
    std::string explorer = plantRecorder(host("\\windows\\fexplore.exe"), "explorer");
    EXPECT_EQ(findFileManager(), FileManager::DeviceExplorer);
    ASSERT_TRUE(openFolderInFileManager(u"\\My Documents\\\u65E5\u672C"));
    EXPECT_EQ(waitFor(explorer), "1|\\My Documents\\\xE6\x97\xA5\xE6\x9C\xAC");  // the device path
}
