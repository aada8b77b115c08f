// Starting programs and the file manager. The programs are small shell
// scripts planted in the sandbox; each writes what it was given to a file,
// which the test waits for.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/text_conversion.h"
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
        if (const char* path = std::getenv("PATH")) {
            hadPath_ = true;
            savedPath_ = path;
        }
        // A PATH without xdg-open unless a test plants one.
        makeDirectories(root() + "/bin");
        setenv("PATH", (root() + "/bin").c_str(), 1);
        makeDirectories(host("\\windows"));
    }
    void TearDown() override {
        if (hadPath_) setenv("PATH", savedPath_.c_str(), 1); else unsetenv("PATH");
        DeviceSandbox::TearDown();
    }

    // A script that records its argument count and arguments in record.
    void plantRecorder(const std::string& hostPath, const std::string& record) {
        writeFile(hostPath,
                  "#!/bin/sh\n"
                  "printf '%s|%s' \"$#\" \"$1\" > '" + record + ".part'\n"
                  "/bin/mv '" + record + ".part' '" + record + "'\n");
        chmod(hostPath.c_str(), 0755);
    }

    // The record's content once it appears; "" after a bounded wait.
    static std::string waitFor(const std::string& record) {
        for (int i = 0; i < 500; ++i) {
            if (fileExists(record)) return readFile(record);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::string();
    }

private:
    bool hadPath_ = false;
    std::string savedPath_;
};

}  // namespace

TEST_F(Programs, DeviceExplorerGetsTheFolderAsDevicePath) {
    std::string record = root() + "/explorer.txt";
    plantRecorder(host("\\windows\\fexplore.exe"), record);
    plantRecorder(host("\\windows\\IA_File_Manager.exe"), root() + "/ia.txt");
    EXPECT_EQ(findFileManager(), FileManager::DeviceExplorer);
    ASSERT_TRUE(openFolderInFileManager(u"\\My Documents\\\u65E5\u672C"));
    EXPECT_EQ(waitFor(record), "1|\\My Documents\\\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_FALSE(fileExists(root() + "/ia.txt"));
}

TEST_F(Programs, IaFileManagerIsTheFallback) {
    std::string record = root() + "/ia.txt";
    plantRecorder(host("\\windows\\IA_File_Manager.exe"), record);
    // A folder where the explorer should be does not count as the program.
    makeDirectories(host("\\windows\\fexplore.exe"));
    EXPECT_EQ(findFileManager(), FileManager::DeviceIaManager);
    ASSERT_TRUE(openFolderInFileManager(u"\\out"));
    EXPECT_EQ(waitFor(record), "1|\\out");
}

TEST_F(Programs, HostDesktopGetsTheHostPath) {
    std::string record = root() + "/xdg.txt";
    plantRecorder(root() + "/bin/xdg-open", record);
    EXPECT_EQ(findFileManager(), FileManager::HostDesktop);
    ASSERT_TRUE(openFolderInFileManager(u"\\out\\x"));
    EXPECT_EQ(waitFor(record), "1|" + root() + "/out/x");
}

TEST_F(Programs, NoFileManagerWhenNothingIsThere) {
    // Not executable, so not a usable xdg-open.
    writeFile(root() + "/bin/xdg-open", "#!/bin/sh\n");
    chmod((root() + "/bin/xdg-open").c_str(), 0644);
    EXPECT_EQ(findFileManager(), FileManager::None);
    EXPECT_FALSE(openFolderInFileManager(u"\\out"));
    unsetenv("PATH");
    EXPECT_EQ(findFileManager(), FileManager::None);
}

TEST_F(Programs, CreateProcessPassesTheCommandLineAsOneArgument) {
    std::string record = root() + "/run.txt";
    plantRecorder(host("\\windows\\tool.exe"), record);
    WCHAR commandLine[] = u"two words \"quoted\"";
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(u"\\windows\\tool.exe", commandLine, nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &info));
    EXPECT_NE(info.dwProcessId, 0u);
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_EQ(waitFor(record), "1|two words \"quoted\"");
}

TEST_F(Programs, EmptyCommandLineGivesNoArgument) {
    std::string record = root() + "/empty.txt";
    plantRecorder(host("\\windows\\tool.exe"), record);
    WCHAR empty[] = u"";
    ASSERT_TRUE(CreateProcessW(u"\\windows\\tool.exe", empty, nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, nullptr, nullptr));
    EXPECT_EQ(waitFor(record), "0|");
}

TEST_F(Programs, MissingProgramFailsWithNotFound) {
    WCHAR line[] = u"x";
    PROCESS_INFORMATION info{};
    SetLastError(0);
    EXPECT_FALSE(CreateProcessW(u"\\windows\\missing.exe", line, nullptr, nullptr, FALSE, 0,
                                nullptr, nullptr, nullptr, &info));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(info.hProcess, nullptr);
    // A file that is no program cannot be started either.
    writeFile(host("\\windows\\data.exe"), "not a program");
    chmod(host("\\windows\\data.exe").c_str(), 0644);
    EXPECT_FALSE(CreateProcessW(u"\\windows\\data.exe", line, nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, nullptr, &info));
}

TEST_F(Programs, ModuleFileNameIsADevicePathUnderTheRoot) {
    char exe[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(length, 0);
    std::string hostPath(exe, static_cast<std::size_t>(length));
    std::u16string hostWide;
    ASSERT_TRUE(utf8ToUtf16(hostPath, hostWide));

    // The sandbox root does not hold the test program: the host path stands in.
    WCHAR name[MAX_PATH];
    DWORD got = GetModuleFileNameW(nullptr, name, MAX_PATH);
    EXPECT_EQ(std::u16string(name, got), hostWide);
    EXPECT_EQ(got, hostWide.size());

    // With the program's folder as the device root it has a device path.
    std::string folder = hostPath.substr(0, hostPath.rfind('/'));
    std::string base = hostPath.substr(hostPath.rfind('/') + 1);
    setenv("TOVRIN_ROOT", folder.c_str(), 1);
    std::u16string expected;
    ASSERT_TRUE(utf8ToUtf16("\\" + base, expected));
    got = GetModuleFileNameW(nullptr, name, MAX_PATH);
    EXPECT_EQ(std::u16string(name, got), expected);

    // A short buffer gets a cut, terminated name.
    WCHAR small[4] = {u'#', u'#', u'#', u'#'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 3), 3u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[2], 0);
    EXPECT_EQ(small[3], u'#');
}
