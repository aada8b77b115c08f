// The registry store: typed values that survive restarts byte for byte,
// case-insensitive names, key trees, the query size contract, and the text
// file underneath (concurrent writers, unreadable files, hand edits).

#include "platform/registry.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using testing_support::fileExists;
using testing_support::listFiles;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;
using Bytes = std::vector<BYTE>;

Bytes stringBytes(const std::u16string& text) {
    Bytes out;
    for (char16_t c : text) {
        out.push_back(static_cast<BYTE>(c & 0xFF));
        out.push_back(static_cast<BYTE>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

Bytes dwordBytes(DWORD v) {
    return {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8), static_cast<BYTE>(v >> 16),
            static_cast<BYTE>(v >> 24)};
}

struct Stored {
    LONG status = -1;
    DWORD type = 0xDEAD;
    Bytes data;
};

// Asks for the size first, then for exactly that many bytes.
Stored query(HKEY key, LPCWSTR name) {
    Stored out;
    DWORD size = 0;
    out.status = RegQueryValueExW(key, name, nullptr, &out.type, nullptr, &size);
    if (out.status != ERROR_SUCCESS) return out;
    out.data.assign(size, 0xEE);
    DWORD got = size;
    out.status = RegQueryValueExW(key, name, nullptr, &out.type, out.data.data(), &got);
    EXPECT_EQ(got, size);
    return out;
}

Stored stored(DWORD type, Bytes data) { return {ERROR_SUCCESS, type, std::move(data)}; }

bool operator==(const Stored& a, const Stored& b) {
    return a.status == b.status && (a.status != ERROR_SUCCESS || (a.type == b.type && a.data == b.data));
}
std::ostream& operator<<(std::ostream& os, const Stored& s) {
    os << "{status " << s.status << ", type " << s.type << ", " << s.data.size() << " bytes:";
    for (BYTE b : s.data) os << ' ' << std::hex << int(b) << std::dec;
    return os << '}';
}

HKEY createKey(HKEY root, LPCWSTR path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, 0, nullptr, &key, disposition), ERROR_SUCCESS);
    return key;
}

LONG openKey(HKEY root, LPCWSTR path, HKEY* key) { return RegOpenKeyExW(root, path, 0, KEY_READ, key); }

LONG setValue(HKEY key, LPCWSTR name, DWORD type, const Bytes& data) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

std::string storeFolder() {
    std::string file = registryFilePath();
    return file.substr(0, file.rfind('/'));
}

class RegistryTest : public testing_support::DeviceSandbox {
protected:
    // Starts over with a different config home that holds only a copy of the
    // current file, so whatever is read afterwards can only come from it.
    void restartFromFileCopy() {
        std::string content = readFile(registryFilePath());
        std::string home = root() + "/restart" + std::to_string(restarts_++);
        makeDirectories(home + "/tovrin-unpacker");
        writeFile(home + "/tovrin-unpacker/registry.reg", content);
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    }
    void useConfigHome(const std::string& name) {
        std::string home = root() + "/" + name;
        setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    }

private:
    int restarts_ = 0;
};

using RegistryValues = RegistryTest;
using RegistryNames = RegistryTest;
using RegistryKeys = RegistryTest;
using RegistryQuery = RegistryTest;
using RegistryHandles = RegistryTest;
using RegistryFile = RegistryTest;

// ---------------------------------------------------------------------------

