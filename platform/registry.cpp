// The registry store. The whole store is one .reg text file; every call reads
// it afresh, so several running copies (and people editing the file by hand)
// always agree on what it holds. Writers serialise on an flock()ed lock file
// beside it, re-read the file under that lock, and replace it by rename, so a
// reader sees either the old or the new file and a crash leaves one of them.

#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/text_conversion.h"

struct RegistryKey {
    int root;                           // index into kRootNames
    std::vector<std::u16string> path;   // components below the root, as the caller spelled them
};

namespace {

RegistryKey classesRootKey{0, {}};
RegistryKey currentUserKey{1, {}};

const char16_t* const kRootNames[] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER"};
const char16_t* const kRootShortNames[] = {u"HKCR", u"HKCU"};

const char* const kHeader = "Windows Registry Editor Version 5.00";
const char* const kStoreFolder = "tovrin-unpacker";
const char* const kStoreName = "registry.reg";

// A value this large is certainly not a setting; refusing it keeps the file
// small enough that it can always be read back in full.
constexpr std::size_t kMaxValueBytes = 1u << 20;
// A larger file is not one we wrote; it is set aside rather than loaded.
constexpr std::size_t kMaxFileBytes = 64u << 20;
// Deep enough for any real key; it bounds the recursion over the key tree.
constexpr std::size_t kMaxDepth = 512;

// ---------------------------------------------------------------------------
// Text

// Simple upper-case folding for the scripts people actually name keys in;
// everything else compares exactly.
char16_t foldCase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) return static_cast<char16_t>(c & ~1u);
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c & 1u) ? c : static_cast<char16_t>(c - 1);
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? char16_t{0x3A3} : static_cast<char16_t>(c - 0x20);
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
    if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
    if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
    return c;
}

bool sameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (foldCase(a[i]) != foldCase(b[i])) return false;
    return true;
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool validUtf16(const std::u16string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i])) {
            if (i + 1 >= text.size() || !isLowSurrogate(text[i + 1])) return false;
            ++i;
        } else if (isLowSurrogate(text[i])) {
            return false;
        }
    }
    return true;
}

// Only ever called on text that passed validUtf16(), which cannot fail here.
void appendUtf16AsUtf8(std::string& out, const std::u16string& text) {
    std::string converted;
    utf16ToUtf8(text, converted);
    out += converted;
}

std::u16string wideToString(LPCWSTR text) {
    std::u16string out;
    if (text) {
        while (*text) out += *text++;
    }
    return out;
}

// Names that could not be written back into the file as they are.
bool writableName(const std::u16string& name) {
    if (!validUtf16(name)) return false;
    for (char16_t c : name)
        if (c == u'\r' || c == u'\n') return false;
    return true;
}

