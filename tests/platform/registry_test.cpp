// The registry store: typed values that survive restarts byte for byte,
// case-insensitive names, key trees, the query size contract, and the text
// file underneath (concurrent writers, unreadable files, hand edits).
#include "platform/registry.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_support.h"

namespace {

using testing_support::listFiles;
using testing_support::makeDirectories;
using testing_support::readFile;
using testing_support::writeFile;
using Bytes = std::vector<BYTE>;

Bytes text(const std::u16string& s) {
    Bytes out;
    for (char16_t c : s + u'\0') out.insert(out.end(), {static_cast<BYTE>(c), static_cast<BYTE>(c >> 8)});
    return out;
}
Bytes dword(DWORD v) { return {BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}; }

struct Stored {
    LONG status = -1;
    DWORD type = 0;
    Bytes data;
    bool operator==(const Stored& o) const {
        return status == o.status && (status != ERROR_SUCCESS || (type == o.type && data == o.data));
    }
};
Stored ok(DWORD type, Bytes data) { return {ERROR_SUCCESS, type, std::move(data)}; }
std::ostream& operator<<(std::ostream& os, const Stored& s) {
    os << "{status " << s.status << ", type " << s.type << ":";
    for (BYTE b : s.data) os << ' ' << int(b);
    return os << '}';
}

// Asks for the size first, then for exactly that many bytes.
Stored query(HKEY key, LPCWSTR name) {
    Stored out;
    DWORD size = 0;
    out.status = RegQueryValueExW(key, name, nullptr, &out.type, nullptr, &size);
    if (out.status != ERROR_SUCCESS) return out;
    out.data.assign(size, 0xEE);
    out.status = RegQueryValueExW(key, name, nullptr, &out.type, out.data.data(), &size);
    EXPECT_EQ(size, out.data.size());
    return out;
}
HKEY create(HKEY root, LPCWSTR path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, 0, 0, nullptr, &key, disposition), ERROR_SUCCESS);
    return key;
}
LONG open(HKEY root, LPCWSTR path, HKEY* key) { return RegOpenKeyExW(root, path, 0, KEY_READ, key); }
LONG set(HKEY key, LPCWSTR name, DWORD type, const Bytes& data) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}
std::string storeFolder() { return registryFilePath().substr(0, registryFilePath().rfind('/')); }
const char16_t kKey[] = u"Software\\kelvane\\unpacker";

class Registry : public testing_support::DeviceSandbox {
protected:
    // Starts over in a config home that holds only a copy of the file.
    void restartFromFileCopy() {
        std::string content = readFile(registryFilePath());
        setenv("XDG_CONFIG_HOME", (root() + "/restart").c_str(), 1);
        makeDirectories(storeFolder());
        writeFile(registryFilePath(), content);
    }
};

}  // namespace