TEST_F(RegistryValues, EveryTypeSurvivesRestartByteForByte) {
    Bytes everyByte;
    for (int i = 0; i < 256; ++i) everyByte.push_back(static_cast<BYTE>(i));
    const std::vector<std::pair<std::u16string, Stored>> values = {
        {u"ExtractPath", stored(REG_SZ, stringBytes(u"\\Storage Card\\Files"))},
        {u"CreateFolder", stored(REG_DWORD, dwordBytes(1))},
        {u"HighBits", stored(REG_DWORD, dwordBytes(0xFEDCBA98))},
        {u"EveryByte", stored(REG_BINARY, everyByte)},
        {u"EmptyBinary", stored(REG_BINARY, {})},
        {u"ShortDword", stored(REG_DWORD, {0x34, 0x12})},
        {u"MultiString", stored(7, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0})},
        {u"NoType", stored(REG_NONE, {9, 8, 7})},
        {u"", stored(REG_SZ, stringBytes(u"ZIP Archive"))},
    };
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    for (const auto& [name, value] : values)
        ASSERT_EQ(setValue(key, name.c_str(), value.type, value.data), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);

    restartFromFileCopy();
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", &key), ERROR_SUCCESS);
    for (const auto& [name, value] : values) EXPECT_EQ(query(key, name.c_str()), value);
    // A null name is the same default value as an empty one.
    EXPECT_EQ(query(key, nullptr), stored(REG_SZ, stringBytes(u"ZIP Archive")));

    // Overwriting replaces type and size in place: one entry, the new data.
    ASSERT_EQ(setValue(key, u"ExtractPath", REG_DWORD, dwordBytes(7)), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"ExtractPath"), stored(REG_DWORD, dwordBytes(7)));
    std::string text = readFile(registryFilePath());
    EXPECT_EQ(text.find("\"ExtractPath\""), text.rfind("\"ExtractPath\""));
    RegCloseKey(key);
}

TEST_F(RegistryValues, TrickyStringsAndNamesKeepEveryByte) {
    const std::vector<std::u16string> texts = {
        u"C:\\dir\\",  u"\\\\server\\share", u"say \"hi\"",      u"\\\"",  u"\"",
        u"",           u"ends with \\",     u"Größe é ñ",        u"日本語のフォルダ\\書類",
        u"😀 emoji",   u"\ttab inside",      u"  spaced  ",      u"; not a comment",
        u"a=b",        u"[HKEY_CURRENT_USER\\Fake]",            u"@",  u"-",
        u"hex:01,02",  u"dword:00000001",
    };
    // REG_SZ data that no quoted string can hold; it must come back unchanged.
    const std::vector<Bytes> rawStrings = {
        {'a', 0, 'b'},                // odd byte count
        {'a', 0, 'b', 0},             // no terminating NUL
        {'a', 0, 0, 0, 'b', 0, 0, 0},  // embedded NUL
        {0x00, 0xD8, 'x', 0, 0, 0},   // lone high surrogate
        {0x00, 0xDC, 0, 0},           // lone low surrogate
        {'a', 0, '\n', 0, 'b', 0, 0, 0},  // line break
        {'a', 0, '\r', 0, 0, 0},
        {0, 0, 0, 0},                 // two NULs
        {},                           // nothing at all
    };
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    for (std::size_t i = 0; i < texts.size(); ++i) {
        // The text serves as a value name too (the empty one is the default).
        ASSERT_EQ(setValue(key, texts[i].c_str(), REG_SZ, stringBytes(texts[i])), ERROR_SUCCESS);
    }
    for (std::size_t i = 0; i < rawStrings.size(); ++i) {
        std::u16string name = u"raw" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        ASSERT_EQ(setValue(key, name.c_str(), REG_SZ, rawStrings[i]), ERROR_SUCCESS);
    }
    RegCloseKey(key);

    // People can read and edit the ordinary strings: plain UTF-8, escaped.
    std::string text = readFile(registryFilePath());
    EXPECT_NE(text.find("\"C:\\\\dir\\\\\"=\"C:\\\\dir\\\\\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"say \\\"hi\\\"\"=\"say \\\"hi\\\"\""), std::string::npos) << text;
    EXPECT_NE(text.find(u8"=\"日本語のフォルダ\\\\書類\""), std::string::npos) << text;
    EXPECT_NE(text.find("@=\"\"\n"), std::string::npos) << text;
    // The rest is kept as hex, so the file stays plain text an editor can open.
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);

    restartFromFileCopy();
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", &key), ERROR_SUCCESS);
    for (const auto& t : texts) EXPECT_EQ(query(key, t.c_str()), stored(REG_SZ, stringBytes(t)));
    for (std::size_t i = 0; i < rawStrings.size(); ++i) {
        std::u16string name = u"raw" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        EXPECT_EQ(query(key, name.c_str()), stored(REG_SZ, rawStrings[i])) << "raw string " << i;
    }
    RegCloseKey(key);
}