// Splits a `\`-separated key path. Empty components (doubled or trailing
// separators) are skipped, as the device tolerates them.
bool splitKeyPath(LPCWSTR subKey, std::vector<std::u16string>& parts) {
    parts.clear();
    std::u16string current;
    for (const WCHAR* p = subKey; p && *p; ++p) {
        if (*p == u'\\') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    for (const auto& part : parts)
        if (!writableName(part)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// The in-memory form of the file

struct Value {
    std::u16string name;  // empty for the key's default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

std::u16string folded(const std::u16string& name) {
    std::u16string out(name);
    for (auto& c : out) c = foldCase(c);
    return out;
}

// A key with its values and subkeys in file order. The indexes by folded name
// keep loading a file with many entries linear rather than quadratic.
class Node {
public:
    Node() = default;
    explicit Node(std::u16string name) : name_(std::move(name)) {}

    const std::u16string& name() const { return name_; }
    const std::vector<Value>& values() const { return values_; }
    const std::vector<Node>& children() const { return children_; }

    Node* child(const std::u16string& wanted) {
        auto it = childIndex_.find(folded(wanted));
        return it == childIndex_.end() ? nullptr : &children_[it->second];
    }
    Node& addChild(const std::u16string& name) {
        if (Node* existing = child(name)) return *existing;
        childIndex_.emplace(folded(name), children_.size());
        children_.emplace_back(name);
        return children_.back();
    }
    bool removeChild(const std::u16string& name) {
        auto it = childIndex_.find(folded(name));
        if (it == childIndex_.end()) return false;
        children_.erase(children_.begin() + static_cast<std::ptrdiff_t>(it->second));
        childIndex_.clear();
        for (std::size_t i = 0; i < children_.size(); ++i) childIndex_.emplace(folded(children_[i].name_), i);
        return true;
    }

    const Value* value(const std::u16string& wanted) const {
        auto it = valueIndex_.find(folded(wanted));
        return it == valueIndex_.end() ? nullptr : &values_[it->second];
    }
    // An existing value keeps the name it was created with.
    void putValue(Value value) {
        auto it = valueIndex_.find(folded(value.name));
        if (it != valueIndex_.end()) {
            values_[it->second].type = value.type;
            values_[it->second].data = std::move(value.data);
            return;
        }
        valueIndex_.emplace(folded(value.name), values_.size());
        values_.push_back(std::move(value));
    }
    bool removeValue(const std::u16string& name) {
        auto it = valueIndex_.find(folded(name));
        if (it == valueIndex_.end()) return false;
        values_.erase(values_.begin() + static_cast<std::ptrdiff_t>(it->second));
        valueIndex_.clear();
        for (std::size_t i = 0; i < values_.size(); ++i) valueIndex_.emplace(folded(values_[i].name), i);
        return true;
    }

private:
    std::u16string name_;
    std::vector<Value> values_;
    std::vector<Node> children_;
    std::unordered_map<std::u16string, std::size_t> valueIndex_;
    std::unordered_map<std::u16string, std::size_t> childIndex_;
};

// The whole store: the top node's children are the roots, named in full.
struct Store {
    Node top;
};

Node* findKey(Store& store, int root, const std::vector<std::u16string>& path) {
    Node* node = &store.top.addChild(kRootNames[root]);
    for (const auto& part : path) {
        node = node->child(part);
        if (!node) return nullptr;
    }
    return node;
}

// ---------------------------------------------------------------------------
// Parsing

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string trimmed(const std::u16string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && isBlank(s[b])) ++b;
    while (e > b && isBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

int hexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool startsWithFolded(const std::u16string& s, std::size_t pos, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (pos + i >= s.size() || foldCase(s[pos + i]) != foldCase(static_cast<char16_t>(prefix[i])))
            return false;
    }
    return true;
}

bool onlyBlanksFrom(const std::u16string& s, std::size_t pos) {
    for (; pos < s.size(); ++pos)
        if (!isBlank(s[pos])) return false;
    return true;
}

// A quoted string starting at s[pos] == '"'. A backslash takes the next
// character literally, which covers the two escapes the file uses (\\ and \").
bool parseQuoted(const std::u16string& s, std::size_t& pos, std::u16string& out) {
    out.clear();
    ++pos;
    while (pos < s.size()) {
        char16_t c = s[pos++];
        if (c == u'"') return true;
        if (c == u'\\') {
            if (pos >= s.size()) return false;
            c = s[pos++];
        }
        out += c;
    }
    return false;
}

bool parseHexNumber(const std::u16string& s, std::size_t& pos, std::size_t maxDigits, DWORD& out) {
    std::size_t digits = 0;
    out = 0;
    while (pos < s.size() && hexDigit(s[pos]) >= 0) {
        if (++digits > maxDigits) return false;
        out = (out << 4) | static_cast<DWORD>(hexDigit(s[pos]));
        ++pos;
    }
    return digits > 0;
}

// "01,ab, 3" with an optional trailing comma; an empty list is empty data.
bool parseHexBytes(const std::u16string& s, std::size_t pos, std::vector<BYTE>& out) {
    out.clear();
    std::u16string token;
    bool sawComma = false;
    auto flush = [&](bool last) {
        std::u16string t = trimmed(token);
        token.clear();
        if (t.empty()) return last && (sawComma || out.empty());
        if (t.size() > 2) return false;
        int value = 0;
        for (char16_t c : t) {
            int d = hexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        out.push_back(static_cast<BYTE>(value));
        return true;
    };
    for (; pos < s.size(); ++pos) {
        if (s[pos] == u',') {
            if (!flush(false)) return false;
            sawComma = true;
        } else {
            token += s[pos];
        }
    }
    return flush(true);
}

std::vector<BYTE> stringData(const std::u16string& text) {
    std::vector<BYTE> data;
    data.reserve((text.size() + 1) * 2);
    for (char16_t c : text) {
        data.push_back(static_cast<BYTE>(c & 0xFF));
        data.push_back(static_cast<BYTE>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    return data;
}

bool parseKeyPath(const std::u16string& text, std::vector<std::u16string>& parts) {
    parts.clear();
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(u'\\', start);
        if (end == std::u16string::npos) end = text.size();
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (parts.empty() || parts.size() > kMaxDepth + 1) return false;
    for (int r = 0; r < 2; ++r) {
        if (sameName(parts[0], kRootNames[r]) || sameName(parts[0], kRootShortNames[r]))
            parts[0] = kRootNames[r];
    }
    return true;
}

void removeKey(Store& store, const std::vector<std::u16string>& parts) {
    Node* parent = &store.top;
    for (std::size_t i = 0; parent && i + 1 < parts.size(); ++i) parent = parent->child(parts[i]);
    if (parent) parent->removeChild(parts.back());
}

Node& makeKey(Store& store, const std::vector<std::u16string>& parts) {
    Node* node = &store.top;
    for (const auto& part : parts) node = &node->addChild(part);
    return *node;
}

// Reads the whole text of a .reg file. Also accepts what people bring in from
// elsewhere: a UTF-8 or UTF-16LE byte-order mark, CRLF line ends, comment
// lines, the REGEDIT4 header, the HKCU/HKCR short root names and the
// [-key] / "name"=- deletion forms. Anything else that is not understood
// makes the whole file unreadable: guessing could lose the user's data.
bool parseStore(const std::string& bytes, Store& store) {
    store = Store();
    std::u16string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2 != 0) return false;
        for (std::size_t i = 2; i < bytes.size(); i += 2)
            text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                          (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (!validUtf16(text)) return false;
    } else {
        std::size_t skip = 0;
        if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) skip = 3;
        if (!utf8ToUtf16(std::string_view(bytes).substr(skip), text)) return false;
    }

    std::vector<std::u16string> lines;
    {
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find(u'\n', start);
            if (end == std::u16string::npos) end = text.size();
            std::u16string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == u'\r') line.pop_back();
            lines.push_back(std::move(line));
            start = end + 1;
        }
    }

    bool sawHeader = false;
    Node* current = nullptr;
    bool inDeletedSection = false;
    for (std::size_t li = 0; li < lines.size(); ++li) {
        std::u16string line = trimmed(lines[li]);
        if (line.empty() || line[0] == u';') continue;
        if (!sawHeader) {
            if (line != u"Windows Registry Editor Version 5.00" && line != u"REGEDIT4") return false;
            sawHeader = true;
            continue;
        }
        if (line[0] == u'[') {
            if (line.back() != u']' || line.size() < 3) return false;
            bool remove = line[1] == u'-';
            std::vector<std::u16string> parts;
            if (!parseKeyPath(line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2)), parts))
                return false;
            if (remove) {
                removeKey(store, parts);
                current = nullptr;
                inDeletedSection = true;
            } else {
                current = &makeKey(store, parts);
                inDeletedSection = false;
            }
            continue;
        }

        Value value;
        std::size_t pos = 0;
        if (line[0] == u'@') {
            pos = 1;
        } else if (line[0] == u'"') {
            if (!parseQuoted(line, pos, value.name)) return false;
        } else {
            return false;
        }
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        if (pos >= line.size() || line[pos] != u'=') return false;
        ++pos;
        while (pos < line.size() && isBlank(line[pos])) ++pos;
        if (pos >= line.size()) return false;

        bool remove = false;
        if (line[pos] == u'"') {
            std::u16string content;
            if (!parseQuoted(line, pos, content) || !onlyBlanksFrom(line, pos)) return false;
            value.type = REG_SZ;
            value.data = stringData(content);
        } else if (startsWithFolded(line, pos, "dword:")) {
            pos += 6;
            DWORD number;
            if (!parseHexNumber(line, pos, 8, number) || !onlyBlanksFrom(line, pos)) return false;
            value.type = REG_DWORD;
            value.data = {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8),
                          static_cast<BYTE>(number >> 16), static_cast<BYTE>(number >> 24)};
        } else if (startsWithFolded(line, pos, "hex")) {
            pos += 3;
            value.type = REG_BINARY;
            if (pos < line.size() && line[pos] == u'(') {
                ++pos;
                if (!parseHexNumber(line, pos, 8, value.type)) return false;
                if (pos >= line.size() || line[pos] != u')') return false;
                ++pos;
            }
            if (pos >= line.size() || line[pos] != u':') return false;
            ++pos;
            std::u16string list = line.substr(pos);
            while (!list.empty() && list.back() == u'\\') {
                list.pop_back();
                ++li;
                if (li >= lines.size()) return false;
                list += trimmed(lines[li]);
            }
            if (!parseHexBytes(list, 0, value.data)) return false;
        } else if (line[pos] == u'-' && onlyBlanksFrom(line, pos + 1)) {
            remove = true;
        } else {
            return false;
        }

        if (inDeletedSection) continue;
        if (!current) return false;
        if (remove) current->removeValue(value.name);
        else current->putValue(std::move(value));
    }
    // An empty file holds nothing to lose; anything else needs the header.
    return sawHeader || text.find_first_not_of(u" \t\r\n") == std::u16string::npos;
}