TEST_F(Registry, EveryValueSurvivesARestartByteForByte) {
    std::vector<std::pair<std::u16string, Stored>> values = {
        {u"CreateFolder", ok(REG_DWORD, dword(0xFEDCBA98))}, {u"Bytes", ok(REG_BINARY, {0, 0xFF, '\n', '"'})},
        {u"EmptyBinary", ok(REG_BINARY, {})},                 {u"ShortDword", ok(REG_DWORD, {0x34, 0x12})},
        // REG_SZ data that no quoted string can hold, as hand edits and other programs leave it.
        {u"odd", ok(REG_SZ, {'a', 0, 'b'})},                  {u"unterminated", ok(REG_SZ, {'a', 0})},
        {u"break", ok(REG_SZ, {'a', 0, '\n', 0, '\r', 0, 0, 0})}, {u"none", ok(REG_SZ, {})},
    };
    // Texts that are hard to quote serve as names and as data.
    for (std::u16string t : {u"say \"hi\"", u"\\\"", u"", u"日本語\\書類", u"😀", u"  spaced  ", u"; not a comment",
                             u"a=b", u"[HKEY_CURRENT_USER\\F]", u"hex:01,02"})
        values.push_back({t, ok(REG_SZ, text(t))});
    HKEY key = create(HKEY_CURRENT_USER, kKey);
    for (const auto& [name, value] : values) ASSERT_EQ(set(key, name.c_str(), value.type, value.data), ERROR_SUCCESS);
    RegCloseKey(key);
    // People can read and edit the ordinary strings; the file stays plain text.
    std::string file = readFile(registryFilePath());
    for (const char* line : {"\"say \\\"hi\\\"\"=\"say \\\"hi\\\"\"\n", u8"=\"日本語\\\\書類\"\n", "@=\"\"\n"})
        EXPECT_NE(file.find(line), std::string::npos) << line << file;
    EXPECT_EQ(file.find_first_of(std::string("\r\0", 2)), std::string::npos);

    restartFromFileCopy();
    ASSERT_EQ(open(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
    for (const auto& [name, value] : values) EXPECT_EQ(query(key, name.c_str()), value) << file;
    EXPECT_EQ(query(key, nullptr), query(key, u""));  // null and empty name: the default value
    // Overwriting replaces type and size in place.
    ASSERT_EQ(set(key, u"CreateFolder", REG_SZ, text(u"x")), ERROR_SUCCESS);
    EXPECT_EQ(query(key, u"createfolder"), ok(REG_SZ, text(u"x")));
    file = readFile(registryFilePath());
    EXPECT_EQ(file.find("\"CreateFolder\""), file.rfind("\"CreateFolder\""));
    RegCloseKey(key);
}

TEST_F(Registry, RefusesWhatCannotBeStoredAndLeavesTheFileAlone) {
    HKEY key = create(HKEY_CURRENT_USER, kKey);
    ASSERT_EQ(set(key, u"Keep", REG_DWORD, dword(1)), ERROR_SUCCESS);
    std::string before = readFile(registryFilePath());
    EXPECT_NE(set(key, u"Huge", REG_BINARY, Bytes(2u << 20, 0x5A)), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, u"NoData", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    const char16_t loneSurrogate[] = {u'x', 0xD800, 0};
    for (LPCWSTR name : {u"two\nlines", loneSurrogate}) EXPECT_NE(set(key, name, REG_DWORD, dword(1)), ERROR_SUCCESS);
    HKEY bad = nullptr;
    EXPECT_NE(RegCreateKeyExW(key, u"line\nbreak", 0, nullptr, 0, 0, nullptr, &bad, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(bad, nullptr);
    EXPECT_EQ(readFile(registryFilePath()), before);
    RegCloseKey(key);
}

// More writers than cores, released together, all writing into one key.
TEST_F(Registry, ConcurrentWritersLoseNothing) {
    constexpr int kWriters = 4, kValuesEach = 200;
    auto name = [](int w, int i) {
        std::string s = "w" + std::to_string(w) + "-" + std::to_string(i);
        return std::u16string(s.begin(), s.end());
    };
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
            HKEY key = nullptr;
            int failures = RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, 0, nullptr, &key, nullptr);
            for (int i = 0; i < kValuesEach; ++i)
                failures += set(key, name(w, i).c_str(), i % 2 ? REG_DWORD : REG_SZ,
                                i % 2 ? dword(w * 1000 + i) : text(name(w, i) + u" 日本")) != ERROR_SUCCESS;
            _exit(failures ? 1 : 0);
        }
        children.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : children) {
        int status = -1;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(status, 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(open(HKEY_CURRENT_USER, kKey, &key), ERROR_SUCCESS);
    int lost = 0;
    for (int w = 0; w < kWriters; ++w)
        for (int i = 0; i < kValuesEach; ++i)
            lost += !(query(key, name(w, i).c_str()) ==
                      (i % 2 ? ok(REG_DWORD, dword(w * 1000 + i)) : ok(REG_SZ, text(name(w, i) + u" 日本"))));
    RegCloseKey(key);
    EXPECT_EQ(lost, 0);
    // The file parsed every time: nothing was set aside, no temporaries left.
    EXPECT_EQ(listFiles(storeFolder()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(Registry, UnreadableFileIsKeptAsideAndTheStoreStartsEmpty) {
    const std::string header = "Windows Registry Editor Version 5.00\n\n";
    const std::vector<std::string> unreadable = {
        std::string("\x00\x01garbage\xff", 10),
        "[HKEY_CURRENT_USER\\S]\n\"a\"=dword:1\n",  // no header line
        header + "\"a\"=dword:1\n",                // value outside any key
        header + "[HKEY_CURRENT_USER\\S]\n\"a\"=dword:123456789\n",
        header + "[HKEY_CURRENT_USER\\S\n",
        header + "[HKEY_CURRENT_USER\\S]\n\"\xC3\x28\"=dword:1\n",
    };
    for (std::size_t i = 0; i < unreadable.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        setenv("XDG_CONFIG_HOME", (root() + "/corrupt" + std::to_string(i)).c_str(), 1);
        makeDirectories(storeFolder());
        writeFile(registryFilePath(), unreadable[i]);
        // Half the cases meet the bad file on a read, the others on a write.
        if (i % 2 == 0) {
            EXPECT_EQ(query(HKEY_CURRENT_USER, u"a").status, ERROR_FILE_NOT_FOUND);
        }
        HKEY key = create(HKEY_CURRENT_USER, u"S");
        ASSERT_EQ(set(key, u"a", REG_DWORD, dword(11)), ERROR_SUCCESS);
        RegCloseKey(key);
        std::vector<std::string> files = listFiles(storeFolder());
        ASSERT_EQ(files.size(), 3u) << testing::PrintToString(files);
        EXPECT_EQ(files[2].rfind("registry.reg.unreadable-", 0), 0u) << files[2];
        EXPECT_EQ(readFile(storeFolder() + "/" + files[2]), unreadable[i]);
    }
    // A second bad file in the same second gets a name of its own.
    writeFile(registryFilePath(), "second bad file");
    EXPECT_EQ(query(HKEY_CURRENT_USER, u"a").status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(listFiles(storeFolder()).size(), 3u);  // the lock and two set aside
}
