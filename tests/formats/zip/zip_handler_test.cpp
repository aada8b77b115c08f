// Fixtures: tests/fixtures/make-zip-fixtures.sh (Info-ZIP zip, 7zz, bsdtar).
// Archives with chosen names, attributes and extra fields are written here
// with minizip's own writer, an encoder other than those tools.
#include <sys/stat.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "formats/zip/zip_handler.h"
#include "formats/zip/zip_reader.h"
#include "platform/files.h"
#include "platform/text_conversion.h"
#include "platform/win/headless.h"
#include "platform/win/window_system.h"
#include "tests/test_support.h"

namespace {

using testing_support::sameBytes;

struct Entry {
    Entry(std::string entryName, std::string entryData, unsigned long madeBy = 0x031E,
          unsigned long externalAttributes = 0100644u << 16, std::string extra = std::string(), unsigned long flag = 0)
        : name(std::move(entryName)), data(std::move(entryData)), versionMadeBy(madeBy),
          external(externalAttributes), localExtra(std::move(extra)), flagBase(flag) {}
    std::string name;
    std::string data;
    unsigned long versionMadeBy;  // 0x03xx Unix, 0x00xx DOS
    unsigned long external;
    std::string localExtra;
    unsigned long flagBase;
    unsigned long dosDate = 0x52645A3Bu;  // 2021-03-04 11:17:54 local
    std::string centralExtra;
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
    std::string place(const std::string& name, const std::string& content) {
        testing_support::writeFile(host("\\in\\" + name), content);
        return "\\in\\" + name;
    }
    int extract(const std::string& devicePath, const char* password = "") {
        std::strncpy(appState.password, password, sizeof appState.password - 1);
        return handler.extract(devicePath.c_str(), "\\out");
    }
    int extractFixture(const std::string& name, const char* password = "") {
        return extract(place(name, fixture(name)), password);
    }
    std::string output(const std::string& name) const { return testing_support::readFile(host("\\out\\" + name)); }
    std::vector<std::string> outputs() const { return testing_support::listFiles(host("\\out")); }
    struct stat info(const std::string& name) const {
        struct stat st {};
        EXPECT_EQ(::stat(host("\\out\\" + name).c_str(), &st), 0) << name;
        return st;
    }
    // An archive written by minizip's zip writer, read back as bytes.
    std::string writeArchive(const std::vector<Entry>& entries) {
        const std::string path = root() + "/written.zip";
        zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
        EXPECT_NE(zip, nullptr);
        for (const Entry& entry : entries) {
            zip_fileinfo fileInfo{};
            fileInfo.dosDate = entry.dosDate;
            fileInfo.external_fa = entry.external;
            EXPECT_EQ(zipOpenNewFileInZip4_64(zip, entry.name.c_str(), &fileInfo, entry.localExtra.data(),
                                              static_cast<uInt>(entry.localExtra.size()),
                                              entry.centralExtra.empty() ? nullptr : entry.centralExtra.data(),
                                              static_cast<uInt>(entry.centralExtra.size()), nullptr,
                                              Z_DEFLATED, 6, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                              entry.versionMadeBy, entry.flagBase, 0),
                      ZIP_OK);
            EXPECT_EQ(zipWriteInFileInZip(zip, entry.data.data(), static_cast<unsigned>(entry.data.size())), ZIP_OK);
            zipCloseFileInZip(zip);
        }
        zipClose(zip, nullptr);
        const std::string bytes = testing_support::readFile(path);
        std::remove(path.c_str());
        return bytes;
    }
    bool probe(const std::string& content) {
        std::memcpy(appState.sniffBuffer, content.data(), std::min(content.size(), kSniffBufferSize));
        return handler.probe("\\in\\probed", static_cast<std::int32_t>(content.size()));
    }
    ZipHandler handler;
};
using ZipPeerArchives = ZipTest;
using ZipPasswords = ZipTest;
using ZipNames = ZipTest;
using ZipAttributesAndTimes = ZipTest;
using ZipFailures = ZipTest;
using ZipProbe = ZipTest;

time_t utc(int year, int month, int day, int hour, int minute, int second) {
    struct tm fields {};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return timegm(&fields);
}

std::string le16(unsigned v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// Bytes and names of every peer-made archive: tests/fixtures/zip/manifest.tsv.
TEST_F(ZipPeerArchives, InfoZipTreeKeepsFoldersModesAndExactTimes) {
    ASSERT_EQ(extractFixture("infozip-deflate.zip"), 1);
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\emptydir")));
    // The "UT" block's Unix times are exact in every time zone.
    EXPECT_EQ(info("hello.txt").st_mtime, utc(2021, 3, 4, 5, 6, 7));
    EXPECT_EQ(info("sub/deep/data.bin").st_mtime, utc(2019, 12, 31, 23, 59, 58));
    EXPECT_EQ(info("empty.txt").st_mtime, utc(2020, 6, 15, 12, 0, 0));
    EXPECT_EQ(info("readonly.txt").st_mtime, utc(2018, 1, 2, 3, 4, 5));
    EXPECT_EQ(info("readonly.txt").st_mode & 0222, 0u);
    EXPECT_NE(info("hello.txt").st_mode & 0200, 0u);
}

// The status line hears of every member written while a request runs.
TEST_F(ZipPeerArchives, EveryMemberIsReportedToTheProgressDisplay) {
    headless::install();
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const int extracted = extractFixture("infozip-deflate.zip");
    const std::vector<std::u16string> seen = headless::progressSeen();
    SetCursor(nullptr);
    headless::uninstall();
    EXPECT_EQ(extracted, 1);
    EXPECT_EQ(seen, (std::vector<std::u16string>{u"\\out\\hello.txt", u"\\out\\sub\\deep\\data.bin",
                                                 u"\\out\\empty.txt", u"\\out\\readonly.txt"}));
}

TEST_F(ZipPasswords, RightPasswordDecryptsEveryWriterAndLayout) {
    for (const char* archive : {"infozip-encrypted.zip", "7zz-zipcrypto.zip", "infozip-streamed-encrypted.zip"}) {
        SCOPED_TRACE(archive);
        ASSERT_EQ(extractFixture(archive, "secret"), 1);
        EXPECT_TRUE(sameBytes(output("hello.txt"), fixture("hello.txt")));
    }
    EXPECT_TRUE(sameBytes(output("sub/deep/data.bin"), fixture("data.bin")));
    ASSERT_EQ(extractFixture("infozip-encrypted-stored.zip", "secret"), 1);
    EXPECT_TRUE(sameBytes(output("readonly.txt"), fixture("readonly.txt")));
}

TEST_F(ZipPasswords, WrongOrMissingPasswordFailsAndLeavesExistingFilesAlone) {
    testing_support::writeFile(host("\\out\\hello.txt"), "keep me");
    for (const char* password : {"wrong", ""}) {
        SCOPED_TRACE(password);
        EXPECT_EQ(extractFixture("infozip-encrypted.zip", password), 0);
        EXPECT_EQ(extractFixture("infozip-streamed-encrypted.zip", password), 0);
        EXPECT_EQ(outputs(), std::vector<std::string>{"hello.txt"});
        EXPECT_EQ(output("hello.txt"), "keep me");
    }
}

TEST_F(ZipNames, HostileNamesStayInsideTheDestination) {
    const std::vector<Entry> entries = {
        {"C:\\dir\\..\\x.txt", "x"},   {"/abs/name", "abs"},        {"../../up.txt", "up"},
        {"a\\..\\..\\y.txt", "y"},     {"a/b/../c.txt", "c"},       {"d/e/", "", 0x031E, 040755u << 16},
        {std::string(300, 'n'), "long"}, {"ok.txt", "still written"},
    };
    ASSERT_EQ(extract(place("names.zip", writeArchive(entries))), 0);  // the long name fails
    EXPECT_EQ(outputs(), (std::vector<std::string>{"abs/name", "c.txt", "ok.txt", "up.txt", "x.txt", "y.txt"}));
    EXPECT_EQ(output("abs/name"), "abs");
    EXPECT_EQ(output("up.txt"), "up");
    EXPECT_EQ(output("y.txt"), "y");
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\d\\e")));
    // Nothing outside \out but the archive itself.
    EXPECT_EQ(testing_support::listFiles(root()).size(), outputs().size() + 1);
}

TEST_F(ZipNames, ShiftJisNamesKeepTheirSecondByteAndFlaggedUtfEightIsDecoded) {
    // 0x95 0x5C is one character whose second byte is a backslash.
    const std::vector<Entry> entries = {{"\x95\x5C/in.txt", "sjis"},
                                        {"\xE6\x97\xA5.txt", "utf8", 0x031E, 0100644u << 16, "", 0x800}};
    ASSERT_EQ(extract(place("sjis.zip", writeArchive(entries))), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"\xE6\x97\xA5.txt", "\xE8\xA1\xA8/in.txt"}));
}

