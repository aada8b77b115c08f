#include "platform/desktop_association.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/text_conversion.h"

extern char** environ;

namespace {

// The MIME types of the desktop's shared database for our extensions, for a
// host without that database at hand.
struct KnownType {
    const char* extension;
    const char* mimeType;
};
constexpr KnownType kKnownTypes[] = {
    {"zip", "application/zip"},         {"lzh", "application/x-lha"},
    {"rar", "application/vnd.rar"},     {"tar", "application/x-tar"},
    {"bz2", "application/x-bzip"},      {"tbz", "application/x-bzip-compressed-tar"},
    {"gz", "application/gzip"},         {"tgz", "application/x-compressed-tar"},
    {"z", "application/x-compress"},    {"arj", "application/x-arj"},
    {"uue", "text/x-uuencode"},
};

// An absolute directory from an XDG variable, or HOME followed by fallback.
std::string xdgDirectory(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    if (value && value[0] == '/') return value;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/" + fallback;
}

std::string dataHome() { return xdgDirectory("XDG_DATA_HOME", ".local/share"); }
std::string configHome() { return xdgDirectory("XDG_CONFIG_HOME", ".config"); }

void makeDirectories(const std::string& path) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') mkdir(path.substr(0, at).c_str(), 0755);
    }
}

bool readText(const std::string& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

// Replaces the file whole: a crash leaves the old or the new text, never half.
bool writeText(const std::string& path, const std::string& text) {
    std::size_t slash = path.rfind('/');
    if (slash != std::string::npos) makeDirectories(path.substr(0, slash));
    std::string temporary = path + ".tovrin-new";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) return false;
    bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    written = std::fflush(out) == 0 && fsync(fileno(out)) == 0 && written;
    if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

std::vector<std::string> splitList(const std::string& value) {
    std::vector<std::string> items;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(';', start);
        if (end == std::string::npos) end = value.size();
        if (end > start) items.push_back(value.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string joinList(const std::vector<std::string>& items) {
    std::string value;
    for (const std::string& item : items) value += item + ";";
    return value;
}

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// "zip" from u".zip"; empty when the extension is not plain ASCII letters and digits.
std::string extensionName(LPCWSTR extension) {
    std::string name;
    if (!extension || extension[0] != u'.') return name;
    for (const WCHAR* p = extension + 1; *p; ++p) {
        bool plain = (*p >= u'a' && *p <= u'z') || (*p >= u'A' && *p <= u'Z') ||
                     (*p >= u'0' && *p <= u'9');
        if (!plain) return std::string();
        name.push_back(lowerAscii(static_cast<char>(*p)));
    }
    return name;
}

std::string declarationPath(const std::string& name) {
    return dataHome() + "/mime/packages/tovrin-unpacker-" + name + ".xml";
}

std::string declaredMimeType(const std::string& name) { return "application/x-tovrin-" + name; }

// The type the host's shared MIME database gives "*.name" (not the
// per-user database, which holds the program's own declarations).
std::string systemMimeType(const std::string& name) {
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string text;
        if (end > start && readText(list.substr(start, end - start) + "/mime/globs2", text)) {
            for (const std::string& line : splitLines(text)) {
                // weight:type:glob[:flags]
                std::size_t first = line.find(':');
                std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
                if (second == std::string::npos || line[0] == '#') continue;
                std::size_t third = line.find(':', second + 1);
                std::string glob = line.substr(second + 1, third == std::string::npos
                                                               ? std::string::npos
                                                               : third - second - 1);
                std::string wanted = "*." + name;
                bool same = glob.size() == wanted.size();
                for (std::size_t i = 0; same && i < glob.size(); ++i)
                    same = lowerAscii(glob[i]) == wanted[i];
                if (same) return line.substr(first + 1, second - first - 1);
            }
        }
        start = end + 1;
    }
    for (const KnownType& known : kKnownTypes) {
        if (name == known.extension) return known.mimeType;
    }
    return std::string();
}

std::string mimeTypeFor(const std::string& name) {
    struct stat info{};
    if (stat(declarationPath(name).c_str(), &info) == 0) return declaredMimeType(name);
    return systemMimeType(name);
}

std::string escapeXml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

// Exec value: the program quoted as a desktop entry's Exec wants it, then
// the file argument.
std::string execLine(const std::string& program) {
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += "\"";
    // The value itself escapes every backslash once more.
    std::string value;
    for (char c : quoted) {
        if (c == '\\') value += '\\';
        value += c;
    }
    return value + " %f";
}

std::string programPath() {
    char target[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : "tovrin-unpacker";
}

std::string desktopEntryPath() { return dataHome() + "/applications/" + kDesktopEntryName; }

// Adds or removes mimeType in the MimeType list of the program's entry; the
// entry goes when its list is empty.
bool updateDesktopEntry(const std::string& mimeType, bool add) {
    std::string path = desktopEntryPath();
    std::string text;
    std::vector<std::string> types;
    if (readText(path, text)) {
        for (const std::string& line : splitLines(text))
            if (line.compare(0, 9, "MimeType=") == 0) types = splitList(line.substr(9));
    } else if (!add) {
        return true;
    }
    std::vector<std::string> kept;
    for (const std::string& type : types)
        if (type != mimeType) kept.push_back(type);
    if (add) kept.push_back(mimeType);
    if (kept.empty()) {
        std::remove(path.c_str());
        return true;
    }
    // Name and icon are the installed entry's, which this one shadows for
    // the user: the types it opens show the installed icon.
    std::string entry = "[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=" + std::string(kDesktopProgramName) + "\n"
                        "Comment=Unpack archives and encoded files into a folder\n"
                        "Exec=" + execLine(programPath()) + "\n"
                        "Icon=" + std::string(kDesktopIconName) + "\n"
                        "Terminal=false\n"
                        "Categories=Utility;Archiving;Compression;\n"
                        "MimeType=" + joinList(kept) + "\n";
    return writeText(path, entry);
}

// Puts the program's entry first among the defaults for mimeType, or takes
// it out; the other entries of the line stay in their order.
bool updateDefaults(const std::string& mimeType, bool add) {
    std::string path = configHome() + "/mimeapps.list";
    std::string text;
    bool existed = readText(path, text);
    if (!existed && !add) return true;
    std::vector<std::string> lines = splitLines(text);
    const std::string section = "[Default Applications]";
    const std::string key = mimeType + "=";
    bool inSection = false;
    bool found = false;
    bool changed = false;
    std::size_t sectionEnd = std::string::npos;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && line[0] == '[') {
            if (inSection && sectionEnd == std::string::npos) sectionEnd = i;
            inSection = line == section;
            continue;
        }
        if (!inSection || line.compare(0, key.size(), key) != 0) continue;
        found = true;
        std::vector<std::string> items;
        if (add) items.push_back(kDesktopEntryName);
        for (const std::string& item : splitList(line.substr(key.size())))
            if (item != kDesktopEntryName) items.push_back(item);
        std::string replaced = key + joinList(items);
        if (items.empty()) {
            lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
            --i;
            changed = true;
        } else if (replaced != line) {
            lines[i] = replaced;
            changed = true;
        }
    }
    if (!found && add) {
        std::size_t at = lines.size();
        bool hasSection = false;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i] == section) {
                hasSection = true;
                at = i + 1;
                while (at < lines.size() && !(!lines[at].empty() && lines[at][0] == '[')) ++at;
                // Before the blank lines that end the section.
                while (at > i + 1 && lines[at - 1].empty()) --at;
                break;
            }
        }
        if (!hasSection) {
            if (!lines.empty() && !lines.back().empty()) lines.push_back("");
            lines.push_back(section);
            at = lines.size();
        }
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at),
                     key + kDesktopEntryName + ";");
        changed = true;
    }
    return !changed || writeText(path, joinLines(lines));
}

