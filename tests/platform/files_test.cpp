// The Win32-style file calls on the host: bytes, error codes that callers
// read, 64-bit positions, attributes, folders, searches, and the read-only,
// symbolic-link and FIFO rules that hold even for root.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/test_support.h"

using testing_support::fileExists;
using testing_support::isDirectory;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class Files : public testing_support::DeviceSandbox {
protected:
    static HANDLE open(LPCWSTR path, DWORD access, DWORD disposition, DWORD attributes = 0) {
        return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, attributes, nullptr);
    }
    bool xattrsWork() {
        std::string probe = root() + "/xattr-probe";
        writeFile(probe, "");
        bool works = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
        unlink(probe.c_str());
        return works;
    }
    // The call's result and the error it left, as one comparable value.
    template <typename Call>
    static std::pair<bool, DWORD> outcome(Call call) {
        SetLastError(0xBAD);
        bool ok = call();
        return {ok, ok ? 0u : GetLastError()};
    }
};

using Outcome = std::pair<bool, DWORD>;
const Outcome kOk{true, 0};
Outcome failed(DWORD error) { return {false, error}; }

std::vector<std::u16string> search(LPCWSTR pattern, DWORD* error = nullptr) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern, &data);
    if (error) *error = find == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST_F(Files, BytesPositionsAndHandleRights) {
    std::string data = testing_support::sampleData(300000, 7);
    HANDLE out = open(u"\\data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);  // it did not exist
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
    EXPECT_EQ(n, data.size());
    // 5 GiB + 3 is reachable only through the high part; without one, a
    // position past 32 bits or before the start is refused.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(out, 3, &high, FILE_BEGIN), 3u);
    ASSERT_TRUE(WriteFile(out, "Z", 1, &n, nullptr));
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(out, &sizeHigh), 4u);
    EXPECT_EQ(sizeHigh, 1u);
    high = -1;
    EXPECT_EQ(outcome([&] { return SetFilePointer(out, -1, &high, FILE_BEGIN) != INVALID_SET_FILE_POINTER; }),
              failed(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(outcome([&] { return SetFilePointer(out, 1, nullptr, FILE_BEGIN + 2) != INVALID_SET_FILE_POINTER; }),
              failed(ERROR_INVALID_PARAMETER));
    ASSERT_TRUE(CloseHandle(out));
    EXPECT_EQ(outcome([&] { return CloseHandle(out) != 0; }), failed(ERROR_INVALID_HANDLE));
    EXPECT_EQ(outcome([&] { return WriteFile(out, "x", 1, &n, nullptr) != 0; }), failed(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    ASSERT_EQ(truncate(host("\\data.bin").c_str(), static_cast<off_t>(data.size())), 0);

    HANDLE in = open(u"\\data.bin", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    std::string back(data.size() + 10, '\0');
    ASSERT_TRUE(ReadFile(in, &back[0], static_cast<DWORD>(back.size()), &n, nullptr));
    back.resize(n);
    EXPECT_TRUE(testing_support::sameBytes(back, data));
    ASSERT_TRUE(ReadFile(in, &back[0], 10, &n, nullptr));  // at the end: success with nothing
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(outcome([&] { return WriteFile(in, "x", 1, &n, nullptr) != 0; }), failed(ERROR_ACCESS_DENIED));
    FILETIME when{};
    EXPECT_EQ(outcome([&] { return SetFileTime(in, nullptr, nullptr, &when) != 0; }), failed(ERROR_ACCESS_DENIED));
    CloseHandle(in);

    // Replacing keeps nothing of the old content and says it existed.
    HANDLE again = open(u"\\data.bin", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(again);
    EXPECT_EQ(readFile(host("\\data.bin")), "");
    EXPECT_EQ(open(u"\\data.bin", GENERIC_WRITE, 1), INVALID_HANDLE_VALUE);  // an unused disposition
}

TEST_F(Files, OpenFailuresTellTheCallerWhy) {
    makeDirectories(host("\\dir"));
    writeFile(host("\\file"), "x");
    struct Case {
        LPCWSTR path;
        DWORD access, disposition, error;
    };
    const Case cases[] = {
        {u"\\nothing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {u"\\no folder\\x.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {u"\\no folder\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {u"\\file\\below", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {u"\\dir", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {u"\\dir", GENERIC_WRITE, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(outcome([&] { return open(c.path, c.access, c.disposition) != INVALID_HANDLE_VALUE; }),
                  failed(c.error))
            << std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path));
    }
    EXPECT_EQ(outcome([] { return openDeviceStream(u"\\nothing.txt", "rb") != nullptr; }),
              failed(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(outcome([] { return openDeviceStream(u"\\dir", "wb") != nullptr; }), failed(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome([] { return openDeviceStream(u"\\file", "r+b") != nullptr; }),
              failed(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(openDeviceReadDescriptor(u"\\dir"), -1);
    EXPECT_TRUE(isDirectory(host("\\dir")));
    EXPECT_EQ(readFile(host("\\file")), "x");
}

TEST_F(Files, ReadOnlyLinksAndFifosAreNeverWrittenThrough) {
    writeFile(host("\\ro.txt"), "keep me");
    ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_READONLY));
    std::string outside = root() + "/outside.txt";
    writeFile(outside, "secret");
    ASSERT_EQ(symlink(outside.c_str(), host("\\link").c_str()), 0);
    ASSERT_EQ(symlink((root() + "/made-through-link").c_str(), host("\\dangling").c_str()), 0);
    ASSERT_EQ(mkfifo(host("\\pipe").c_str(), 0644), 0);

    for (LPCWSTR path : {u"\\ro.txt", u"\\link", u"\\dangling"}) {
        EXPECT_EQ(open(path, GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
        for (const char* mode : {"wb", "w", "ab"}) EXPECT_EQ(openDeviceStream(path, mode), nullptr) << mode;
    }
    EXPECT_EQ(outcome([] { return DeleteFileW(u"\\ro.txt") != 0; }), failed(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome([&] { return SetFileAttributesW(u"\\link", FILE_ATTRIBUTE_NORMAL) != 0; }),
              failed(ERROR_ACCESS_DENIED));
    auto fifo = std::async(std::launch::async, [] {
        std::FILE* stream = openDeviceStream(u"\\pipe", "wb");
        if (stream) std::fclose(stream);
        return stream != nullptr;
    });
    ASSERT_EQ(fifo.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "waited on a FIFO";
    EXPECT_FALSE(fifo.get());
    EXPECT_EQ(readFile(host("\\ro.txt")), "keep me");
    EXPECT_EQ(readFile(outside), "secret");
    EXPECT_FALSE(fileExists(root() + "/made-through-link"));

    // Reading through a link (an archive the user named) still works, and
    // clearing the bit gives the owner write permission back.
    std::FILE* stream = openDeviceStream(u"\\link", "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    int fd = openDeviceReadDescriptor(u"\\ro.txt");
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    closeDeviceReadDescriptor(fd);
    ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    stream = openDeviceStream(u"\\ro.txt", "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs("one", stream);
    std::fclose(stream);
    for (LPCWSTR path : {u"\\ro.txt", u"\\new.txt"}) {  // appending creates what is missing
        stream = openDeviceStream(path, "ab");
        ASSERT_NE(stream, nullptr);
        std::fputs("two", stream);
        std::fclose(stream);
    }
    EXPECT_EQ(readFile(host("\\ro.txt")), "onetwo");
    EXPECT_EQ(readFile(host("\\new.txt")), "two");
    ASSERT_TRUE(DeleteFileW(u"\\link"));
    EXPECT_EQ(readFile(outside), "secret");
}

TEST_F(Files, AttributesRoundTripAndReadOnlyIsThePermissionBits) {
    writeFile(host("\\a.txt"), "content");
    makeDirectories(host("\\folder"));
    EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributesW(u"\\folder\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(outcome([] { return GetFileAttributesW(u"\\none") != INVALID_FILE_ATTRIBUTES; }),
              failed(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(outcome([] { return GetFileAttributesW(u"\\none\\deeper") != INVALID_FILE_ATTRIBUTES; }),
              failed(ERROR_PATH_NOT_FOUND));

    chmod(host("\\a.txt").c_str(), 0644);
    ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    struct stat st;
    ASSERT_EQ(stat(host("\\a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_EQ(stat(host("\\a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);

    // A new file may be made read-only and still be written through its handle.
    HANDLE made = open(u"\\made.txt", GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY);
    DWORD n;
    EXPECT_TRUE(WriteFile(made, "abc", 3, &n, nullptr));
    CloseHandle(made);
    EXPECT_EQ(readFile(host("\\made.txt")), "abc");
    EXPECT_EQ(GetFileAttributesW(u"\\made.txt"), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);

    if (!xattrsWork()) GTEST_SKIP() << "file system without user extended attributes";
    for (DWORD bits : {DWORD{FILE_ATTRIBUTE_HIDDEN}, DWORD{FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE},
                       DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY},
                       DWORD{FILE_ATTRIBUTE_NORMAL}}) {
        ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", bits)) << bits;
        EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), bits);
    }
    // Bits that cannot be set are ignored, not refused.
    ASSERT_TRUE(SetFileAttributesW(u"\\a.txt", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | 0x08));
    EXPECT_EQ(GetFileAttributesW(u"\\a.txt"), FILE_ATTRIBUTE_HIDDEN);
    // A read-only folder still takes new files but is not removed.
    ASSERT_TRUE(SetFileAttributesW(u"\\folder", FILE_ATTRIBUTE_READONLY));
    HANDLE inside = open(u"\\folder\\in.txt", GENERIC_WRITE, CREATE_ALWAYS);
    EXPECT_NE(inside, INVALID_HANDLE_VALUE);
    CloseHandle(inside);
    ASSERT_TRUE(DeleteFileW(u"\\folder\\in.txt"));
    EXPECT_EQ(outcome([] { return RemoveDirectoryW(u"\\folder") != 0; }), failed(ERROR_ACCESS_DENIED));
    EXPECT_EQ(readFile(host("\\a.txt")), "content");
}

TEST_F(Files, FolderCallsReportWhatCallersBranchOn) {
    makeDirectories(host("\\full\\sub"));
    writeFile(host("\\a"), "alpha");
    writeFile(host("\\b"), "beta");
    EXPECT_EQ(outcome([] { return CreateDirectoryW(u"\\new", nullptr) != 0; }), kOk);
    EXPECT_EQ(outcome([] { return CreateDirectoryW(u"\\new", nullptr) != 0; }), failed(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(outcome([] { return CreateDirectoryW(u"\\a", nullptr) != 0; }), failed(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(outcome([] { return CreateDirectoryW(u"\\x\\y", nullptr) != 0; }), failed(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(outcome([] { return RemoveDirectoryW(u"\\full") != 0; }), failed(ERROR_DIR_NOT_EMPTY));
    EXPECT_EQ(outcome([] { return RemoveDirectoryW(u"\\a") != 0; }), failed(ERROR_DIRECTORY));
    EXPECT_EQ(outcome([] { return DeleteFileW(u"\\full") != 0; }), failed(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome([] { return DeleteFileW(u"\\missing") != 0; }), failed(ERROR_FILE_NOT_FOUND));
    // A move renames but never replaces.
    EXPECT_EQ(outcome([] { return MoveFileW(u"\\a", u"\\b") != 0; }), failed(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(outcome([] { return MoveFileW(u"\\missing", u"\\c") != 0; }), failed(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(outcome([] { return MoveFileW(u"\\a", u"\\no\\where") != 0; }), failed(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(outcome([] { return MoveFileW(u"\\a", u"\\full\\renamed") != 0; }), kOk);
    EXPECT_EQ(outcome([] { return MoveFileW(u"\\full", u"\\full2") != 0; }), kOk);
    EXPECT_EQ(readFile(host("\\full2\\renamed")), "alpha");
    EXPECT_EQ(readFile(host("\\b")), "beta");
    EXPECT_EQ(outcome([] { return RemoveDirectoryW(u"\\full2\\sub") != 0; }), kOk);
    EXPECT_FALSE(fileExists(host("\\full2\\sub")));
}

TEST_F(Files, SearchesMatchWildcardsWithoutCaseAndSkipUnspellableNames) {
    makeDirectories(host("\\box\\Sub"));
    for (const char* name : {"a.txt", "B.TXT", "c.dat", "noext", "bad\xFF.txt", "\xE6\x97\xA5.txt"})
        writeFile(host("\\box\\") + name, "bbbb");
    chmod(host("\\box\\c.dat").c_str(), 0444);
    using Names = std::vector<std::u16string>;
    const Names all{u"B.TXT", u"Sub", u"a.txt", u"c.dat", u"noext", u"\u65E5.txt"};
    EXPECT_EQ(search(u"\\box\\*"), all);
    EXPECT_EQ(search(u"/box/*.*"), all);
    EXPECT_EQ(search(u"\\box\\*.txt"), (Names{u"B.TXT", u"a.txt", u"\u65E5.txt"}));
    EXPECT_EQ(search(u"\\box\\?.*"), (Names{u"B.TXT", u"a.txt", u"c.dat", u"\u65E5.txt"}));
    EXPECT_EQ(search(u"\\box\\*e*"), (Names{u"noext"}));
    EXPECT_EQ(search(u"\\box\\sub"), (Names{u"Sub"}));
    DWORD error = 0;
    for (auto [pattern, expected] : {std::pair<LPCWSTR, DWORD>{u"\\box\\*.zip", ERROR_FILE_NOT_FOUND},
                                     {u"\\nowhere\\*", ERROR_PATH_NOT_FOUND},
                                     {u"\\box\\a.txt\\*", ERROR_PATH_NOT_FOUND}}) {
        EXPECT_TRUE(search(pattern, &error).empty());
        EXPECT_EQ(error, expected);
    }

    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"\\box\\c.dat", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(find));  // a search is closed with FindClose only
    FindClose(find);
    EXPECT_EQ(data.nFileSizeLow, 4u);
    EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(Files, TimesKeepTheirPrecisionAndDatesBefore1970) {
    writeFile(host("\\t.txt"), "x");
    HANDLE file = open(u"\\t.txt", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::uint64_t epoch = 116444736000000000ULL;
    // 2004-05-06 07:08:09.1234567 and 1999-12-31 23:59:59.9999999 UTC.
    std::uint64_t write = epoch + 1083827289ULL * 10000000ULL + 1234567;
    std::uint64_t access = epoch + 946684799ULL * 10000000ULL + 9999999;
    FILETIME writeTime{static_cast<DWORD>(write), static_cast<DWORD>(write >> 32)};
    FILETIME accessTime{static_cast<DWORD>(access), static_cast<DWORD>(access >> 32)};
    FILETIME creation{1, 0};
    ASSERT_TRUE(SetFileTime(file, &creation, &accessTime, &writeTime));
    struct stat st;
    ASSERT_EQ(stat(host("\\t.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1083827289);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_atim.tv_sec, 946684799);
    EXPECT_EQ(st.st_atim.tv_nsec, 999999900);
    // A missing time is left as it was.
    std::uint64_t early = epoch - 315619200ULL * 10000000ULL;  // 1960-01-01
    FILETIME earlyTime{static_cast<DWORD>(early), static_cast<DWORD>(early >> 32)};
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &earlyTime));
    CloseHandle(file);
    ASSERT_EQ(stat(host("\\t.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, -315619200);
    EXPECT_EQ(st.st_atim.tv_sec, 946684799);
    // The open-free form refuses what a write handle could not be got for.
    writeFile(host("\\ro"), "x");
    ASSERT_TRUE(SetFileAttributesW(u"\\ro", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(outcome([&] { return setFileLastWriteTime(u"\\ro", &writeTime) != 0; }), failed(ERROR_ACCESS_DENIED));
    EXPECT_EQ(outcome([&] { return setFileLastWriteTime(u"\\gone", &writeTime) != 0; }),
              failed(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(outcome([&] { return setFileLastWriteTime(u"\\t.txt", &writeTime) != 0; }), kOk);
    ASSERT_EQ(stat(host("\\t.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
}
