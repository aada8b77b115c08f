#include "tests/test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "core/narrow_text.h"
#include "core/request_outcome.h"
#include "formats/handler_registry.h"

namespace testing_support {
namespace {

// Program-wide start-up, once per test process, as the entry point does it.
void startProgramOnce() {
    static const bool started = (buildLeadTable(), allocateSniffBuffer(), appState.handlerListHead = buildHandlerList());
    (void)started;
}

// Read-only folders are opened up first, so that everything a test made goes.
void removeTree(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) {
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
        for (const auto& entry : std::filesystem::directory_iterator(path, error)) removeTree(entry.path());
    }
    std::filesystem::remove(path, error);
}

std::size_t openDescriptorCount() {
    std::error_code error;
    const std::filesystem::directory_iterator fds("/proc/self/fd", error);
    return static_cast<std::size_t>(std::distance(fds, std::filesystem::directory_iterator()));
}

}  // namespace

void DeviceSandbox::SetUp() {
    startProgramOnce();
    char pattern[] = "/tmp/tovrin-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    makeDirectories(root_ + "/config");
    for (const char* name : {"TOVRIN_ROOT", "XDG_CONFIG_HOME"}) {
        const char* value = std::getenv(name);
        savedEnvironment_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    setenv("TOVRIN_ROOT", root_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    resetRequest();
}

void DeviceSandbox::TearDown() {
    for (const auto& [name, value] : savedEnvironment_) {
        if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
    }
    if (!root_.empty() && !std::getenv("TOVRIN_KEEP_TEST_ROOT")) removeTree(root_);
}

std::string DeviceSandbox::host(const std::string& devicePath) const {
    std::string path = devicePath;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (!path.empty() && path[0] != '/') path = "/" + path;
    return root_ + path;
}

std::string DeviceSandbox::place(const std::string& name, const std::string& content) {
    makeDirectories(host("\\in"));
    writeFile(host("\\in\\" + name), content);
    return "\\in\\" + name;
}

int DeviceSandbox::extract(FormatHandler& handler, const std::string& devicePath, const std::string& dest) {
    makeDirectories(host(dest));
    const std::string content = readFile(host(devicePath));
    std::memcpy(appState.sniffBuffer, content.data(), std::min(content.size(), kSniffBufferSize));
    if (!content.empty()) (void)handler.probe(devicePath.c_str(), static_cast<std::int32_t>(content.size()));
    const std::size_t descriptors = openDescriptorCount();
    const int result = handler.extract(devicePath.c_str(), dest.c_str());
    EXPECT_EQ(openDescriptorCount(), descriptors) << handler.name << " left a file open";
    return result;
}

std::vector<std::string> DeviceSandbox::outputs(const std::string& dest) const { return listFiles(host(dest)); }

std::string DeviceSandbox::output(const std::string& name, const std::string& dest) const { return readFile(host(dest + "\\" + name)); }

std::string readFile(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& hostPath, const std::string& content) {
    std::ofstream(hostPath, std::ios::binary | std::ios::trunc) << content;
}

bool fileExists(const std::string& hostPath) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(hostPath, error));
}

bool isDirectory(const std::string& hostPath) { return std::filesystem::is_directory(hostPath); }

void makeDirectories(const std::string& hostPath) { std::error_code error; std::filesystem::create_directories(hostPath, error); }

std::vector<std::string> listFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(
             dir, std::filesystem::directory_options::follow_directory_symlink, error)) {
        if (!entry.is_directory()) files.push_back(std::filesystem::relative(entry.path(), dir).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string fixturePath(const std::string& name) { return std::string(TOVRIN_FIXTURES_DIR) + "/" + name; }

std::string fixture(const std::string& name) { return readFile(fixturePath(name)); }

FormatHandler& handlerNamed(const std::string& name) {
    startProgramOnce();
    for (FormatHandler* handler = appState.handlerListHead; handler; handler = handler->next) {
        if (name == handler->name) return *handler;
    }
    std::abort();  // a test names a handler the list does not have
}

::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    if (actual == expected) return ::testing::AssertionSuccess();
    const std::size_t common = std::min(actual.size(), expected.size());
    const auto offset = std::mismatch(actual.begin(), actual.begin() + static_cast<long>(common), expected.begin()).first -
                        actual.begin();
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
    auto quoted = [](const std::string& text) {
        std::string out = "'";
        for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
        return out + "'";
    };
    std::string command = quoted(TOVRIN_PROGRAM_PATH);
    for (const std::string& arg : args) command += " " + quoted(arg);
    const std::string output = "/tmp/tovrin-run-" + std::to_string(getpid());
    ProgramRun run;
    run.exitStatus = runShell(command + " </dev/null >" + output + ".out 2>" + output + ".err");
    run.out = readFile(output + ".out");
    run.err = readFile(output + ".err");
    std::remove((output + ".out").c_str());
    std::remove((output + ".err").c_str());
    return run;
}

int runShell(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool toolAvailable(const std::string& tool) {
    return runShell("command -v " + tool + " >/dev/null 2>&1") == 0;
}

void resetRequest() { clearRequestCounters(appState); appState.password[0] = '\0'; }

}  // namespace testing_support
