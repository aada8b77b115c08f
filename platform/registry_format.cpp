// The .reg text: parsing what people and other tools write, and writing it
// back in the form the registry editor exports.

#include "platform/registry_format.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/text_conversion.h"

namespace registry {

const char16_t* const kRootNames[2] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER"};

namespace {

const char16_t* const kRootShortNames[] = {u"HKCR", u"HKCU"};
const char* const kHeader = "Windows Registry Editor Version 5.00";

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



}  // namespace

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

// Names that could not be written back into the file as they are.
bool writableName(const std::u16string& name) {
    if (!validUtf16(name)) return false;
    for (char16_t c : name)
        if (c == u'\r' || c == u'\n') return false;
    return true;
}


std::u16string folded(const std::u16string& name) {
    std::u16string out(name);
    for (auto& c : out) c = foldCase(c);
    return out;
}

Node* findKey(Store& store, int root, const std::vector<std::u16string>& path) {
    Node* node = &store.top.addChild(kRootNames[root]);
    for (const auto& part : path) {
        node = node->child(part);
        if (!node) return nullptr;
    }
    return node;
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

}  // namespace registry
