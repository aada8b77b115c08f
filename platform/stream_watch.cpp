#include "platform/stream_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/host_files.h"

namespace {

struct WatchedStream {
    std::FILE* inner;
    int descriptor;
    void (*watcher)(void*);
    void* context;
};

ssize_t watchedRead(void* cookie, char* buffer, size_t size) {
    auto* watched = static_cast<WatchedStream*>(cookie);
    for (;;) {
        ssize_t got = ::read(watched->descriptor, buffer, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

ssize_t watchedWrite(void* cookie, const char* buffer, size_t size) {
    auto* watched = static_cast<WatchedStream*>(cookie);
    size_t done = 0;
    while (done < size) {
        ssize_t wrote = ::write(watched->descriptor, buffer + done, size - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        done += static_cast<size_t>(wrote);
    }
    if (done > 0) watched->watcher(watched->context);
    // stdio takes a short count as an error, which is what it is.
    return done > 0 ? static_cast<ssize_t>(done) : -1;
}

int watchedSeek(void* cookie, off64_t* position, int whence) {
    auto* watched = static_cast<WatchedStream*>(cookie);
    off64_t result = ::lseek64(watched->descriptor, *position, whence);
    if (result < 0) return -1;
    *position = result;
    return 0;
}

int watchedClose(void* cookie) {
    auto* watched = static_cast<WatchedStream*>(cookie);
    int result = std::fclose(watched->inner);
    delete watched;
    return result;
}

bool statDevicePath(LPCWSTR path, struct stat& info) {
    std::string hostPath;
    return hostPathForCall(path, hostPath) && ::stat(hostPath.c_str(), &info) == 0;
}

}  // namespace

std::FILE* watchStreamWrites(std::FILE* stream, void (*watcher)(void*), void* context) {
    if (!stream || !watcher) return stream;
    int descriptor = ::fileno(stream);
    if (descriptor < 0) return stream;
    // Nothing was transferred through the inner stream yet, so its buffer is
    // empty and the descriptor's position is the stream's.
    auto* watched = new WatchedStream{stream, descriptor, watcher, context};
    cookie_io_functions_t functions{watchedRead, watchedWrite, watchedSeek, watchedClose};
    int access = ::fcntl(descriptor, F_GETFL) & O_ACCMODE;
    const char* mode = access == O_RDWR ? "r+" : access == O_WRONLY ? "w" : "r";
    std::FILE* outer = ::fopencookie(watched, mode, functions);
    if (!outer) {
        delete watched;
        return stream;
    }
    return outer;
}

long long openFileReadPosition(LPCWSTR path) {
    struct stat wanted;
    if (!statDevicePath(path, wanted)) return -1;
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors) return -1;
    long long furthest = -1;
    const int own = ::dirfd(descriptors);
    while (dirent* entry = ::readdir(descriptors)) {
        char* end = nullptr;
        long number = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end || number == own) continue;
        const int descriptor = static_cast<int>(number);
        struct stat info;
        if (::fstat(descriptor, &info) != 0 || info.st_dev != wanted.st_dev ||
            info.st_ino != wanted.st_ino)
            continue;
        off_t position = ::lseek(descriptor, 0, SEEK_CUR);
        if (position > furthest) furthest = position;
    }
    ::closedir(descriptors);
    return furthest;
}

long long deviceFileSize(LPCWSTR path) {
    struct stat info;
    return statDevicePath(path, info) ? static_cast<long long>(info.st_size) : -1;
}
