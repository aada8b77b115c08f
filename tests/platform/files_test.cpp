// Open files: CreateFileW and its handle calls, the stdio opener, and the
// read-only and symbolic-link rules that hold even for root.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>

#include "platform/files.h"
#include "platform/text_conversion.h"
#include "tests/test_support.h"

using testing_support::readFile;
using testing_support::sampleData;
using testing_support::writeFile;

namespace {

std::u16string wide(const std::string& utf8) {
    std::u16string out;
    EXPECT_TRUE(utf8ToUtf16(utf8, out));
    return out;
}

class Files : public testing_support::DeviceSandbox {
protected:
    HANDLE open(const std::string& devicePath, DWORD access, DWORD disposition) {
        return CreateFileW(wide(devicePath).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    }

    void makeReadOnly(const std::string& devicePath) {
        ASSERT_TRUE(SetFileAttributesW(wide(devicePath).c_str(), FILE_ATTRIBUTE_READONLY));
    }

    static std::uint64_t ticks(const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    }
    static FILETIME fileTime(std::uint64_t value) {
        return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
    }
};

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;

}  // namespace

TEST_F(Files, WrittenBytesReadBackExactly) {
    std::string data = sampleData(300000, 7);
    HANDLE out = open("\\data.bin", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr));
    EXPECT_EQ(written, data.size());
    ASSERT_TRUE(CloseHandle(out));
    EXPECT_EQ(readFile(host("\\data.bin")), data);

