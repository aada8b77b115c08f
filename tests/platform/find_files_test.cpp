#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "tests/test_support.h"

using testing_support::makeDirectories;
using testing_support::writeFile;

namespace {

class FindFiles : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        makeDirectories(host("\\box\\Sub"));
        writeFile(host("\\box\\a.txt"), "aa");
        writeFile(host("\\box\\B.TXT"), "bbbb");
        writeFile(host("\\box\\c.dat"), "c");
        writeFile(host("\\box\\noext"), "");
        writeFile(host("\\box\\Sub\\deep.txt"), "deep");
    }

    // Every name the search reports, with its data, keyed by name.
    std::map<std::u16string, WIN32_FIND_DATAW> search(const WCHAR* pattern) {
        std::map<std::u16string, WIN32_FIND_DATAW> found;
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(pattern, &data);
        if (find == INVALID_HANDLE_VALUE) return found;
        do {
            std::u16string name(data.cFileName);
            EXPECT_EQ(found.count(name), 0u) << "reported twice";
            found[name] = data;
        } while (FindNextFileW(find, &data));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(find));
        return found;
    }

    static std::vector<std::u16string> names(const std::map<std::u16string, WIN32_FIND_DATAW>& found) {
        std::vector<std::u16string> result;
        for (const auto& entry : found) result.push_back(entry.first);
        return result;
    }
};

using Names = std::vector<std::u16string>;

}  // namespace

TEST_F(FindFiles, StarListsEveryEntryButDotAndDotDot) {
    Names all{u"B.TXT", u"Sub", u"a.txt", u"c.dat", u"noext"};
    EXPECT_EQ(names(search(u"\\box\\*")), all);
    EXPECT_EQ(names(search(u"\\box\\*.*")), all);
    EXPECT_EQ(names(search(u"/box/*")), all);
}

TEST_F(FindFiles, WildcardsMatchWithoutRegardToCase) {
    EXPECT_EQ(names(search(u"\\box\\*.txt")), (Names{u"B.TXT", u"a.txt"}));
    EXPECT_EQ(names(search(u"\\box\\?.dat")), (Names{u"c.dat"}));
    EXPECT_EQ(names(search(u"\\box\\?.*")), (Names{u"B.TXT", u"a.txt", u"c.dat"}));
    EXPECT_EQ(names(search(u"\\box\\*e*")), (Names{u"noext"}));
    EXPECT_EQ(names(search(u"\\box\\A.TXT")), (Names{u"a.txt"}));
    EXPECT_EQ(names(search(u"\\box\\sub")), (Names{u"Sub"}));
    EXPECT_TRUE(search(u"\\box\\??.dat").empty());
}

TEST_F(FindFiles, EntryDataDescribesTheFile) {
    chmod(host("\\box\\c.dat").c_str(), 0444);
    auto found = search(u"\\box\\*");
    EXPECT_EQ(found[u"B.TXT"].nFileSizeLow, 4u);
    EXPECT_EQ(found[u"B.TXT"].nFileSizeHigh, 0u);
    EXPECT_EQ(found[u"B.TXT"].dwFileAttributes, FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(found[u"c.dat"].dwFileAttributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(found[u"Sub"].dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(found[u"Sub"].nFileSizeLow, 0u);

    HANDLE file = CreateFileW(u"\\box\\a.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME lastWrite;
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &lastWrite));
    CloseHandle(file);
    EXPECT_EQ(found[u"a.txt"].ftLastWriteTime.dwLowDateTime, lastWrite.dwLowDateTime);
    EXPECT_EQ(found[u"a.txt"].ftLastWriteTime.dwHighDateTime, lastWrite.dwHighDateTime);
}

TEST_F(FindFiles, NoMatchAndMissingFolderAreDifferentErrors) {
    WIN32_FIND_DATAW data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(u"\\box\\*.zip", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(u"\\nowhere\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(u"\\box\\a.txt\\*", &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FindFiles, NamesTheDeviceCannotSpellArePassedOver) {
    // Not UTF-8, so there is no UTF-16 name for it.
    writeFile(host("\\box\\bad\xFF.txt"), "x");
    writeFile(host("\\box\\\xE6\x97\xA5.txt"), "x");
    EXPECT_EQ(names(search(u"\\box\\*.txt")), (Names{u"B.TXT", u"a.txt", u"\u65E5.txt"}));
}