// ---------------------------------------------------------------------------
// Writing

void appendEscaped(std::string& out, const std::u16string& text) {
    std::u16string escaped;
    escaped.reserve(text.size() + 2);
    escaped += u'"';
    for (char16_t c : text) {
        if (c == u'\\' || c == u'"') escaped += u'\\';
        escaped += c;
    }
    escaped += u'"';
    appendUtf16AsUtf8(out, escaped);
}

// REG_SZ data that reads back byte for byte from a quoted string: whole
// UTF-16 units, one terminating NUL and no other, valid text, no line break.
bool plainString(const std::vector<BYTE>& data, std::u16string& text) {
    if (data.size() < 2 || data.size() % 2 != 0) return false;
    text.clear();
    for (std::size_t i = 0; i + 2 < data.size(); i += 2) {
        char16_t c = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (c == 0 || c == u'\r' || c == u'\n') return false;
        text += c;
    }
    if (data[data.size() - 2] != 0 || data[data.size() - 1] != 0) return false;
    return validUtf16(text);
}

void appendHexList(std::string& out, const std::vector<BYTE>& data, std::size_t lineStart) {
    static const char digits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < data.size(); ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
        if (i + 1 < data.size()) {
            out += ',';
            if (out.size() - lineStart > 76) {
                out += "\\\n  ";
                lineStart = out.size() - 2;
            }
        }
    }
}

