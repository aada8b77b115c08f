// The Win32-style file calls on the host: bytes, error codes that callers
// read, 64-bit positions, attributes, folders, searches, and the read-only,
// symbolic-link and FIFO rules that hold even for root.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/test_support.h"

using testing_support::fileExists;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

class Files : public testing_support::DeviceSandbox {
protected:
    static HANDLE open(LPCWSTR path, DWORD access, DWORD disposition, DWORD attributes = 0) {
        return CreateFileW(path, access, FILE_SHARE_READ, nullptr, disposition, attributes, nullptr);
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
Outcome failed(DWORD error) { return {false, error}; }

}  // namespace

TEST_F(Files, BytesPositionsAndHandleRights) {
    std::string data = testing_support::sampleData(300000, 7);
    HANDLE out = open(u"\\data.bin", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &n, nullptr));
    EXPECT_EQ(n, data.size());
    // 5 GiB + 3 is reachable only through the high part.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(out, 3, &high, FILE_BEGIN), 3u);
    ASSERT_TRUE(WriteFile(out, "Z", 1, &n, nullptr));
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(out, &sizeHigh), 4u);
    EXPECT_EQ(sizeHigh, 1u);
    ASSERT_TRUE(CloseHandle(out));
    ASSERT_EQ(truncate(host("\\data.bin").c_str(), static_cast<off_t>(data.size())), 0);

    HANDLE in = open(u"\\data.bin", GENERIC_READ, OPEN_EXISTING);
    std::string back(data.size() + 10, '\0');
    ASSERT_TRUE(ReadFile(in, &back[0], static_cast<DWORD>(back.size()), &n, nullptr));
    back.resize(n);
    EXPECT_TRUE(testing_support::sameBytes(back, data));
    EXPECT_EQ(outcome([&] { return WriteFile(in, "x", 1, &n, nullptr) != 0; }), failed(ERROR_ACCESS_DENIED));
    CloseHandle(in);
    // Replacing keeps nothing of the old content and says it existed.
    CloseHandle(open(u"\\data.bin", GENERIC_WRITE, CREATE_ALWAYS));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(readFile(host("\\data.bin")), "");
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
    EXPECT_EQ(openDeviceReadDescriptor(u"\\dir"), -1);
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

    // Reading through a link (an archive the user named) still works;
    // appending creates what is missing.
    std::FILE* stream = openDeviceStream(u"\\link", "rb");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    stream = openDeviceStream(u"\\new.txt", "ab");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_TRUE(fileExists(host("\\new.txt")));
}
