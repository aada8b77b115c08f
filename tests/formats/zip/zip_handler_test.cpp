// Bytes and names of the peer-made archives (tests/fixtures/make-zip-fixtures.sh)
// are checked by the fixture manifest. Here: what needs chosen names,
// attributes and extra fields (archives written with minizip's own writer, an
// encoder other than the peers), passwords, times and damage.
#include <sys/stat.h>
#include <zip.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "formats/zip/zip_handler.h"
#include "platform/files.h"
#include "platform/text_conversion.h"
#include "platform/win/window_system.h"
#include "tests/test_support.h"

namespace {

using testing_support::sameBytes;

struct Entry {
    std::string name, data;
    unsigned long versionMadeBy = 0x031E;  // 0x03xx Unix, 0x00xx DOS
    unsigned long external = 0100644u << 16;
    std::string localExtra{};
    unsigned long flag = 0;
    std::string centralExtra{};
    unsigned long dosDate = 0x52645A3Bu;  // 2021-03-04 11:17:54 local
};

class ZipTest : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        testing_support::makeDirectories(host("\\in"));
        testing_support::makeDirectories(host("\\out"));
        testing_support::resetRequest();
    }
    static std::string fixture(const std::string& name) {
        return testing_support::readFile(testing_support::fixturePath("zip/" + name));
    }
    int extract(const std::string& name, const std::string& content, const char* password = "") {
        testing_support::writeFile(host("\\in\\" + name), content);
        std::strncpy(appState.password, password, sizeof appState.password - 1);
        return handler.extract(("\\in\\" + name).c_str(), "\\out");
    }
    int extractFixture(const std::string& name, const char* password = "") {
        return extract(name, fixture(name), password);
    }
    std::string output(const std::string& name) const { return testing_support::readFile(host("\\out\\" + name)); }
    std::vector<std::string> outputs() const { return testing_support::listFiles(host("\\out")); }
    struct stat info(const std::string& name) const {
        struct stat st {};
        EXPECT_EQ(::stat(host("\\out\\" + name).c_str(), &st), 0) << name;
        return st;
    }
    std::string writeArchive(const std::vector<Entry>& entries) {
        const std::string path = root() + "/written.zip";
        zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
        for (const Entry& e : entries) {
            zip_fileinfo fileInfo{};
            fileInfo.dosDate = e.dosDate;
            fileInfo.external_fa = e.external;
            EXPECT_EQ(zipOpenNewFileInZip4_64(zip, e.name.c_str(), &fileInfo, e.localExtra.data(),
                                              static_cast<uInt>(e.localExtra.size()),
                                              e.centralExtra.empty() ? nullptr : e.centralExtra.data(),
                                              static_cast<uInt>(e.centralExtra.size()), nullptr, Z_DEFLATED, 6, 0,
                                              -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, e.versionMadeBy, e.flag, 0),
                      ZIP_OK);
            EXPECT_EQ(zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())), ZIP_OK);
            zipCloseFileInZip(zip);
        }
        zipClose(zip, nullptr);
        return testing_support::readFile(path);
    }
    ZipHandler handler;
};
using ZipPasswords = ZipTest;
using ZipNames = ZipTest;
using ZipAttributesAndTimes = ZipTest;
using ZipData = ZipTest;

std::string le16(unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// Every writer and layout decrypts with the right password; a wrong or
// missing one fails and leaves an existing file alone.
TEST_F(ZipPasswords, OnlyTheRightPasswordDecrypts) {
    for (const char* archive : {"infozip-encrypted.zip", "7zz-zipcrypto.zip", "infozip-streamed-encrypted.zip"}) {
        ASSERT_EQ(extractFixture(archive, "secret"), 1) << archive;
        EXPECT_TRUE(sameBytes(output("hello.txt"), fixture("hello.txt"))) << archive;
        testing_support::writeFile(host("\\out\\hello.txt"), "keep me");
        for (const char* password : {"wrong", ""}) EXPECT_EQ(extractFixture(archive, password), 0) << password;
        EXPECT_EQ(output("hello.txt"), "keep me") << archive;
        EXPECT_TRUE(sameBytes(output("sub/deep/data.bin"), fixture("data.bin"))) << archive;
    }
    ASSERT_EQ(extractFixture("infozip-encrypted-stored.zip", "secret"), 1);
    EXPECT_TRUE(sameBytes(output("readonly.txt"), fixture("readonly.txt")));
}

// The ZIP rules drop everything up to a separator-dot-dot-separator; the
// encodings: flagged UTF-8 (also beyond code page 932), Unix-made raw UTF-8,
// a current Unicode path block (a stale one is ignored), code page 932 whose
// second byte is a backslash, and UTF-8-flagged bytes that are no UTF-8.
TEST_F(ZipNames, EveryEncodingDecodes) {
    const std::string blockName = "\xE6\x97\xA5.txt";
    const auto unicodePath = [](const std::string& name, std::uint32_t crc) {
        return "up" + le16(static_cast<unsigned>(5 + name.size())) + "\x01" + le32(crc) + name;
    };
    std::vector<Entry> entries = {
        {"C:\\dir\\..\\x.txt", "x"}, {"a/b/../c.txt", "c"}, {"d/e/", "", 0x031E, 040755u << 16},
        {"caf\xC3\xA9.txt", "utf8", 0x0014, 0x20, "", 0x800}, {"\xE8\xA1\xA8\xE3\x82\xBD.txt", "unix"},
        {"current.txt", "block", 0x0014, 0x20}, {"stale.txt", "kept", 0x0014, 0x20},
        {"\x95\x5C/in.txt", "sjis", 0x0014, 0x20}, {"\x83\x65\xFF.txt", "bad utf8", 0x0014, 0x20, "", 0x800},
    };
    entries[5].centralExtra = unicodePath(blockName, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("current.txt"), 11)));
    entries[6].centralExtra = unicodePath("new.txt", 0x12345678u);
    ASSERT_EQ(extract("names.zip", writeArchive(entries)), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"c.txt", "caf\xC3\xA9.txt", "stale.txt", "x.txt",
                                                   "\xE3\x83\x86\xEF\xBF\xBD" "FF.txt", "\xE6\x97\xA5.txt",
                                                   "\xE8\xA1\xA8/in.txt", "\xE8\xA1\xA8\xE3\x82\xBD.txt"}));
    EXPECT_EQ(output("x.txt") + output("c.txt") + output("\xE6\x97\xA5.txt") + output("\xE8\xA1\xA8/in.txt"),
              "xcblocksjis");
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\d\\e")));
}

