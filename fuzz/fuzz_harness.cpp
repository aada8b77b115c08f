#include "fuzz/fuzz_harness.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <tuple>

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

// A link below \out is acceptable only when its target stays inside: a
// relative target without any ".." component.
bool linkEscapes(const std::string& path) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length <= 0) return true;
    const std::string text(target, static_cast<std::size_t>(length));
    return text[0] == '/' || ("/" + text + "/").find("/../") != std::string::npos;
}

// Removes everything below dir (not dir itself); with checkLinks, aborts at
// a link that leads out. Extracted files may be read-only, and folders may
// have lost their permissions, so every folder is made accessible again
// before it is entered.
void removeContents(const std::string& dir, bool checkLinks) {
    chmod(dir.c_str(), 0755);
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) fail("cannot list folder", dir);
    while (dirent* entry = readdir(listing)) {
        if (isDotEntry(entry->d_name)) continue;
        std::string path = dir + "/" + entry->d_name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) continue;
        if (checkLinks && S_ISLNK(info.st_mode) && linkEscapes(path)) fail("link leads out of the output folder", path);
        if (S_ISDIR(info.st_mode)) {
            removeContents(path, checkLinks);
            if (rmdir(path.c_str()) != 0) fail("cannot remove folder", path);
        } else if (unlink(path.c_str()) != 0) {
            fail("cannot remove file", path);
        }
    }
    closedir(listing);
}

void removeAtExit() {
    if (!baseDirectory.empty()) {
        removeContents(baseDirectory, false);
        rmdir(baseDirectory.c_str());
    }
}

// An extraction must never replace the file it reads, whatever name the data
// asks for.
std::string lastInput;

void verifyInputUnchanged(const char* inputName) {
    std::string hostPath = root + "/in/" + inputName;
    std::ifstream file(hostPath, std::ios::binary);
    if (!file) fail("the input file has gone", hostPath);
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (content != lastInput) fail("the input file was overwritten", hostPath);
}

}  // namespace

void initOnce() {
    if (ready) return;
    // A memory file system where there is one: every input creates, writes
    // and removes files, which on a disk file system costs far more than
    // the decoding does.
    std::string pattern = "/dev/shm/tovrin-fuzz-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr && mkdtemp(&(pattern = "/tmp/tovrin-fuzz-XXXXXX")[0]) == nullptr)
        fail("cannot create temporary folder", pattern);
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
    std::ofstream file(hostPath, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    file.close();
    if (!file) fail("cannot write the input file", hostPath);
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
    // Only \in\<input> and \out may exist below the root.
    for (const auto& [dir, a, b] : {std::make_tuple(root, "in", "out"), std::make_tuple(root + "/in", inputName, "")}) {
        DIR* listing = opendir(dir.c_str());
        if (listing == nullptr) fail("cannot list folder", dir);
        while (dirent* entry = readdir(listing)) {
            if (!isDotEntry(entry->d_name) && std::strcmp(entry->d_name, a) != 0 && std::strcmp(entry->d_name, b) != 0)
                fail("written outside the output folder", dir + "/" + entry->d_name);
        }
        closedir(listing);
    }
    verifyInputUnchanged(inputName);

    std::string out = root + "/out";
    struct stat info;
    if (lstat(out.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        fail("the output folder was replaced or removed", out);
    removeContents(out, true);
}

}  // namespace fuzzing
