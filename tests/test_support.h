// Shared helpers for the test suites: a private device file system per test
// with a way to run a handler in it, host file helpers and a runner for the
// real program.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

class FormatHandler;

namespace testing_support {

// A fresh temporary directory that is the device root (TOVRIN_ROOT) and the
// home of the registry (XDG_CONFIG_HOME) for the duration of one test. The
// program-wide state (lead table, SniffBuffer, HandlerList) is set up once.
class DeviceSandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Host path of a device path below the root ("\\out\\a" -> root/out/a).
    std::string host(const std::string& devicePath) const;
    const std::string& root() const { return root_; }

    // Writes content to \\in\\<name>; returns that device path.
    std::string place(const std::string& name, const std::string& content);
    // Offers the file to handler as the driver does (its head in the
    // SniffBuffer, then probe) and extracts it into dest, which is made
    // first, whatever probe answered; returns extract's result. Every file
    // the handler opened must be closed again.
    int extract(FormatHandler& handler, const std::string& devicePath, const std::string& dest = "\\out");
    // Every file below dest (relative, sorted) and the bytes of one of them.
    std::vector<std::string> outputs(const std::string& dest = "\\out") const;
    std::string output(const std::string& name, const std::string& dest = "\\out") const;

private:
    std::string root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

std::string readFile(const std::string& hostPath);
void writeFile(const std::string& hostPath, const std::string& content);
bool fileExists(const std::string& hostPath);
bool isDirectory(const std::string& hostPath);
void makeDirectories(const std::string& hostPath);
// Every regular file below dir, as paths relative to it, sorted.
std::vector<std::string> listFiles(const std::string& dir);
std::string fixturePath(const std::string& name);
// The bytes of tests/fixtures/<name>.
std::string fixture(const std::string& name);
// The handler of the program's HandlerList that has this display name.
FormatHandler& handlerNamed(const std::string& name);

// Compares two byte strings and, when they differ, reports their sizes and
// the first differing offset instead of dumping the bytes.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected);

// Deterministic data of the given size: text-like, binary-like or random.
std::string sampleData(std::size_t size, unsigned seed);

struct ProgramRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
};
// Runs the real program with argv[1..] = args, in the current environment
// (so under the sandbox's device root and registry), with no standard input.
ProgramRun runProgram(const std::vector<std::string>& args);
// Runs a shell command (for peer tools); returns its exit status, 128 + the
// signal for a command killed by one.
int runShell(const std::string& command);
bool toolAvailable(const std::string& tool);

// Resets the result counters and the password before a request.
void resetRequest();

}  // namespace testing_support