TEST_F(RegistryValues, RefusesWhatCannotBeStoredAndLeavesTheStoreAlone) {
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    ASSERT_EQ(setValue(key, u"Keep", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
    std::string before = readFile(registryFilePath());

    Bytes huge(2u << 20, 0x5A);
    EXPECT_NE(setValue(key, u"Huge", REG_BINARY, huge), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"NoData", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    // A line break in a name could not be written back into the file.
    EXPECT_NE(setValue(key, u"two\nlines", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
    const char16_t loneSurrogate[] = {u'x', 0xD800, 0};
    EXPECT_NE(setValue(key, loneSurrogate, REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
    HKEY bad = nullptr;
    EXPECT_NE(RegCreateKeyExW(key, u"line\nbreak", 0, nullptr, 0, 0, nullptr, &bad, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(bad, nullptr);

    EXPECT_EQ(readFile(registryFilePath()), before);
    // Storing no bytes at all is legitimate.
    EXPECT_EQ(RegSetValueExW(key, u"Nothing", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"Nothing"), stored(REG_BINARY, {}));
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------

TEST_F(RegistryNames, CompareIgnoringCaseButKeepTheCaseTheyWereCreatedWith) {
    DWORD disposition = 0;
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\Kelvane\\UnPacker", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    ASSERT_EQ(setValue(key, u"ExtractPath", REG_SZ, stringBytes(u"\\first")), ERROR_SUCCESS);
    ASSERT_EQ(setValue(key, u"EXTRACTPATH", REG_SZ, stringBytes(u"\\second")), ERROR_SUCCESS);
    RegCloseKey(key);

    HKEY again = createKey(HKEY_CURRENT_USER, u"SOFTWARE\\kelvane\\unpacker", &disposition);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(query(again, u"extractPATH"), stored(REG_SZ, stringBytes(u"\\second")));

    // Beyond ASCII: Latin-1, Latin Extended, Cyrillic, Greek and full-width letters.
    HKEY accented = createKey(again, u"Ärger Łódź");
    ASSERT_EQ(setValue(accented, u"ФАЙЛ ΣΟΦΊΑΣ Ｚｉｐ", REG_DWORD, dwordBytes(5)), ERROR_SUCCESS);
    RegCloseKey(accented);
    ASSERT_EQ(openKey(again, u"ärger łÓdŹ", &accented), ERROR_SUCCESS);
    // The word-final sigma folds like the ordinary one.
    EXPECT_EQ(query(accented, u"файл σοφίας ｚＩＰ"), stored(REG_DWORD, dwordBytes(5)));
    RegCloseKey(accented);
    RegCloseKey(again);

    std::string text = readFile(registryFilePath());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Kelvane\\UnPacker]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"ExtractPath\"=\"\\\\second\""), std::string::npos) << text;
    EXPECT_EQ(text.find("EXTRACTPATH"), std::string::npos) << text;
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos) << text;
    EXPECT_NE(text.find(u8"[HKEY_CURRENT_USER\\Software\\Kelvane\\UnPacker\\Ärger Łódź]"),
              std::string::npos) << text;
}

// ---------------------------------------------------------------------------

TEST_F(RegistryKeys, OpeningAMissingKeyFailsAndWritesNothing) {
    HKEY key = reinterpret_cast<HKEY>(&key);
    EXPECT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(query(HKEY_CURRENT_USER, u"ExtractPath").status, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(fileExists(storeFolder()));

    HKEY parent = createKey(HKEY_CURRENT_USER, u"Software\\kelvane");
    EXPECT_EQ(openKey(parent, u"unpacker", &key), ERROR_FILE_NOT_FOUND);
    RegCloseKey(parent);
}

TEST_F(RegistryKeys, CreateMakesEveryLevelAndAnEmptySubkeyMeansTheSameKey) {
    DWORD disposition = 0;
    HKEY deep = createKey(HKEY_CURRENT_USER, u"One\\Two\\Three", &disposition);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    HKEY middle = nullptr;
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"One\\Two", &middle), ERROR_SUCCESS);
    RegCloseKey(createKey(HKEY_CURRENT_USER, u"One\\Two", &disposition));
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);

    // Doubled and trailing separators are tolerated.
    HKEY same = nullptr;
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"One\\\\Two\\Three\\", &same), ERROR_SUCCESS);
    RegCloseKey(same);

    HKEY viaNull = nullptr, viaEmpty = nullptr;
    ASSERT_EQ(openKey(deep, nullptr, &viaNull), ERROR_SUCCESS);
    ASSERT_EQ(openKey(deep, u"", &viaEmpty), ERROR_SUCCESS);
    ASSERT_EQ(setValue(viaNull, u"Shared", REG_DWORD, dwordBytes(42)), ERROR_SUCCESS);
    EXPECT_EQ(query(viaEmpty, u"Shared"), stored(REG_DWORD, dwordBytes(42)));
    EXPECT_EQ(query(deep, u"Shared"), stored(REG_DWORD, dwordBytes(42)));
    EXPECT_EQ(query(middle, u"Shared").status, ERROR_FILE_NOT_FOUND);
    for (HKEY k : {deep, middle, viaNull, viaEmpty}) EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

    // Every key has its own section, so the file lists the whole tree.
    std::string text = readFile(registryFilePath());
    EXPECT_EQ(text,
              "Windows Registry Editor Version 5.00\n"
              "\n[HKEY_CURRENT_USER\\One]\n"
              "\n[HKEY_CURRENT_USER\\One\\Two]\n"
              "\n[HKEY_CURRENT_USER\\One\\Two\\Three]\n"
              "\"Shared\"=dword:0000002a\n");
}

// The file-type registration flow: a class key with DefaultIcon and
// Shell\Open\Command under HKEY_CLASSES_ROOT, removed again as a whole.
TEST_F(RegistryKeys, DeleteKeyTakesItsSubkeysAndNothingElse) {
    auto setDefault = [](LPCWSTR path, const std::u16string& text) {
        HKEY key = createKey(HKEY_CLASSES_ROOT, path);
        EXPECT_EQ(setValue(key, nullptr, REG_SZ, stringBytes(text)), ERROR_SUCCESS);
        RegCloseKey(key);
    };
    setDefault(u".zip", u"TOVRINU_ZIP");
    setDefault(u"TOVRINU_ZIP", u"ZIP Archive");
    setDefault(u"TOVRINU_ZIP\\DefaultIcon", u"\\Program Files\\unpacker.exe, -0");
    setDefault(u"TOVRINU_ZIP\\Shell\\Open\\Command", u"\"\\Program Files\\unpacker.exe\" %1");
    setDefault(u"TOVRINU_LZH", u"LZH Archive");
    setDefault(u"TOVRINU_LZH\\DefaultIcon", u"icon");
    // The same path under the other root is a different key.
    HKEY user = createKey(HKEY_CURRENT_USER, u"TOVRINU_ZIP");
    ASSERT_EQ(setValue(user, u"Mine", REG_DWORD, dwordBytes(3)), ERROR_SUCCESS);
    RegCloseKey(user);

    HKEY classes = nullptr;
    ASSERT_EQ(openKey(HKEY_CLASSES_ROOT, u"", &classes), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(classes, u"tovrinu_zip"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(classes, u"TOVRINU_ZIP"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(classes, u"Missing\\Deeper"), ERROR_FILE_NOT_FOUND);
    // A root itself is never deleted.
    EXPECT_NE(RegDeleteKeyW(classes, u""), ERROR_SUCCESS);
    RegCloseKey(classes);

    HKEY key = nullptr;
    for (LPCWSTR gone : {u"TOVRINU_ZIP", u"TOVRINU_ZIP\\DefaultIcon", u"TOVRINU_ZIP\\Shell\\Open\\Command"})
        EXPECT_EQ(openKey(HKEY_CLASSES_ROOT, gone, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(openKey(HKEY_CLASSES_ROOT, u"TOVRINU_LZH\\DefaultIcon", &key), ERROR_SUCCESS);
    EXPECT_EQ(query(key, nullptr), stored(REG_SZ, stringBytes(u"icon")));
    RegCloseKey(key);
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"TOVRINU_ZIP", &key), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"Mine"), stored(REG_DWORD, dwordBytes(3)));
    RegCloseKey(key);

    // Deleting the extension's default value keeps the extension key.
    ASSERT_EQ(openKey(HKEY_CLASSES_ROOT, u".ZIP", &key), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key, u""), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(query(key, nullptr).status, ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
    EXPECT_EQ(openKey(HKEY_CLASSES_ROOT, u".zip", &key), ERROR_SUCCESS);
    RegCloseKey(key);

    std::string text = readFile(registryFilePath());
    EXPECT_EQ(text.find("[HKEY_CLASSES_ROOT\\TOVRINU_ZIP"), std::string::npos) << text;
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\TOVRINU_LZH\\DefaultIcon]\n@=\"icon\"\n"), std::string::npos)
        << text;
    EXPECT_NE(text.find("[HKEY_CLASSES_ROOT\\.zip]\n\n"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------

TEST_F(RegistryQuery, ReportsSizesAndRefusesBuffersThatAreTooSmall) {
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    const Bytes path = stringBytes(u"\\My Documents");  // 28 bytes
    ASSERT_EQ(setValue(key, u"ExtractPath", REG_SZ, path), ERROR_SUCCESS);
    ASSERT_EQ(setValue(key, u"Empty", REG_BINARY, {}), ERROR_SUCCESS);

    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"ExtractPath", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, path.size());
    EXPECT_EQ(RegQueryValueExW(key, u"ExtractPath", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);

    Bytes buffer(64, 0xEE);
    size = static_cast<DWORD>(path.size() - 1);
    EXPECT_EQ(RegQueryValueExW(key, u"ExtractPath", nullptr, &type, buffer.data(), &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, path.size());
    EXPECT_EQ(buffer, Bytes(64, 0xEE));  // nothing half-written

    size = static_cast<DWORD>(buffer.size());
    type = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"ExtractPath", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, path.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + size), path);
    EXPECT_EQ(Bytes(buffer.begin() + size, buffer.end()), Bytes(64 - path.size(), 0xEE));

    size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"Empty", nullptr, &type, buffer.data(), &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 0u);

    size = 77;
    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, buffer.data(), &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"ExtractPath", nullptr, &type, buffer.data(), nullptr),
              ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

// ---------------------------------------------------------------------------

void runInChild(const std::function<void()>& body) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        body();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The device reports a vanished key on every later use of its handle; a write
// through such a handle must not resurrect a key that somebody removed.
TEST_F(RegistryHandles, KeyDeletedByAnotherWriterStaysDeleted) {
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    ASSERT_EQ(setValue(key, u"OpenFolder", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);

    runInChild([] { _exit(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\kelvane") == ERROR_SUCCESS ? 0 : 1); });

    EXPECT_EQ(query(key, u"OpenFolder").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(setValue(key, u"OpenFolder", REG_DWORD, dwordBytes(0)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key, u"OpenFolder"), ERROR_FILE_NOT_FOUND);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, u"Sub", 0, nullptr, 0, 0, nullptr, &sub, nullptr), ERROR_FILE_NOT_FOUND);
    HKEY probe = nullptr;
    EXPECT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane", &probe), ERROR_FILE_NOT_FOUND);

    // Handles name their key by path: once it exists again, they reach it.
    RegCloseKey(createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker"));
    EXPECT_EQ(setValue(key, u"OpenFolder", REG_DWORD, dwordBytes(0)), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryHandles, ClosedAndNullHandlesAreRefusedAndRootsStayUsable) {
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software");
    ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);  // no double free
    EXPECT_EQ(setValue(key, u"x", REG_DWORD, dwordBytes(1)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(query(nullptr, u"x").status, ERROR_INVALID_HANDLE);
    HKEY out = nullptr;
    EXPECT_EQ(openKey(nullptr, u"Software", &out), ERROR_INVALID_HANDLE);

    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(setValue(HKEY_CURRENT_USER, u"AtTheRoot", REG_DWORD, dwordBytes(9)), ERROR_SUCCESS);
    EXPECT_EQ(query(HKEY_CURRENT_USER, u"AtTheRoot"), stored(REG_DWORD, dwordBytes(9)));
    EXPECT_NE(readFile(registryFilePath()).find("[HKEY_CURRENT_USER]\n\"AtTheRoot\"=dword:00000009\n"),
              std::string::npos);
}

// ---------------------------------------------------------------------------

std::u16string writerValueName(int writer, int index) {
    std::u16string name = u"w" + std::u16string(1, char16_t(u'0' + writer)) + u"-";
    for (char c : std::to_string(index)) name += static_cast<char16_t>(c);
    return name;
}

Stored writerValue(int writer, int index) {
    return (index % 2) ? stored(REG_DWORD, dwordBytes(writer * 1000 + index))
                       : stored(REG_SZ, stringBytes(writerValueName(writer, index) + u" 日本"));
}

std::u16string writerKeyName(int writer) { return u"Writer" + std::u16string(1, char16_t(u'0' + writer)); }

// More writers than cores, released together, all writing into one key.
TEST_F(RegistryFile, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4;
    constexpr int kValuesEach = 200;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    std::vector<pid_t> children;
    for (int w = 0; w < kWriters; ++w) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(gate[1]);
            char go;
            if (read(gate[0], &go, 1) != 0) _exit(3);  // released when the parent closes it
            HKEY shared = nullptr;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", 0, nullptr, 0, 0, nullptr,
                                &shared, nullptr) != ERROR_SUCCESS)
                _exit(4);
            int failures = 0;
            for (int i = 0; i < kValuesEach; ++i) {
                Stored value = writerValue(w, i);
                failures += setValue(shared, writerValueName(w, i).c_str(), value.type, value.data) != ERROR_SUCCESS;
                if (i == kValuesEach / 2) {
                    HKEY mine = nullptr;
                    failures += RegCreateKeyExW(shared, writerKeyName(w).c_str(), 0, nullptr, 0, 0, nullptr,
                                                &mine, nullptr) != ERROR_SUCCESS;
                    failures += setValue(mine, nullptr, REG_DWORD, dwordBytes(w)) != ERROR_SUCCESS;
                    RegCloseKey(mine);
                }
            }
            RegCloseKey(shared);
            _exit(failures ? 1 : 0);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "writer status " << status;
    }

    HKEY shared = nullptr;
    ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", &shared), ERROR_SUCCESS);
    int lost = 0;
    for (int w = 0; w < kWriters; ++w) {
        for (int i = 0; i < kValuesEach; ++i)
            lost += !(query(shared, writerValueName(w, i).c_str()) == writerValue(w, i));
        HKEY mine = nullptr;
        ASSERT_EQ(openKey(shared, writerKeyName(w).c_str(), &mine), ERROR_SUCCESS);
        EXPECT_EQ(query(mine, nullptr), stored(REG_DWORD, dwordBytes(w)));
        RegCloseKey(mine);
    }
    RegCloseKey(shared);
    EXPECT_EQ(lost, 0);
    // The file parsed every time: nothing was set aside, no temporaries left.
    EXPECT_EQ(listFiles(storeFolder()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryFile, UnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    const std::vector<std::string> unreadable = {
        std::string("\x00\x01\x02garbage\xff", 11),
        "[HKEY_CURRENT_USER\\Software]\n\"a\"=dword:1\n",  // no header line
        "Windows Registry Editor Version 5.00\n\n\"a\"=dword:1\n",  // value outside any key
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"a\"=hex:zz\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"a\"=\"open\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"a\"=hex:01,\\\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"a\"=dword:123456789\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"a\"=qword:1\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S\n",
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\S]\n\"\xC3\x28\"=dword:1\n",
    };
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        useConfigHome("corrupt" + std::to_string(i));
        makeDirectories(storeFolder());
        writeFile(registryFilePath(), unreadable[i]);

        // Half the cases meet the bad file on a read, the others on a write.
        HKEY key = nullptr;
        if (i % 2 == 0) {
            EXPECT_EQ(openKey(HKEY_CURRENT_USER, u"S", &key), ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(query(HKEY_CURRENT_USER, u"a").status, ERROR_FILE_NOT_FOUND);
        }
        key = createKey(HKEY_CURRENT_USER, u"S");
        ASSERT_EQ(setValue(key, u"a", REG_DWORD, dwordBytes(11)), ERROR_SUCCESS);
        EXPECT_EQ(query(key, u"a"), stored(REG_DWORD, dwordBytes(11)));
        RegCloseKey(key);

        std::vector<std::string> files = listFiles(storeFolder());
        ASSERT_EQ(files.size(), 3u) << testing::PrintToString(files);
        EXPECT_EQ(files[0], "registry.reg");
        EXPECT_EQ(files[1], "registry.reg.lock");
        EXPECT_EQ(files[2].rfind("registry.reg.unreadable-", 0), 0u) << files[2];
        EXPECT_EQ(readFile(storeFolder() + "/" + files[2]), unreadable[i]);
    }

    // A second bad file in the same second gets a name of its own.
    useConfigHome("corrupt0");
    writeFile(registryFilePath(), "second bad file");
    EXPECT_EQ(query(HKEY_CURRENT_USER, u"a").status, ERROR_FILE_NOT_FOUND);
    std::vector<std::string> files = listFiles(storeFolder());
    ASSERT_EQ(files.size(), 3u) << testing::PrintToString(files);  // lock and two set aside
    EXPECT_EQ(readFile(storeFolder() + "/" + files[1]) + readFile(storeFolder() + "/" + files[2]),
              unreadable[0] + "second bad file");
}

TEST_F(RegistryFile, HandEditedFileIsReadAndItsForeignPartsKept) {
    makeDirectories(storeFolder());
    writeFile(registryFilePath(),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
              "\r\n"
              "; settings written by hand\r\n"
              "[HKCU\\Software\\kelvane\\unpacker]\r\n"
              "\"ExtractPath\" = \"\\\\My Documents\\\\Größe \\\"x\\\"\"\r\n"
              "\"CreateFolder\"=DWORD:1\r\n"
              "@=\"default text\"\r\n"
              "\"Blob\"=hex:00,01,\\\r\n"
              "    fe, ff,\\\r\n"
              "  7f\r\n"
              "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
              "\"Gone\"=\"soon\"\r\n"
              "\"Gone\"=-\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\Old\\Child]\r\n"
              "\"x\"=dword:00000001\r\n"
              "[-HKEY_CURRENT_USER\\Software\\Old]\r\n"
              "\"ignored\"=dword:00000002\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
              "\"Kept\"=\"foreign\"\r\n");

    auto checkAll = [] {
        HKEY key = nullptr;
        ASSERT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", &key), ERROR_SUCCESS);
        EXPECT_EQ(query(key, u"ExtractPath"), stored(REG_SZ, stringBytes(u"\\My Documents\\Größe \"x\"")));
        EXPECT_EQ(query(key, u"CreateFolder"), stored(REG_DWORD, dwordBytes(1)));
        EXPECT_EQ(query(key, nullptr), stored(REG_SZ, stringBytes(u"default text")));
        EXPECT_EQ(query(key, u"Blob"), stored(REG_BINARY, {0x00, 0x01, 0xFE, 0xFF, 0x7F}));
        EXPECT_EQ(query(key, u"Expand"), stored(2, {0x25, 0, 0x41, 0, 0x25, 0, 0, 0}));
        EXPECT_EQ(query(key, u"Gone").status, ERROR_FILE_NOT_FOUND);
        RegCloseKey(key);
        EXPECT_EQ(openKey(HKEY_CURRENT_USER, u"Software\\Old", &key), ERROR_FILE_NOT_FOUND);
    };
    checkAll();

    // A write keeps everything, including the root this program never uses.
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    ASSERT_EQ(setValue(key, u"OpenFolder", REG_DWORD, dwordBytes(1)), ERROR_SUCCESS);
    RegCloseKey(key);
    checkAll();
    std::string text = readFile(registryFilePath());
    EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"Kept\"=\"foreign\"\n"), std::string::npos)
        << text;
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u) << text;

    // An export in UTF-16LE, as other systems write them.
    std::u16string wide = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                          u"[HKEY_CLASSES_ROOT\\.lzh]\r\n@=\"TOVRINU_LZH 日本\"\r\n";
    std::string bytes;
    for (char16_t c : wide.substr(1)) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    writeFile(registryFilePath(), std::string("\xFF\xFE", 2) + bytes);
    ASSERT_EQ(openKey(HKEY_CLASSES_ROOT, u".LZH", &key), ERROR_SUCCESS);
    EXPECT_EQ(query(key, nullptr), stored(REG_SZ, stringBytes(u"TOVRINU_LZH 日本")));
    RegCloseKey(key);
}

TEST_F(RegistryFile, FollowsTheEnvironmentAtEveryCallAndCachesNothing) {
    std::string saved = getenv("XDG_CONFIG_HOME");
    EXPECT_EQ(registryFilePath(), saved + "/tovrin-unpacker/registry.reg");
    const char* savedHome = getenv("HOME");
    std::string home = savedHome ? savedHome : "";
    setenv("HOME", (root() + "/home").c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(registryFilePath(), root() + "/home/.config/tovrin-unpacker/registry.reg");
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(registryFilePath(), root() + "/home/.config/tovrin-unpacker/registry.reg");
    if (savedHome) setenv("HOME", home.c_str(), 1); else unsetenv("HOME");

    // The first write makes the missing folders.
    setenv("XDG_CONFIG_HOME", (root() + "/not/yet/there").c_str(), 1);
    HKEY key = createKey(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker");
    ASSERT_EQ(setValue(key, u"Where", REG_SZ, stringBytes(u"deep")), ERROR_SUCCESS);
    EXPECT_TRUE(fileExists(root() + "/not/yet/there/tovrin-unpacker/registry.reg"));

    // The same open handle sees the other store once the variable changes...
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    EXPECT_EQ(query(key, u"Where").status, ERROR_FILE_NOT_FOUND);
    setenv("XDG_CONFIG_HOME", (root() + "/not/yet/there").c_str(), 1);
    EXPECT_EQ(query(key, u"Where"), stored(REG_SZ, stringBytes(u"deep")));

    // ...and a file replaced behind its back at once.
    std::string text = readFile(registryFilePath());
    std::size_t at = text.find("\"deep\"");
    ASSERT_NE(at, std::string::npos);
    writeFile(registryFilePath(), text.replace(at, 6, "\"edited\""));
    EXPECT_EQ(query(key, u"Where"), stored(REG_SZ, stringBytes(u"edited")));

    // A writer that died mid-write left a temporary; the next write clears it.
    writeFile(registryFilePath() + ".tmp-99999-0", "half written");
    ASSERT_EQ(setValue(key, u"After", REG_DWORD, dwordBytes(2)), ERROR_SUCCESS);
    EXPECT_EQ(listFiles(storeFolder()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    EXPECT_EQ(query(key, u"Where"), stored(REG_SZ, stringBytes(u"edited")));
    RegCloseKey(key);
}

}  // namespace
