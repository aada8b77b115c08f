#include "fuzz/fuzz_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "core/narrow_text.h"

namespace fuzzing {
namespace {

namespace fs = std::filesystem;

fs::path baseDirectory;  // holds root/ and config/
fs::path root;
std::string inputDevicePath;
// An extraction must never replace the file it reads, whatever name the data
// asks for.
std::string lastInput;
bool ready = false;

[[noreturn]] void fail(const char* what, const fs::path& path) {
    std::fprintf(stderr, "fuzz harness: %s: %s\n", what, path.c_str());
    std::abort();
}

// A link below \out is acceptable only when its target stays inside: a
// relative target without any ".." component.
bool linkEscapes(const fs::path& link) {
    std::error_code error;
    const std::string text = fs::read_symlink(link, error).string();
    return error || text.empty() || text[0] == '/' || ("/" + text + "/").find("/../") != std::string::npos;
}

// Removes everything below dir (not dir itself); with checkLinks, aborts at
// a link that leads out. Extracted files may be read-only, and folders may
// have lost their permissions, so every folder is made accessible again
// before it is entered.
void removeContents(const fs::path& dir, bool checkLinks) {
    std::error_code error;
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, error);
    fs::directory_iterator listing(dir, error);
    if (error) fail("cannot list folder", dir);
    for (const fs::directory_entry& entry : listing) {
        const fs::file_status status = entry.symlink_status(error);
        if (checkLinks && fs::is_symlink(status) && linkEscapes(entry.path()))
            fail("link leads out of the output folder", entry.path());
        if (fs::is_directory(status)) removeContents(entry.path(), checkLinks);
        if (!fs::remove(entry.path(), error)) fail("cannot remove", entry.path());
    }
}

void removeAtExit() {
    std::error_code error;
    if (!baseDirectory.empty()) removeContents(baseDirectory, false);
    fs::remove(baseDirectory, error);
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
    root = baseDirectory / "root";
    for (const fs::path& folder : {root / "in", root / "out", baseDirectory / "config"}) {
        std::error_code error;
        if (!fs::create_directories(folder, error)) fail("cannot create folder", folder);
    }
    setenv("TOVRIN_ROOT", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (baseDirectory / "config").c_str(), 1);
    std::atexit(removeAtExit);

    buildLeadTable();
    if (!allocateSniffBuffer()) fail("cannot allocate the SniffBuffer", "");
    ready = true;
}

const char* writeInput(const char* inputName, const std::uint8_t* data, std::size_t size) {
    initOnce();
    const fs::path hostPath = root / "in" / inputName;
    // An input of another name left by the previous call is not this one's doing.
    std::error_code error;
    if (!inputDevicePath.empty() && inputDevicePath != std::string("\\in\\") + inputName)
        fs::remove(root / "in" / inputDevicePath.substr(4), error);
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
        std::memcpy(appState.sniffBuffer, data, std::min(size, kSniffBufferSize));
        (void)handler.probe(path, static_cast<std::int32_t>(std::min<std::size_t>(size, INT32_MAX)));
        (void)handler.extract(path, kOutFolder);
    }
    checkConfinementAndClean(inputName);
}

void checkConfinementAndClean(const char* inputName) {
    // Only \in\<input> and \out may exist below the root.
    for (const auto& [dir, a, b] : {std::make_tuple(root, "in", "out"), std::make_tuple(root / "in", inputName, "")}) {
        std::error_code error;
        fs::directory_iterator listing(dir, error);
        if (error) fail("cannot list folder", dir);
        for (const fs::directory_entry& entry : listing) {
            const std::string name = entry.path().filename();
            if (name != a && name != b) fail("written outside the output folder", entry.path());
        }
    }
    std::ifstream file(root / "in" / inputName, std::ios::binary);
    if (!file) fail("the input file has gone", root / "in" / inputName);
    if (std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()) != lastInput)
        fail("the input file was overwritten", root / "in" / inputName);

    const fs::path out = root / "out";
    std::error_code error;
    if (!fs::is_directory(fs::symlink_status(out, error))) fail("the output folder was replaced or removed", out);
    removeContents(out, true);
}

}  // namespace fuzzing
