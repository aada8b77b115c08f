// Attributes, folders, deleting and moving.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/files.h"
#include "tests/test_support.h"

using testing_support::fileExists;
using testing_support::isDirectory;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class FileAttributes : public testing_support::DeviceSandbox {
protected:
    bool xattrsWork() {
        std::string probe = root() + "/xattr-probe";
        writeFile(probe, "");
        bool works = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
        unlink(probe.c_str());
        return works;
    }
};

class FolderTree : public testing_support::DeviceSandbox {};

}  // namespace

TEST_F(FileAttributes, PlainEntriesReadAsArchiveFileAndDirectory) {
    writeFile(host("\\plain.txt"), "x");
    makeDirectories(host("\\folder"));
    EXPECT_EQ(GetFileAttributesW(u"\\plain.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(u"\\folder"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(u"\\folder\\"), FILE_ATTRIBUTE_DIRECTORY);
    // The sandbox root is not a mount point of its own.
    EXPECT_EQ(GetFileAttributesW(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FileAttributes, MissingEntriesReportFileOrPathNotFound) {
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(u"\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW(u"\\none"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(u"\\none\\deeper"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    writeFile(host("\\file"), "x");
    SetLastError(0);
    EXPECT_EQ(GetFileAttributesW(u"\\file\\below"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileAttributes, HiddenSystemAndArchiveRoundTrip) {
    if (!xattrsWork()) GTEST_SKIP() << "file system without user extended attributes";
    writeFile(host("\\a.txt"), "content");
    const DWORD combinations[] = {
        FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY,
        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY,
        FILE_ATTRIBUTE_ARCHIVE,
    };
    for (DWORD bits : combinations) {
        ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", bits)) << bits;
        EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), bits);
    }
    // No bit at all reads back as normal, not as archive.
    ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), FILE_ATTRIBUTE_NORMAL);
    // Bits that cannot be set are ignored, not refused.
    ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | 0x08));
    EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(readFile(host("\\a.txt")), "content");
}

TEST_F(FileAttributes, ReadOnlyIsThePermissionBitsAndClearingRestoresOwnerWrite) {
    writeFile(host("\\r.txt"), "x");
    chmod(host("\\r.txt").c_str(), 0644);
    ASSERT_TRUE(SetFileAttributesW(u"\\r.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    struct stat st;
    ASSERT_EQ(stat(host("\\r.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_TRUE(SetFileAttributesW(u"\\r.txt", FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_EQ(stat(host("\\r.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    // A file without write permission from elsewhere reads as read-only.
    chmod(host("\\r.txt").c_str(), 0500);
    EXPECT_EQ(GetFileAttributesW(u"\\r.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileAttributes, ReadOnlyFolderStillTakesNewFilesButIsNotRemoved) {
    if (!xattrsWork()) GTEST_SKIP() << "file system without user extended attributes";
    makeDirectories(host("\\ro-dir"));
    ASSERT_TRUE(SetFileAttributesW(u"\\ro-dir", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(GetFileAttributesW(u"\\ro-dir"),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    struct stat st;
    ASSERT_EQ(stat(host("\\ro-dir").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    HANDLE file = CreateFileW(u"\\ro-dir\\inside.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    ASSERT_TRUE(DeleteFileW(u"\\ro-dir\\inside.txt"));
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryW(u"\\ro-dir"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    ASSERT_TRUE(SetFileAttributesW(u"\\ro-dir", FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(RemoveDirectoryW(u"\\ro-dir"));
}

TEST_F(FileAttributes, SymbolicLinkTargetIsNeverChanged) {
    std::string outside = root() + "/target.txt";
    writeFile(outside, "t");
    chmod(outside.c_str(), 0444);
    ASSERT_EQ(symlink(outside.c_str(), host("\\link").c_str()), 0);
    SetLastError(0);
    EXPECT_FALSE(SetFileAttributesW(u"\\link", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    struct stat st;
    ASSERT_EQ(stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    // Looking at a link reports what it points to.
    EXPECT_EQ(GetFileAttributesW(u"\\link"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileAttributes, MountPointCarriesTheTemporaryBit) {
    struct stat dev;
    struct stat shm;
    if (stat("/dev", &dev) != 0 || stat("/dev/shm", &shm) != 0 || dev.st_dev == shm.st_dev)
        GTEST_SKIP() << "no /dev/shm mount to look at";
    setenv("TOVRIN_ROOT", "/dev", 1);
    EXPECT_EQ(GetFileAttributesW(u"\\shm"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"\\shm", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY);
    EXPECT_EQ(std::u16string(data.cFileName), u"shm");
    FindClose(find);
}

TEST_F(FolderTree, CreateDirectoryReportsExistingAndMissingParent) {
    ASSERT_TRUE(CreateDirectoryW(u"\\new", nullptr));
    EXPECT_TRUE(isDirectory(host("\\new")));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(u"\\new", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    writeFile(host("\\file"), "x");
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(u"\\file", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(u"\\a\\b", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(fileExists(host("\\a")));
}

TEST_F(FolderTree, RemoveDirectoryOnlyRemovesEmptyFolders) {
    makeDirectories(host("\\full\\sub"));
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryW(u"\\full"));
    EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
    writeFile(host("\\f"), "x");
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryW(u"\\f"));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_EQ(readFile(host("\\f")), "x");
    EXPECT_TRUE(RemoveDirectoryW(u"\\full\\sub"));
    EXPECT_FALSE(fileExists(host("\\full\\sub")));
}

TEST_F(FolderTree, DeleteFileRemovesFilesAndLinksButNotFolders) {
    writeFile(host("\\f"), "x");
    ASSERT_TRUE(DeleteFileW(u"\\f"));
    EXPECT_FALSE(fileExists(host("\\f")));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(u"\\f"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    makeDirectories(host("\\dir"));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(u"\\dir"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(isDirectory(host("\\dir")));

    std::string outside = root() + "/kept.txt";
    writeFile(outside, "kept");
    chmod(outside.c_str(), 0444);
    ASSERT_EQ(symlink(outside.c_str(), host("\\dir\\link").c_str()), 0);
    ASSERT_TRUE(DeleteFileW(u"\\dir\\link"));
    EXPECT_FALSE(fileExists(host("\\dir\\link")));
    EXPECT_EQ(readFile(outside), "kept");
}

TEST_F(FolderTree, ReadOnlyFileIsNotDeleted) {
    writeFile(host("\\ro"), "keep");
    ASSERT_TRUE(SetFileAttributesW(u"\\ro", FILE_ATTRIBUTE_READONLY));
    SetLastError(0);
    EXPECT_FALSE(DeleteFileW(u"\\ro"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readFile(host("\\ro")), "keep");
}

TEST_F(FolderTree, MoveRenamesButNeverReplaces) {
    writeFile(host("\\a"), "alpha");
    writeFile(host("\\b"), "beta");
    SetLastError(0);
    EXPECT_FALSE(MoveFileW(u"\\a", u"\\b"));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(readFile(host("\\a")), "alpha");
    EXPECT_EQ(readFile(host("\\b")), "beta");

    ASSERT_TRUE(SetFileAttributesW(u"\\b", FILE_ATTRIBUTE_READONLY));
    SetLastError(0);
    EXPECT_FALSE(MoveFileW(u"\\a", u"\\b"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(readFile(host("\\b")), "beta");

    makeDirectories(host("\\dir"));
    ASSERT_TRUE(MoveFileW(u"\\a", u"\\dir\\renamed"));
    EXPECT_FALSE(fileExists(host("\\a")));
    EXPECT_EQ(readFile(host("\\dir\\renamed")), "alpha");
    // A read-only file may itself be renamed, and so may a folder.
    ASSERT_TRUE(MoveFileW(u"\\b", u"\\b2"));
    EXPECT_EQ(readFile(host("\\b2")), "beta");
    ASSERT_TRUE(MoveFileW(u"\\dir", u"\\dir2"));
    EXPECT_EQ(readFile(host("\\dir2\\renamed")), "alpha");

    SetLastError(0);
    EXPECT_FALSE(MoveFileW(u"\\missing", u"\\c"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_FALSE(MoveFileW(u"\\b2", u"\\no\\where"));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(readFile(host("\\b2")), "beta");
}
