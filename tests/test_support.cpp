#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

#include "core/app_state.h"
#include "core/narrow_text.h"
#include "core/request_outcome.h"
#include "formats/handler_registry.h"

extern char** environ;

namespace testing_support {
namespace {

// Program-wide start-up, once per test process, as the entry point does it.
void startProgramOnce() {
    static bool started = false;
    if (started) return;
    started = true;
    buildLeadTable();
    allocateSniffBuffer();
    appState.handlerListHead = buildHandlerList();
}

void removeTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
                removeTree(path + "/" + entry->d_name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void collectFiles(const std::string& base, const std::string& relative,
                  std::vector<std::string>& out) {
    std::string dirPath = relative.empty() ? base : base + "/" + relative;
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) return;
    while (dirent* entry = readdir(dir)) {
        if (!std::strcmp(entry->d_name, ".") || !std::strcmp(entry->d_name, "..")) continue;
        std::string rel = relative.empty() ? entry->d_name : relative + "/" + entry->d_name;
        if (isDirectory(base + "/" + rel)) {
            collectFiles(base, rel, out);
        } else {
            out.push_back(rel);
        }
    }
    closedir(dir);
}

std::string readAll(int fd) {
    std::string data;
    char chunk[65536];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) data.append(chunk, static_cast<size_t>(n));
    return data;
}

}  // namespace

void DeviceSandbox::SetUp() {
    startProgramOnce();
    char pattern[] = "/tmp/tovrin-test-XXXXXX";
    char* made = mkdtemp(pattern);
    ASSERT_NE(made, nullptr);
    root_ = made;
    makeDirectories(root_ + "/config");
    if (const char* r = std::getenv("TOVRIN_ROOT")) {
        hadRoot_ = true;
        savedRoot_ = r;
    }
    if (const char* c = std::getenv("XDG_CONFIG_HOME")) {
        hadConfig_ = true;
        savedConfig_ = c;
    }
    setenv("TOVRIN_ROOT", root_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    resetRequest();
}

void DeviceSandbox::TearDown() {
    if (hadRoot_) setenv("TOVRIN_ROOT", savedRoot_.c_str(), 1); else unsetenv("TOVRIN_ROOT");
    if (hadConfig_) setenv("XDG_CONFIG_HOME", savedConfig_.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
    if (!root_.empty() && !std::getenv("TOVRIN_KEEP_TEST_ROOT")) removeTree(root_);
}

std::string DeviceSandbox::host(const std::string& devicePath) const {
    std::string path = devicePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!path.empty() && path[0] != '/') path = "/" + path;
    return root_ + path;
}

std::string readFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeFile(const std::string& hostPath, const std::string& content) {
    std::ofstream out(hostPath, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

bool fileExists(const std::string& hostPath) {
    struct stat st;
    return lstat(hostPath.c_str(), &st) == 0;
}

bool isDirectory(const std::string& hostPath) {
    struct stat st;
    return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void makeDirectories(const std::string& hostPath) {
    std::string partial;
    std::stringstream parts(hostPath);
    std::string part;
    if (!hostPath.empty() && hostPath[0] == '/') partial = "";
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        partial += "/" + part;
        mkdir(partial.c_str(), 0755);
    }
}

std::vector<std::string> listFiles(const std::string& dir) {
    std::vector<std::string> files;
    collectFiles(dir, "", files);
    std::sort(files.begin(), files.end());
    return files;
}

std::string fixturePath(const std::string& name) {
    return std::string(TOVRIN_FIXTURES_DIR) + "/" + name;
}

::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    std::size_t offset = 0;
    while (offset < actual.size() && offset < expected.size() && actual[offset] == expected[offset]) {
        ++offset;
    }
    return ::testing::AssertionFailure() << "got " << actual.size() << " bytes, expected "
                                         << expected.size() << "; first difference at offset "
                                         << offset;
}

std::string sampleData(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string data;
    data.reserve(size);
    static const char* const words[] = {"archive ", "member ", "folder ", "header ",
                                        "decoder ", "window ", "\n", "0123 "};
    while (data.size() < size) {
        switch ((data.size() / 4096 + seed) % 3) {
        case 0:  // text
            data += words[random() % 8];
            break;
        case 1:  // structured binary
            for (int i = 0; i < 16; ++i) data.push_back(static_cast<char>((data.size() * 7) & 0x3F));
            break;
        default:  // random
            for (int i = 0; i < 16; ++i) data.push_back(static_cast<char>(random() & 0xFF));
            break;
        }
    }
    data.resize(size);
    return data;
}

ProgramRun runProgram(const std::vector<std::string>& args) {
    ProgramRun run;
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    std::vector<std::string> argvStrings{TOVRIN_PROGRAM_PATH};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argvStrings) argv.push_back(&s[0]);
    argv.push_back(nullptr);
    pid_t pid;
    int spawned = posix_spawn(&pid, TOVRIN_PROGRAM_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return run;
    }
    // Outputs are small; read stdout fully, then stderr.
    run.out = readAll(outPipe[0]);
    run.err = readAll(errPipe[0]);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

int runShell(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool toolAvailable(const std::string& tool) {
    return runShell("command -v " + tool + " >/dev/null 2>&1") == 0;
}

void resetRequest() {
    clearRequestCounters(appState);
    appState.password[0] = '\0';
}

}  // namespace testing_support
