#include "fuzz/fuzz_harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "core/narrow_text.h"

namespace fuzzing {
namespace {

std::string baseDirectory;  // holds root/ and config/
std::string root;
std::string inputDevicePath;
bool ready = false;

[[noreturn]] void fail(const char* what, const std::string& path) {
    std::fprintf(stderr, "fuzz harness: %s: %s\n", what, path.c_str());
    std::abort();
}

void makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) fail("cannot create folder", path);
}

bool isDotEntry(const char* name) {
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// Removes everything below dir (not dir itself). Extracted files may be
// read-only, and folders may have lost their permissions, so every folder is
// made accessible again before it is entered.
void removeContents(const std::string& dir) {
    chmod(dir.c_str(), 0755);
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) fail("cannot list folder", dir);
    while (dirent* entry = readdir(listing)) {
        if (isDotEntry(entry->d_name)) continue;
        std::string path = dir + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            removeContents(path);
            if (rmdir(path.c_str()) != 0) fail("cannot remove folder", path);
        } else if (unlink(path.c_str()) != 0) {
            fail("cannot remove file", path);
        }
    }
    closedir(listing);
}

void removeAtExit() {
    if (!baseDirectory.empty()) {
        removeContents(baseDirectory);
        rmdir(baseDirectory.c_str());
    }
}

// A link below \out is acceptable only when its target stays inside: a
// relative target without any ".." component.
bool linkEscapes(const std::string& path) {
    char target[4096];
    ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
    if (length < 0) return true;
    target[length] = '\0';
    if (target[0] == '/') return true;
    const char* component = target;
    while (*component != '\0') {
        const char* end = std::strchr(component, '/');
        std::size_t size = end ? static_cast<std::size_t>(end - component) : std::strlen(component);
        if (size == 2 && component[0] == '.' && component[1] == '.') return true;
        if (end == nullptr) break;
        component = end + 1;
    }
    return false;
}

void checkOutputTree(const std::string& dir) {
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) fail("cannot list folder", dir);
    while (dirent* entry = readdir(listing)) {
        if (isDotEntry(entry->d_name)) continue;
        std::string path = dir + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (S_ISLNK(info.st_mode) && linkEscapes(path)) fail("link leads out of the output folder", path);
        if (S_ISDIR(info.st_mode)) {
            chmod(path.c_str(), 0755);
            checkOutputTree(path);
        }
    }
    closedir(listing);
}

// An extraction must never replace the file it reads, whatever name the data
// asks for.
std::string lastInput;

void verifyInputUnchanged(const char* inputName) {
    std::string hostPath = root + "/in/" + inputName;
    std::FILE* file = std::fopen(hostPath.c_str(), "rb");
    if (file == nullptr) fail("the input file has gone", hostPath);
    std::string content;
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, count);
    std::fclose(file);
    if (content != lastInput) fail("the input file was overwritten", hostPath);
}

}  // namespace

void initOnce() {
    if (ready) return;
    // A memory file system where there is one: every input creates, writes
    // and removes files, which on a disk file system costs far more than
    // the decoding does.
    struct stat shm;
    const bool inMemory = stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && access("/dev/shm", W_OK) == 0;
    std::string pattern = inMemory ? "/dev/shm/tovrin-fuzz-XXXXXX" : "/tmp/tovrin-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) fail("cannot create temporary folder", pattern);
    baseDirectory = pattern;
    root = baseDirectory + "/root";
    makeFolder(root);
    makeFolder(root + "/in");
    makeFolder(root + "/out");
    makeFolder(baseDirectory + "/config");
    setenv("TOVRIN_ROOT", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (baseDirectory + "/config").c_str(), 1);
    std::atexit(removeAtExit);

    buildLeadTable();
    if (!allocateSniffBuffer()) fail("cannot allocate the SniffBuffer", "");
    ready = true;
}

const std::string& rootDirectory() { return root; }

const char* writeInput(const char* inputName, const std::uint8_t* data, std::size_t size) {
    initOnce();
    std::string hostPath = root + "/in/" + inputName;
    // An input of another name left by the previous call is not this one's doing.
    if (!inputDevicePath.empty() && inputDevicePath != std::string("\\in\\") + inputName)
        unlink((root + "/in/" + inputDevicePath.substr(4)).c_str());
    int descriptor = open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (descriptor < 0) fail("cannot create the input file", hostPath);
    std::size_t written = 0;
    while (written < size) {
        ssize_t count = write(descriptor, data + written, size - written);
        if (count <= 0) fail("cannot write the input file", hostPath);
        written += static_cast<std::size_t>(count);
    }
    close(descriptor);
    lastInput.assign(reinterpret_cast<const char*>(data), size);
    inputDevicePath = std::string("\\in\\") + inputName;
    return inputDevicePath.c_str();
}

void probeAndExtract(FormatHandler& handler, const char* inputName, const std::uint8_t* data,
                     std::size_t size) {
    const char* path = writeInput(inputName, data, size);
    // The driver offers no handler a file of fewer than one byte.
    if (size > 0) {
        std::size_t head = std::min(size, kSniffBufferSize);
        std::memcpy(appState.sniffBuffer, data, head);
        auto fileSize = static_cast<std::int32_t>(std::min<std::size_t>(size, INT32_MAX));
        (void)handler.probe(path, fileSize);
        (void)handler.extract(path, kOutFolder);
    }
    checkConfinementAndClean(inputName);
}

void checkConfinementAndClean(const char* inputName) {
    // Only \in\<input> and \out may exist directly below the root.
    DIR* listing = opendir(root.c_str());
    if (listing == nullptr) fail("cannot list the device root", root);
    while (dirent* entry = readdir(listing)) {
        if (isDotEntry(entry->d_name)) continue;
        if (std::strcmp(entry->d_name, "in") != 0 && std::strcmp(entry->d_name, "out") != 0)
            fail("written outside the output folder", root + "/" + entry->d_name);
    }
    closedir(listing);

    listing = opendir((root + "/in").c_str());
    if (listing == nullptr) fail("cannot list the input folder", root + "/in");
    while (dirent* entry = readdir(listing)) {
        if (isDotEntry(entry->d_name)) continue;
        if (std::strcmp(entry->d_name, inputName) != 0)
            fail("written outside the output folder", root + "/in/" + entry->d_name);
    }
    closedir(listing);
    verifyInputUnchanged(inputName);

    std::string out = root + "/out";
    struct stat info;
    if (lstat(out.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        fail("the output folder was replaced or removed", out);
    checkOutputTree(out);
    removeContents(out);
}

}  // namespace fuzzing