void appendValue(std::string& out, const Value& value) {
    std::size_t lineStart = out.size();
    if (value.name.empty()) out += '@';
    else appendEscaped(out, value.name);
    out += '=';
    std::u16string text;
    if (value.type == REG_SZ && plainString(value.data, text)) {
        appendEscaped(out, text);
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "dword:%08x",
                      static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                            (value.data[2] << 16) |
                                            (static_cast<DWORD>(value.data[3]) << 24)));
        out += buffer;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            char buffer[24];
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        appendHexList(out, value.data, lineStart);
    }
    out += '\n';
}

void appendSection(std::string& out, const std::string& path, const Node& node) {
    out += "\n[";
    out += path;
    out += "]\n";
    for (const auto& v : node.values()) appendValue(out, v);
}

void appendTree(std::string& out, const std::string& path, const Node& node) {
    appendSection(out, path, node);
    for (const auto& child : node.children()) {
        std::string childPath = path + "\\";
        appendUtf16AsUtf8(childPath, child.name());
        appendTree(out, childPath, child);
    }
}

std::string serialiseStore(const Store& store) {
    std::string out = kHeader;
    out += '\n';
    for (const auto& root : store.top.children()) {
        std::string path;
        appendUtf16AsUtf8(path, root.name());
        // A root gets a section of its own only when something would
        // otherwise be lost: its values, or an unknown root that is empty.
        bool known = sameName(root.name(), kRootNames[0]) || sameName(root.name(), kRootNames[1]);
        if (!root.values().empty() || (!known && root.children().empty())) appendSection(out, path, root);
        for (const auto& child : root.children()) {
            std::string childPath = path + "\\";
            appendUtf16AsUtf8(childPath, child.name());
            appendTree(out, childPath, child);
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The file and its lock

std::string folderOf(const std::string& file) {
    std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string(".") : file.substr(0, slash);
}

LONG errnoToError(int error, LONG fallback) {
    switch (error) {
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return fallback;
    }
}

enum class ReadResult { Ok, Missing, TooLarge, Failed };

ReadResult readWholeFile(const std::string& path, std::string& content, int& error) {
    content.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return error == ENOENT ? ReadResult::Missing : ReadResult::Failed;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : errno;
        close(fd);
        return ReadResult::Failed;
    }
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            close(fd);
            return ReadResult::Failed;
        }
        if (n == 0) break;
        if (content.size() + static_cast<std::size_t>(n) > kMaxFileBytes) {
            close(fd);
            return ReadResult::TooLarge;
        }
        content.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return ReadResult::Ok;
}

bool makeFolders(const std::string& folder) {
    struct stat st;
    if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !makeFolders(folder.substr(0, slash))) return false;
    if (mkdir(folder.c_str(), 0700) == 0) return true;
    return errno == EEXIST && stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void syncFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

class StoreLock {
public:
    explicit StoreLock(const std::string& file) {
        fd_ = open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~StoreLock() {
        if (fd_ >= 0) close(fd_);  // closing drops the flock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool held() const { return fd_ >= 0; }
    int error() const { return error_; }

private:
    int fd_ = -1;
    int error_ = 0;
};

// Moves an unreadable file out of the way under a name of its own. Called
// with the lock held, so nobody else is renaming or replacing it meanwhile.
bool setAside(const std::string& file) {
    std::string base = file + ".unreadable-" + std::to_string(static_cast<long long>(std::time(nullptr))) +
                       "-" + std::to_string(static_cast<long>(getpid()));
    std::string target = base;
    struct stat st;
    for (int n = 1; lstat(target.c_str(), &st) == 0; ++n) target = base + "-" + std::to_string(n);
    if (rename(file.c_str(), target.c_str()) != 0) return false;
    syncFolder(folderOf(file));
    return true;
}

// Temporary files are only ever present while their writer holds the lock;
// any found by a lock holder were left by a writer that died.
void removeStaleTemporaries(const std::string& file) {
    std::string folder = folderOf(file);
    std::size_t slash = file.rfind('/');
    std::string prefix = (slash == std::string::npos ? file : file.substr(slash + 1)) + ".tmp-";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) == 0)
            unlink((folder + "/" + entry->d_name).c_str());
    }
    closedir(dir);
}