    HANDLE in = open("\\data.bin", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(in, INVALID_HANDLE_VALUE);
    DWORD high = 99;
    EXPECT_EQ(GetFileSize(in, &high), data.size());
    EXPECT_EQ(high, 0u);
    std::string back(data.size() + 10, '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(in, &back[0], static_cast<DWORD>(back.size()), &got, nullptr));
    EXPECT_EQ(got, data.size());
    back.resize(got);
    EXPECT_EQ(back, data);
    // At the end a read succeeds with nothing.
    ASSERT_TRUE(ReadFile(in, &back[0], 10, &got, nullptr));
    EXPECT_EQ(got, 0u);
    // A read handle does not write.
    SetLastError(0);
    EXPECT_FALSE(WriteFile(in, "x", 1, &written, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(in);
}

TEST_F(Files, DispositionsKeepOrReplaceAsAsked) {
    writeFile(host("\\f.txt"), "original");
    SetLastError(0);
    EXPECT_EQ(open("\\f.txt", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    EXPECT_EQ(readFile(host("\\f.txt")), "original");

    HANDLE kept = open("\\f.txt", GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(kept, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(kept);
    EXPECT_EQ(readFile(host("\\f.txt")), "original");

    HANDLE replaced = open("\\f.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(replaced, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    DWORD written;
    WriteFile(replaced, "new", 3, &written, nullptr);
    CloseHandle(replaced);
    EXPECT_EQ(readFile(host("\\f.txt")), "new");

    HANDLE fresh = open("\\g.txt", GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(fresh);

    HANDLE truncated = open("\\f.txt", GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(truncated, INVALID_HANDLE_VALUE);
    CloseHandle(truncated);
    EXPECT_EQ(readFile(host("\\f.txt")), "");
}

TEST_F(Files, MissingFileAndMissingFolderAreToldApart) {
    SetLastError(0);
    EXPECT_EQ(open("\\nothing.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(open("\\no folder\\x.txt", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(open("\\no folder\\x.txt", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(openDeviceStream(u"\\nothing.txt", "rb"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(Files, FoldersCannotBeOpenedAsFiles) {
    testing_support::makeDirectories(host("\\dir"));
    SetLastError(0);
    EXPECT_EQ(open("\\dir", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openDeviceStream(u"\\dir", "rb"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openDeviceReadDescriptor(u"\\dir"), -1);
    EXPECT_EQ(openDeviceStream(u"\\dir", "wb"), nullptr);
    EXPECT_TRUE(testing_support::isDirectory(host("\\dir")));
}

TEST_F(Files, FilePointerUsesSixtyFourBitPositions) {
    HANDLE file = open("\\sparse.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // 5 GiB + 3: only reachable through the high part.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, 0x40000003, &high, FILE_BEGIN), 0x40000003u);
    EXPECT_EQ(high, 1);
    DWORD written;
    ASSERT_TRUE(WriteFile(file, "Z", 1, &written, nullptr));
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(file, &sizeHigh), 0x40000004u);
    EXPECT_EQ(sizeHigh, 1u);

    // Without a high part, a position beyond 32 bits is refused and the
    // position stays where it was.
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);

    high = 0;
    EXPECT_EQ(SetFilePointer(file, 10, &high, FILE_BEGIN), 10u);
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, -11, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
    EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_CURRENT), 6u);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    LONG back = -1;  // -1 as a 64-bit distance from the end
    EXPECT_EQ(SetFilePointer(file, -1, &back, FILE_END), 0x40000003u);
    char byte = 0;
    DWORD got;
    ASSERT_TRUE(ReadFile(file, &byte, 1, &got, nullptr));
    EXPECT_EQ(got, 1u);
    EXPECT_EQ(byte, 'Z');
    CloseHandle(file);
}

TEST_F(Files, HandlesAreCheckedBeforeUse) {
    HANDLE file = open("\\h.txt", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    DWORD n;
    EXPECT_FALSE(WriteFile(file, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));

    // A search is closed with FindClose only, and only once.
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(u"\\*", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(CloseHandle(find));
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    EXPECT_FALSE(FindNextFileW(find, &data));
}

TEST_F(Files, ReadOnlyFileRefusesEveryWriteEvenForRoot) {
    writeFile(host("\\ro.txt"), "keep me");
    makeReadOnly("\\ro.txt");
    struct stat st;
    ASSERT_EQ(stat(host("\\ro.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);

    for (DWORD disposition : {OPEN_EXISTING, CREATE_ALWAYS, OPEN_ALWAYS, TRUNCATE_EXISTING}) {
        SetLastError(0);
        EXPECT_EQ(open("\\ro.txt", GENERIC_WRITE, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << disposition;
    }
    for (const char* mode : {"wb", "w", "ab", "r+b"}) {
        SetLastError(0);
        EXPECT_EQ(openDeviceStream(u"\\ro.txt", mode), nullptr) << mode;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << mode;
    }
    EXPECT_EQ(readFile(host("\\ro.txt")), "keep me");

    // Reading is fine, but a read handle cannot change the file's time.
    std::FILE* stream = openDeviceStream(u"\\ro.txt", "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    HANDLE reader = open("\\ro.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    FILETIME when = fileTime(kUnixEpochTicks);
    SetLastError(0);
    EXPECT_FALSE(SetFileTime(reader, nullptr, nullptr, &when));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(reader);
    struct stat after;
    ASSERT_EQ(stat(host("\\ro.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, st.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, st.st_mtim.tv_nsec);

    // Clearing the bit gives the owner write permission back.
    ASSERT_TRUE(SetFileAttributesW(u"\\ro.txt", FILE_ATTRIBUTE_NORMAL));
    std::FILE* writer = openDeviceStream(u"\\ro.txt", "wb");
    ASSERT_NE(writer, nullptr);
    std::fputs("changed", writer);
    std::fclose(writer);
    EXPECT_EQ(readFile(host("\\ro.txt")), "changed");
}

TEST_F(Files, NewFileMayBeCreatedReadOnlyAndStillWrittenThroughItsHandle) {
    HANDLE file = CreateFileW(u"\\made-ro.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    CloseHandle(file);
    EXPECT_EQ(readFile(host("\\made-ro.txt")), "abc");
    EXPECT_EQ(GetFileAttributesW(u"\\made-ro.txt"),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(Files, PlantedSymbolicLinkIsNeverWrittenThrough) {
    std::string outside = root() + "/outside.txt";
    writeFile(outside, "secret");
    testing_support::makeDirectories(host("\\dest"));
    ASSERT_EQ(symlink(outside.c_str(), host("\\dest\\link").c_str()), 0);

    for (const char* mode : {"wb", "w", "ab"}) {
        SetLastError(0);
        EXPECT_EQ(openDeviceStream(u"\\dest\\link", mode), nullptr) << mode;
        EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << mode;
    }
    for (DWORD disposition : {CREATE_ALWAYS, OPEN_ALWAYS, OPEN_EXISTING}) {
        EXPECT_EQ(open("\\dest\\link", GENERIC_WRITE, disposition), INVALID_HANDLE_VALUE);
    }
    EXPECT_EQ(readFile(outside), "secret");
    struct stat st;
    ASSERT_EQ(lstat(host("\\dest\\link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A dangling link does not get its target created either.
    std::string target = root() + "/created-through-link";
    ASSERT_EQ(symlink(target.c_str(), host("\\dest\\dangling").c_str()), 0);
    EXPECT_EQ(openDeviceStream(u"\\dest\\dangling", "wb"), nullptr);
    EXPECT_EQ(open("\\dest\\dangling", GENERIC_WRITE, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(testing_support::fileExists(target));

    // Reading through a link (an archive the user named) still works.
    std::FILE* stream = openDeviceStream(u"\\dest\\link", "rb");
    ASSERT_NE(stream, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, stream), 6u);
    std::fclose(stream);
    EXPECT_EQ(std::string(buffer), "secret");
}

TEST_F(Files, FifoIsRefusedForWritingWithoutWaiting) {
    ASSERT_EQ(mkfifo(host("\\pipe").c_str(), 0644), 0);
    auto attempt = std::async(std::launch::async, [] {
        std::FILE* stream = openDeviceStream(u"\\pipe", "wb");
        bool opened = stream != nullptr;
        if (stream) std::fclose(stream);
        return opened;
    });
    ASSERT_EQ(attempt.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(attempt.get());
}

TEST_F(Files, StreamModesCreateAppendAndReplace) {
    std::FILE* stream = openDeviceStream(u"\\s.txt", "w");
    ASSERT_NE(stream, nullptr);
    std::fputs("one", stream);
    std::fclose(stream);
    stream = openDeviceStream(u"\\s.txt", "ab");
    ASSERT_NE(stream, nullptr);
    std::fputs("two", stream);
    std::fclose(stream);
    EXPECT_EQ(readFile(host("\\s.txt")), "onetwo");
    stream = openDeviceStream(u"\\s.txt", "wb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_EQ(readFile(host("\\s.txt")), "");
    SetLastError(0);
    EXPECT_EQ(openDeviceStream(u"\\s.txt", "x"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    writeFile(host("\\d.bin"), "descriptor");
    int fd = openDeviceReadDescriptor(u"\\d.bin");
    ASSERT_GE(fd, 0);
    char buffer[16] = {};
    EXPECT_EQ(read(fd, buffer, sizeof buffer), 10);
    EXPECT_EQ(std::string(buffer), "descriptor");
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
}

TEST_F(Files, NonAsciiNamesAreUtf8OnTheHost) {
    std::FILE* stream = openDeviceStream(u"\\\u65E5\u672C\u30BD.txt", "wb");
    ASSERT_NE(stream, nullptr);
    std::fputs("jp", stream);
    std::fclose(stream);
    EXPECT_EQ(readFile(root() + "/\xE6\x97\xA5\xE6\x9C\xAC\xE3\x82\xBD.txt"), "jp");
}

TEST_F(Files, TimesKeepNanosecondPrecisionBothWays) {
    writeFile(host("\\t.txt"), "x");
    HANDLE file = open("\\t.txt", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    // 2004-05-06 07:08:09.1234567 UTC and 1999-12-31 23:59:59.9999999 UTC.
    std::uint64_t write = kUnixEpochTicks + 1083827289ULL * 10000000ULL + 1234567;
    std::uint64_t access = kUnixEpochTicks + 946684799ULL * 10000000ULL + 9999999;
    FILETIME writeTime = fileTime(write);
    FILETIME accessTime = fileTime(access);
    FILETIME creation = fileTime(1);
    ASSERT_TRUE(SetFileTime(file, &creation, &accessTime, &writeTime));
    struct stat st;
    ASSERT_EQ(stat(host("\\t.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1083827289);
    EXPECT_EQ(st.st_mtim.tv_nsec, 123456700);
    EXPECT_EQ(st.st_atim.tv_sec, 946684799);
    EXPECT_EQ(st.st_atim.tv_nsec, 999999900);

    FILETIME readWrite;
    FILETIME readAccess;
    ASSERT_TRUE(GetFileTime(file, nullptr, &readAccess, &readWrite));
    EXPECT_EQ(ticks(readWrite), write);
    EXPECT_EQ(ticks(readAccess), access);

    // A missing time is left as it was; a time before 1970 is kept too.
    std::uint64_t early = kUnixEpochTicks - 315619200ULL * 10000000ULL;  // 1960-01-01
    FILETIME earlyTime = fileTime(early);
    ASSERT_TRUE(SetFileTime(file, nullptr, nullptr, &earlyTime));
    ASSERT_TRUE(GetFileTime(file, nullptr, &readAccess, &readWrite));
    EXPECT_EQ(ticks(readWrite), early);
    EXPECT_EQ(ticks(readAccess), access);
    CloseHandle(file);
}
