// Bytes and names of the peer-made archives (tests/fixtures/make-zip-fixtures.sh)
// are checked by the fixture manifest. Here: what needs chosen names,
// attributes and extra fields (archives written with minizip's own writer, an
// encoder other than the peers), passwords, times, the probe and damage.
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
    Entry(std::string n, std::string d, unsigned long madeBy = 0x031E, unsigned long ext = 0100644u << 16,
          std::string extra = "", unsigned long f = 0)
        : name(std::move(n)), data(std::move(d)), versionMadeBy(madeBy), external(ext), localExtra(std::move(extra)),
          flag(f) {}
    std::string name, data;
    unsigned long versionMadeBy;  // 0x03xx Unix, 0x00xx DOS
    unsigned long external;
    std::string localExtra;
    unsigned long flag;
    std::string centralExtra;
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
    bool probe(const std::string& content) {
        std::memcpy(appState.sniffBuffer, content.data(), std::min(content.size(), kSniffBufferSize));
        return handler.probe("\\in\\probed", static_cast<std::int32_t>(content.size()));
    }
    ZipHandler handler;
};
using ZipPasswords = ZipTest;
using ZipNames = ZipTest;
using ZipAttributesAndTimes = ZipTest;
using ZipData = ZipTest;

std::string le16(unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
time_t local(int y, int mo, int d, int h, int mi, int s) {
    struct tm t {};
    t.tm_year = y - 1900, t.tm_mon = mo - 1, t.tm_mday = d, t.tm_hour = h, t.tm_min = mi, t.tm_sec = s;
    t.tm_isdst = -1;
    return mktime(&t);
}

TEST_F(ZipPasswords, RightPasswordDecryptsEveryWriterAndLayout) {
    for (const char* archive : {"infozip-encrypted.zip", "7zz-zipcrypto.zip", "infozip-streamed-encrypted.zip"}) {
        ASSERT_EQ(extractFixture(archive, "secret"), 1) << archive;
        EXPECT_TRUE(sameBytes(output("hello.txt"), fixture("hello.txt"))) << archive;
    }
    EXPECT_TRUE(sameBytes(output("sub/deep/data.bin"), fixture("data.bin")));
    ASSERT_EQ(extractFixture("infozip-encrypted-stored.zip", "secret"), 1);
    EXPECT_TRUE(sameBytes(output("readonly.txt"), fixture("readonly.txt")));
}

TEST_F(ZipPasswords, WrongOrMissingPasswordFailsAndLeavesExistingFilesAlone) {
    testing_support::writeFile(host("\\out\\hello.txt"), "keep me");
    for (const char* password : {"wrong", ""}) {
        EXPECT_EQ(extractFixture("infozip-encrypted.zip", password), 0) << password;
        EXPECT_EQ(extractFixture("infozip-streamed-encrypted.zip", password), 0) << password;
        EXPECT_EQ(outputs(), std::vector<std::string>{"hello.txt"});
        EXPECT_EQ(output("hello.txt"), "keep me");
    }
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

TEST_F(ZipAttributesAndTimes, PeerTreeKeepsFoldersModesAndExactTimes) {
    ASSERT_EQ(extractFixture("infozip-deflate.zip"), 1);
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\emptydir")));
    // The "UT" block's Unix times are exact in every time zone.
    EXPECT_EQ(info("hello.txt").st_mtime, 1614834367);
    EXPECT_EQ(info("sub/deep/data.bin").st_mtime, 1577836798);
    EXPECT_EQ(info("readonly.txt").st_mtime, 1514862245);
    EXPECT_EQ(info("readonly.txt").st_mode & 0222, 0u);
    EXPECT_NE(info("hello.txt").st_mode & 0200, 0u);
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
    const time_t dos = local(2021, 3, 4, 11, 17, 54);
    EXPECT_EQ(info("hidden.txt").st_mtime, dos);
    for (const char* name : {"only.txt", "cut.txt"}) {
        EXPECT_EQ(info(name).st_mtime, static_cast<time_t>(modified)) << name;
        EXPECT_EQ(info(name).st_atime, dos) << name;
    }
    EXPECT_EQ(info("both.txt").st_atime, static_cast<time_t>(accessed));
    EXPECT_EQ(output("only.txt"), "o");
}

// DOS times are local: on the day a zone changes its offset, each side of
// the change keeps its own offset, while the items of a day without a change
// share one.
TEST_F(ZipAttributesAndTimes, DosTimesFollowTheZoneAcrossItsChangeDay) {
    const char* oldZone = std::getenv("TZ");
    const std::string savedZone = oldZone ? oldZone : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const int stamps[][6] = {{2021, 3, 27, 12, 0, 0}, {2021, 3, 28, 1, 30, 0}, {2021, 3, 28, 3, 30, 0},
                             {2021, 3, 28, 23, 59, 58}, {2021, 7, 1, 8, 0, 2}, {2021, 7, 1, 9, 0, 4}};
    std::vector<Entry> entries;
    for (int i = 0; i < 6; ++i) {
        const int* s = stamps[i];
        entries.push_back({"t" + std::to_string(i), "t", 0x0014, 0x20});
        entries.back().dosDate = static_cast<unsigned long>(((s[0] - 1980) << 25) | (s[1] << 21) | (s[2] << 16) |
                                                            (s[3] << 11) | (s[4] << 5) | (s[5] / 2));
    }
    const int extracted = extract("zone.zip", writeArchive(entries));
    for (int i = 0; i < 6; ++i) {
        const int* s = stamps[i];
        EXPECT_EQ(info("t" + std::to_string(i)).st_mtime, local(s[0], s[1], s[2], s[3], s[4], s[5])) << i;
    }
    if (oldZone) setenv("TZ", savedZone.c_str(), 1); else unsetenv("TZ");
    tzset();
    EXPECT_EQ(extracted, 1);
    EXPECT_EQ(info("t1").st_mtime + 3600, info("t2").st_mtime);
}

// Many small items around one larger than the archive reader's windows: the
// directory and the items are read from far apart, and every byte counts.
TEST_F(ZipData, ManyItemsAroundALargeOneKeepEveryByte) {
    std::vector<Entry> entries;
    std::uint32_t seed = 12345;
    for (int i = 0; i < 301; ++i) {
        std::string data(i == 150 ? 200000 : (i * 37) % 3000, '\0');
        for (std::size_t j = 0; j < data.size(); ++j) {
            seed = seed * 1103515245u + 12345u;
            data[j] = static_cast<char>(j % 4 == 0 ? (seed >> 24) : (j & 0x3F));
        }
        entries.push_back({"d" + std::to_string(i % 7) + "/f" + std::to_string(i), data});
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

TEST_F(ZipData, ProbedHeaderMustFitInsideTheSniffedBytes) {
    const std::string header = "PK\x03\x04" + std::string(4, '\0') + le16(8) + std::string(16, '\0') + le16(1) + le16(0);
    EXPECT_FALSE(probe(header));  // 30 bytes: never a ZIP archive
    EXPECT_TRUE(probe(header + "n"));
    std::string method13 = header + "n", noName = header + "n";
    method13[8] = 13;
    noName[26] = 0;
    EXPECT_FALSE(probe(method13));
    EXPECT_FALSE(probe(noName));
    EXPECT_TRUE(probe(std::string(1000, 'P') + header + "n"));
    std::string big(kSniffBufferSize + 100, 'x');
    big.replace(kSniffBufferSize - 30, 30, header);
    EXPECT_FALSE(probe(big));
    big.replace(kSniffBufferSize - 31, 30, header);
    EXPECT_TRUE(probe(big));
}

}  // namespace