// Lets the desktop see a declaration that was added or removed.
void refreshMimeDatabase() {
    std::string directory = dataHome() + "/mime";
    std::string program = "update-mime-database";
    char* argv[] = {program.data(), directory.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

std::string desktopMimeTypeOf(LPCWSTR extension) {
    std::string name = extensionName(extension);
    return name.empty() ? std::string() : mimeTypeFor(name);
}

bool desktopRegisterType(LPCWSTR extension, LPCWSTR description) {
    std::string name = extensionName(extension);
    if (name.empty()) return false;
    std::string mimeType = mimeTypeFor(name);
    if (mimeType.empty()) {
        mimeType = declaredMimeType(name);
        std::string comment;
        if (!description || !utf16ToUtf8(description, comment)) comment.clear();
        std::string declaration =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
            "  <mime-type type=\"" + mimeType + "\">\n"
            "    <comment>" + escapeXml(comment) + "</comment>\n"
            "    <glob pattern=\"*." + name + "\"/>\n"
            "  </mime-type>\n"
            "</mime-info>\n";
        if (!writeText(declarationPath(name), declaration)) return false;
        refreshMimeDatabase();
    }
    bool entryWritten = updateDesktopEntry(mimeType, true);
    return updateDefaults(mimeType, true) && entryWritten;
}

void desktopUnregisterType(LPCWSTR extension) {
    std::string name = extensionName(extension);
    if (name.empty()) return;
    std::string mimeType = mimeTypeFor(name);
    if (mimeType.empty()) return;
    updateDefaults(mimeType, false);
    updateDesktopEntry(mimeType, false);
    if (std::remove(declarationPath(name).c_str()) == 0) refreshMimeDatabase();
}