// Reads and parses the file. True when that settles the load, with its
// outcome in result; false when the file is unreadable and must be set aside.
bool readStoreFile(const std::string& file, Store& store, LONG& result) {
    std::string content;
    int error = 0;
    switch (readWholeFile(file, content, error)) {
    case ReadResult::Missing:
        store = Store();
        result = ERROR_SUCCESS;
        return true;
    case ReadResult::Failed:
        result = errnoToError(error, ERROR_CANTREAD);
        return true;
    case ReadResult::TooLarge:
        return false;
    case ReadResult::Ok:
        result = ERROR_SUCCESS;
        return parseStore(content, store);
    }
    return false;
}

// Loads the store with the lock held; an unreadable file is set aside and the
// store starts empty.
LONG loadLocked(const std::string& file, Store& store) {
    LONG result = ERROR_SUCCESS;
    if (readStoreFile(file, store, result)) return result;
    if (!setAside(file)) return ERROR_CANTREAD;
    store = Store();
    return ERROR_SUCCESS;
}

// Reads the store as it is now. The file only ever changes by rename, so no
// lock is needed unless it turns out unreadable and has to be set aside.
LONG loadStore(Store& store) {
    std::string file = registryFilePath();
    if (file.empty()) return ERROR_PATH_NOT_FOUND;
    LONG result = ERROR_SUCCESS;
    if (readStoreFile(file, store, result)) return result;
    StoreLock lock(file);
    if (!lock.held()) return errnoToError(lock.error(), ERROR_CANTREAD);
    return loadLocked(file, store);
}