TEST_F(ZipNames, UnixNamesInUtfEightAndUnicodePathBlocks) {
    // Archivers on Unix store the name's raw UTF-8 bytes without the flag.
    Entry unixName{"\xE8\xA1\xA8\xE3\x82\xBD.txt", "unix"};
    // A Unicode path block names the file in UTF-8 while its CRC still
    // matches the stored name; a stale block is ignored.
    const std::string utf8Name = "\xE6\x97\xA5.txt";
    Entry current{"current.txt", "block", 0x0014, 0x20};
    current.centralExtra = "up" + le16(static_cast<std::uint16_t>(5 + utf8Name.size())) + "\x01" +
                           le32(static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>("current.txt"), 11))) +
                           utf8Name;
    Entry stale{"stale.txt", "kept", 0x0014, 0x20};
    stale.centralExtra = "up" + le16(static_cast<std::uint16_t>(5 + 7)) + "\x01" + le32(0x12345678u) + "new.txt";
    ASSERT_EQ(extract(place("names.zip", writeArchive({unixName, current, stale}))), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"stale.txt", "\xE6\x97\xA5.txt", "\xE8\xA1\xA8\xE3\x82\xBD.txt"}));
    EXPECT_EQ(output("\xE6\x97\xA5.txt"), "block");
}

