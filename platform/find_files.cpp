// Folder searches: FindFirstFileW, FindNextFileW, FindClose.
//
// Names compare without regard to case, as on the device's file systems:
// ASCII, Latin-1 and the full-width Latin letters fold together. Entries
// whose host name is not valid UTF-8, or too long for cFileName, cannot be
// named through the device's calls and are passed over.
#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/handles.h"
#include "platform/host_files.h"
#include "platform/text_conversion.h"
#include "platform/wildcard.h"

namespace {

char16_t foldCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
    return c;
}

std::string joinPath(const std::string& folder, const char* name) {
    if (folder == "/") return std::string("/") + name;
    return folder + "/" + name;
}

struct FindObject : HandleObject {
    FindObject() : HandleObject(Kind::Find) {}
    ~FindObject() override {
        if (directory) closedir(directory);
    }

    DIR* directory = nullptr;
    std::string folder;
    dev_t folderDevice = 0;
    std::u16string pattern;
};

// Fills data with the next entry that matches; false at the end.
bool nextMatch(FindObject& find, WIN32_FIND_DATAW& data) {
    std::u16string name;
    while (dirent* entry = readdir(find.directory)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
        if (!utf8ToUtf16(entry->d_name, name) || name.size() >= static_cast<std::size_t>(MAX_PATH))
            continue;
        if (!wildcardMatch(find.pattern, name, true)) continue;
        std::string hostPath = joinPath(find.folder, entry->d_name);
        struct stat st;
        // A dangling link is still an entry; it shows as what it is.
        if (stat(hostPath.c_str(), &st) != 0 && lstat(hostPath.c_str(), &st) != 0) continue;
        std::memset(&data, 0, sizeof data);
        data.dwFileAttributes = attributesOf(hostPath, st, &find.folderDevice);
        data.ftCreationTime = fileTimeFromTimespec(st.st_mtim);
        data.ftLastAccessTime = fileTimeFromTimespec(st.st_atim);
        data.ftLastWriteTime = fileTimeFromTimespec(st.st_mtim);
        if (!S_ISDIR(st.st_mode)) {
            auto size = static_cast<std::uint64_t>(st.st_size);
            data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
            data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFFu);
        }
        std::memcpy(data.cFileName, name.data(), name.size() * sizeof(WCHAR));
        data.cFileName[name.size()] = 0;
        return true;
    }
    return false;
}

}  // namespace

// Greedy with a single backtrack point, so hostile patterns cost
// linear-times-stars, not exponential time.
bool wildcardMatch(const std::u16string& pattern, const std::u16string& name, bool ignoreCase) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::u16string::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || pattern[p] == name[n] ||
                    (ignoreCase && foldCase(pattern[p]) == foldCase(name[n])))) {
            ++p;
            ++n;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string hostPattern;
    if (!hostPathForCall(pattern, hostPattern)) return INVALID_HANDLE_VALUE;
    auto* find = new FindObject();
    std::string::size_type slash = hostPattern.rfind('/');
    std::string namePattern;
    if (slash == std::string::npos) {
        find->folder = ".";
        namePattern = hostPattern;
    } else {
        find->folder = slash == 0 ? "/" : hostPattern.substr(0, slash);
        namePattern = hostPattern.substr(slash + 1);
    }
    // "*.*" is the device's way of asking for every name, dotted or not.
    if (namePattern == "*.*") namePattern = "*";
    if (namePattern.empty() || !utf8ToUtf16(namePattern, find->pattern)) {
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    struct stat folderStat;
    int folderError = stat(find->folder.c_str(), &folderStat) != 0 ? errno
                      : !S_ISDIR(folderStat.st_mode)                ? ENOTDIR
                                                                    : 0;
    if (folderError) {
        delete find;
        SetLastError(folderError == ENOENT || folderError == ENOTDIR
                         ? ERROR_PATH_NOT_FOUND
                         : deviceErrorFor(folderError, hostPattern));
        return INVALID_HANDLE_VALUE;
    }
    find->folderDevice = folderStat.st_dev;
    find->directory = opendir(find->folder.c_str());
    if (!find->directory) {
        int error = errno;
        delete find;
        SetLastError(error == ENOENT ? ERROR_PATH_NOT_FOUND : deviceErrorFor(error, hostPattern));
        return INVALID_HANDLE_VALUE;
    }
    if (!nextMatch(*find, *data)) {
        delete find;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return registerHandle(find);
}

BOOL FindNextFileW(HANDLE handle, WIN32_FIND_DATAW* data) {
    auto* find = static_cast<FindObject*>(lookupHandle(handle, HandleObject::Kind::Find));
    if (!find) return FALSE;
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!nextMatch(*find, *data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

BOOL FindClose(HANDLE handle) { return destroyHandle(handle, HandleObject::Kind::Find); }