LONG replaceFile(const std::string& file, const std::string& content) {
    static std::atomic<unsigned> sequence{0};
    std::string temporary = file + ".tmp-" + std::to_string(static_cast<long>(getpid())) + "-" +
                            std::to_string(sequence.fetch_add(1));
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return errnoToError(errno, ERROR_CANTWRITE);
    // Keep the permissions the user gave the file.
    struct stat st;
    if (stat(file.c_str(), &st) == 0) fchmod(fd, st.st_mode & 07777);
    std::size_t written = 0;
    int error = 0;
    while (written < content.size()) {
        ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temporary.c_str(), file.c_str()) != 0) error = errno;
    if (error) {
        unlink(temporary.c_str());
        return errnoToError(error, ERROR_CANTWRITE);
    }
    syncFolder(folderOf(file));
    return ERROR_SUCCESS;
}

// One write: lock, re-read, change, replace. `change` returns an error code
// and sets `changed` when the store differs afterwards; an unchanged store is
// not rewritten.
template <typename Change>
LONG modifyStore(Change&& change) {
    std::string file = registryFilePath();
    if (file.empty()) return ERROR_PATH_NOT_FOUND;
    if (!makeFolders(folderOf(file))) return errnoToError(errno, ERROR_PATH_NOT_FOUND);
    StoreLock lock(file);
    if (!lock.held()) return errnoToError(lock.error(), ERROR_CANTWRITE);
    Store store;
    LONG status = loadLocked(file, store);
    if (status != ERROR_SUCCESS) return status;
    bool changed = false;
    status = change(store, changed);
    if (status != ERROR_SUCCESS || !changed) return status;
    std::string content = serialiseStore(store);
    // The file must stay loadable; past this size it would be set aside.
    if (content.size() > kMaxFileBytes) return ERROR_DISK_FULL;
    removeStaleTemporaries(file);
    return replaceFile(file, content);
}

// ---------------------------------------------------------------------------
// Handles

std::mutex& handleMutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<RegistryKey*>& liveHandles() {
    static std::unordered_set<RegistryKey*> handles;
    return handles;
}

bool isRoot(HKEY key) { return key == &classesRootKey || key == &currentUserKey; }

bool validHandle(HKEY key) {
    if (!key) return false;
    if (isRoot(key)) return true;
    std::lock_guard<std::mutex> guard(handleMutex());
    return liveHandles().count(key) != 0;
}

HKEY newHandle(int root, std::vector<std::u16string> path) {
    auto* key = new RegistryKey{root, std::move(path)};
    std::lock_guard<std::mutex> guard(handleMutex());
    liveHandles().insert(key);
    return key;
}

std::vector<std::u16string> joinPath(HKEY base, const std::vector<std::u16string>& sub) {
    std::vector<std::u16string> path = base->path;
    path.insert(path.end(), sub.begin(), sub.end());
    return path;
}

template <typename Body>
LONG guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}

}  // namespace