TEST_F(ZipAttributesAndTimes, DosHostBitsAndUtBlockBounds) {
    const std::uint32_t modified = 1600000000u;
    const std::uint32_t accessed = 1500000000u;
    const std::string onlyModified = "UT" + le16(5) + "\x01" + le32(modified);
    // Flags promise three times; the field ends inside the second.
    const std::string cutShort = "UT" + le16(13) + "\x07" + le32(modified) + le32(accessed).substr(0, 2);
    const std::string both = "UT" + le16(9) + "\x03" + le32(modified) + le32(accessed);
    const std::vector<Entry> entries = {
        {"hidden.txt", "h", 0x0014, 0x22},  {"dosro.txt", "r", 0x0014, 0x21},
        {"only.txt", "o", 0x031E, 0100644u << 16, onlyModified},
        {"cut.txt", "c", 0x031E, 0100644u << 16, cutShort},
        {"both.txt", "b", 0x031E, 0100644u << 16, both},
        {"nomode.txt", "n", 0x031E, 0},
    };
    ASSERT_EQ(extract(place("attrs.zip", writeArchive(entries))), 1);
    WCHAR path[MAX_PATH];
    ASSERT_GT(MultiByteToWideChar(CP_ACP, 0, "\\out\\hidden.txt", -1, path, MAX_PATH), 0);
    EXPECT_EQ(GetFileAttributesW(path) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(info("dosro.txt").st_mode & 0222, 0u);
    EXPECT_NE(info("nomode.txt").st_mode & 0200, 0u);

    struct tm local {};  // the DOS time 2021-03-04 11:17:54 is local time
    local.tm_year = 121, local.tm_mon = 2, local.tm_mday = 4, local.tm_hour = 11, local.tm_min = 17;
    local.tm_sec = 54, local.tm_isdst = -1;
    const time_t dos = mktime(&local);
    EXPECT_EQ(info("hidden.txt").st_mtime, dos);
    EXPECT_EQ(info("only.txt").st_mtime, static_cast<time_t>(modified));
    EXPECT_EQ(info("only.txt").st_atime, dos);
    EXPECT_EQ(info("cut.txt").st_mtime, static_cast<time_t>(modified));
    EXPECT_EQ(info("cut.txt").st_atime, dos);
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
    const auto dosOf = [](int year, int month, int day, int hour, int minute, int second) {
        return static_cast<unsigned long>(((year - 1980) << 25) | (month << 21) | (day << 16) | (hour << 11) |
                                          (minute << 5) | (second / 2));
    };
    const int stamps[][6] = {{2021, 3, 27, 12, 0, 0}, {2021, 3, 28, 1, 30, 0}, {2021, 3, 28, 3, 30, 0},
                             {2021, 3, 28, 23, 59, 58}, {2021, 7, 1, 8, 0, 2}, {2021, 7, 1, 9, 0, 4}};
    std::vector<Entry> entries;
    for (int i = 0; i < 6; ++i) {
        Entry entry("t" + std::to_string(i) + ".txt", std::string(1, 'a' + i), 0x0014, 0x20);
        entry.dosDate = dosOf(stamps[i][0], stamps[i][1], stamps[i][2], stamps[i][3], stamps[i][4], stamps[i][5]);
        entries.push_back(entry);
    }
    const int extracted = extract(place("zone.zip", writeArchive(entries)));
    for (int i = 0; i < 6; ++i) {
        struct tm local {};
        local.tm_year = stamps[i][0] - 1900, local.tm_mon = stamps[i][1] - 1, local.tm_mday = stamps[i][2];
        local.tm_hour = stamps[i][3], local.tm_min = stamps[i][4], local.tm_sec = stamps[i][5], local.tm_isdst = -1;
        EXPECT_EQ(info("t" + std::to_string(i) + ".txt").st_mtime, mktime(&local)) << i;
    }
    if (oldZone) setenv("TZ", savedZone.c_str(), 1); else unsetenv("TZ");
    tzset();
    EXPECT_EQ(extracted, 1);
    EXPECT_EQ(info("t1.txt").st_mtime + 3600, info("t2.txt").st_mtime);
}

// Many small items around one larger than the archive reader's windows: the
// directory and the items are read from far apart, and every byte counts.
TEST_F(ZipPeerArchives, ManyItemsAroundALargeOneKeepEveryByte) {
    std::vector<Entry> entries;
    std::string expected[301];
    std::uint32_t seed = 12345;
    for (int i = 0; i < 301; ++i) {
        const std::size_t size = i == 150 ? 200000 : (i * 37) % 3000;
        std::string data(size, '\0');
        for (std::size_t j = 0; j < size; ++j) {
            seed = seed * 1103515245u + 12345u;
            data[j] = static_cast<char>(j % 4 == 0 ? (seed >> 24) : (j & 0x3F));
        }
        expected[i] = data;
        entries.emplace_back("d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".bin", data);
    }
    ASSERT_EQ(extract(place("many.zip", writeArchive(entries))), 1);
    EXPECT_EQ(outputs().size(), 301u);
    for (int i = 0; i < 301; ++i) {
        EXPECT_TRUE(sameBytes(output("d" + std::to_string(i % 7) + "/f" + std::to_string(i) + ".bin"), expected[i]))
            << i;
    }
}

TEST_F(ZipFailures, DamagedAndTruncatedArchivesFailWithoutCrashing) {
    const std::string good = fixture("infozip-deflate.zip");
    std::string badData = good, badCrc = good, badLocal = good;
    const auto field16 = [&](std::size_t at) { return static_cast<std::size_t>(static_cast<unsigned char>(good[at]) | (static_cast<unsigned char>(good[at + 1]) << 8)); };
    const std::size_t dataStart = 30 + field16(26) + field16(28);  // the first item's data
    badData[dataStart + 40] ^= 0x55;
    badCrc[14] ^= 1;   // the local CRC no longer agrees with the central one
    badLocal[0] = 'X';  // the first local header's signature
    EXPECT_EQ(extract(place("data.zip", badData)), 0);
    EXPECT_EQ(extract(place("crc.zip", badCrc)), 0);
    EXPECT_EQ(extract(place("local.zip", badLocal)), 0);
    // The other items still came out whole.
    EXPECT_TRUE(sameBytes(output("sub/deep/data.bin"), fixture("data.bin")));
    for (std::size_t cut : {good.size() - 1, good.size() / 2, std::size_t{100}}) {
        EXPECT_EQ(extract(place("cut.zip", good.substr(0, cut))), 0);
    }
    // A stored item whose data no longer matches its CRC.
    std::string stored = fixture("infozip-stored.zip");
    stored[stored.find("line 200 of") + 5] = 'X';
    EXPECT_EQ(extract(place("stored.zip", stored)), 0);
}

TEST_F(ZipProbe, HeaderMustFitInsideTheSniffedBytes) {
    const std::string header = "PK\x03\x04" + std::string(4, '\0') + le16(8) + std::string(16, '\0') + le16(1) + le16(0);
    ASSERT_EQ(header.size(), 30u);
    EXPECT_FALSE(probe(header));              // 30 bytes: never a ZIP archive
    EXPECT_TRUE(probe(header + "n"));
    std::string method13 = header + "n", noName = header + "n";
    method13[8] = 13;
    noName[26] = 0;
    EXPECT_FALSE(probe(method13));
    EXPECT_FALSE(probe(noName));
    EXPECT_TRUE(probe(std::string(1000, 'P') + header + "n"));
    // A header whose 30 bytes end exactly at the sniff limit is not seen.
    std::string big(kSniffBufferSize + 100, 'x');
    big.replace(kSniffBufferSize - 30, 30, header);
    EXPECT_FALSE(probe(big));
    big.replace(kSniffBufferSize - 31, 30, header);
    EXPECT_TRUE(probe(big));
}

}  // namespace