TEST_F(ZipAttributesAndTimes, DosHostBitsAndUtBlockBounds) {
    const std::uint32_t modified = 1600000000u, accessed = 1500000000u;
    // Flags promise three times; the field ends inside the second.
    const std::string cutShort = "UT" + le16(13) + "\x07" + le32(modified) + le32(accessed).substr(0, 2);
    const std::vector<Entry> entries = {
        {"hidden.txt", "h", 0x0014, 0x22}, {"dosro.txt", "r", 0x0014, 0x21},
        {"only.txt", "o", 0x031E, 0100644u << 16, "UT" + le16(5) + "\x01" + le32(modified)},
        {"cut.txt", "c", 0x031E, 0100644u << 16, cutShort},
        {"both.txt", "b", 0x031E, 0100644u << 16, "UT" + le16(9) + "\x03" + le32(modified) + le32(accessed)},
        {"nomode.txt", "n", 0x031E, 0},
    };
    ASSERT_EQ(extract("attrs.zip", writeArchive(entries)), 1);
    EXPECT_EQ(GetFileAttributesW(u"\\out\\hidden.txt") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(info("dosro.txt").st_mode & 0222, 0u);
    EXPECT_NE(info("nomode.txt").st_mode & 0200, 0u);
    struct tm local {};  // the DOS time is local time
    local.tm_year = 121, local.tm_mon = 2, local.tm_mday = 4, local.tm_hour = 11, local.tm_min = 17, local.tm_sec = 54;
    local.tm_isdst = -1;
    const time_t dos = mktime(&local);
    EXPECT_EQ(info("hidden.txt").st_mtime, dos);
    for (const char* name : {"only.txt", "cut.txt"}) {
        EXPECT_EQ(info(name).st_mtime, static_cast<time_t>(modified)) << name;
        EXPECT_EQ(info(name).st_atime, dos) << name;
    }
    EXPECT_EQ(info("both.txt").st_atime, static_cast<time_t>(accessed));
    EXPECT_EQ(output("only.txt"), "o");
}

// Items around one larger than the reader's buffers keep every byte (the
// CRC of a piece that ends a buffer included).
TEST_F(ZipData, ManyItemsAroundALargeOneKeepEveryByte) {
    std::vector<Entry> entries;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 301; ++i) {
        std::string data(i == 150 ? 200000 : (i * 37) % 3000, '\0');
        for (std::size_t j = 0; j < data.size(); ++j) {
            seed = seed * 1103515245u + 12345u;
            data[j] = static_cast<char>(j % 4 == 0 ? (seed >> 24) : (j & 0x3F));
        }
        Entry entry;
        entry.name = "d" + std::to_string(i % 7) + "/f" + std::to_string(i);
        entry.data = data;
        entries.push_back(entry);
    }
    ASSERT_EQ(extract("many.zip", writeArchive(entries)), 1);
    EXPECT_EQ(outputs().size(), 301u);
    for (const Entry& e : entries) EXPECT_TRUE(sameBytes(output(e.name), e.data)) << e.name;
}

// Damage the ZIP layer must notice itself: data, a local header that no
// longer agrees with its central entry, a stored item whose bytes fail
// their CRC. The other items still come out whole.
TEST_F(ZipData, DamagedItemsFailAndTheOthersComeOutWhole) {
    const std::string good = fixture("infozip-deflate.zip");
    const auto field16 = [&](std::size_t at) { return static_cast<unsigned char>(good[at]) | (static_cast<unsigned char>(good[at + 1]) << 8); };
    std::string badData = good, badCrc = good, badLocal = good, stored = fixture("infozip-stored.zip");
    badData[30 + field16(26) + field16(28) + 40] ^= 0x55;
    badCrc[14] ^= 1;
    badLocal[0] = 'X';
    stored[stored.find("line 200 of") + 5] = 'X';
    for (const std::string& archive : {badData, badCrc, badLocal, stored}) EXPECT_EQ(extract("bad.zip", archive), 0);
    EXPECT_TRUE(sameBytes(output("sub/deep/data.bin"), fixture("data.bin")));
}

}  // namespace