HKEY const HKEY_CLASSES_ROOT = &classesRootKey;
HKEY const HKEY_CURRENT_USER = &currentUserKey;

std::string registryFilePath() {
    std::string config;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    if (xdg && xdg[0] == '/') {
        config = xdg;
    } else {
        const char* home = std::getenv("HOME");
        std::string homeDir;
        if (home && home[0]) {
            homeDir = home;
        } else {
            struct passwd entry;
            struct passwd* found = nullptr;
            char buffer[4096];
            if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
                found->pw_dir)
                homeDir = found->pw_dir;
        }
        if (homeDir.empty()) return std::string();
        config = homeDir + "/.config";
    }
    while (config.size() > 1 && config.back() == '/') config.pop_back();
    return config + "/" + kStoreFolder + "/" + kStoreName;
}

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, HKEY* result) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::u16string> path = joinPath(key, sub);
        Store store;
        LONG status = loadStore(store);
        if (status != ERROR_SUCCESS) return status;
        if (!findKey(store, key->root, path)) return ERROR_FILE_NOT_FOUND;
        *result = newHandle(key->root, std::move(path));
        return ERROR_SUCCESS;
    });
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM desired, void* securityAttributes, HKEY* result, DWORD* disposition) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_INVALID_NAME;
        std::vector<std::u16string> path = joinPath(key, sub);
        if (path.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
        bool created = false;
        LONG status = modifyStore([&](Store& store, bool& changed) -> LONG {
            // The handle's own key must still be there: a key that another
            // writer deleted is not brought back by creating below it.
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            for (const auto& part : sub) {
                if (!node->child(part)) created = true;
                node = &node->addChild(part);
            }
            changed = created;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) return status;
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        *result = newHandle(key->root, std::move(path));
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (data && !dataSize) return ERROR_INVALID_PARAMETER;
        Store store;
        LONG status = loadStore(store);
        if (status != ERROR_SUCCESS) return status;
        Node* node = findKey(store, key->root, key->path);
        if (!node) return ERROR_FILE_NOT_FOUND;
        const Value* value = node->value(wideToString(valueName));
        if (!value) return ERROR_FILE_NOT_FOUND;
        // Values are capped well below 4 GiB, so the size fits a DWORD.
        DWORD size = static_cast<DWORD>(value->data.size());
        if (type) *type = value->type;
        if (data) {
            if (*dataSize < size) {
                *dataSize = size;
                return ERROR_MORE_DATA;
            }
            if (size) std::memcpy(data, value->data.data(), size);
        }
        if (dataSize) *dataSize = size;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (!data && dataSize) return ERROR_INVALID_PARAMETER;
        if (dataSize > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
        Value value;
        value.name = wideToString(valueName);
        if (!writableName(value.name)) return ERROR_INVALID_PARAMETER;
        value.type = type;
        if (dataSize) value.data.assign(data, data + dataSize);
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            // Writing to a key that was deleted meanwhile fails rather than
            // recreating it: the delete was somebody's deliberate change.
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            const Value* existing = node->value(value.name);
            changed = !existing || existing->type != value.type || existing->data != value.data;
            if (changed) node->putValue(std::move(value));
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (!subKey) return ERROR_INVALID_PARAMETER;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::u16string> path = joinPath(key, sub);
        if (path.empty()) return ERROR_ACCESS_DENIED;  // a root is never deleted
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            std::vector<std::u16string> parentPath(path.begin(), path.end() - 1);
            Node* parent = findKey(store, key->root, parentPath);
            if (!parent) return ERROR_FILE_NOT_FOUND;
            changed = parent->removeChild(path.back());
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::u16string name = wideToString(valueName);
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            changed = node->removeValue(name);
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegCloseKey(HKEY key) {
    return guarded([&]() -> LONG {
        if (!key) return ERROR_INVALID_HANDLE;
        if (isRoot(key)) return ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> guard(handleMutex());
            if (liveHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
        }
        delete key;
        return ERROR_SUCCESS;
    });
}
