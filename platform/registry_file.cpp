#include "platform/registry_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace registry {

namespace {

const char* const kStoreFolder = "tovrin-unpacker";
const char* const kStoreName = "registry.reg";
// A larger file is not one we wrote; it is set aside rather than loaded.
constexpr std::size_t kMaxFileBytes = 64u << 20;

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

}  // namespace

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

LONG modifyStore(const std::function<LONG(Store& store, bool& changed)>& change) {
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

}  // namespace registry

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
    return config + "/" + registry::kStoreFolder + "/" + registry::kStoreName;
}
