// The device sandbox with folders \in and \out, for the suites of handlers
// that read one file: fixture loading, placing inputs, probing as the driver
// does, and packing with a peer tool.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "tests/test_support.h"

namespace stream_testing {

using testing_support::sameBytes;

class StreamSandbox : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        testing_support::makeDirectories(host("\\in"));
        testing_support::makeDirectories(host("\\out"));
    }
    static std::string fixture(const std::string& name) {
        return testing_support::readFile(testing_support::fixturePath("stream/" + name));
    }
    // Writes content as \in\<name>; returns that device path.
    std::string place(const std::string& name, const std::string& content) {
        testing_support::writeFile(host("\\in\\" + name), content);
        return "\\in\\" + name;
    }
    // Probes content as the driver would, under the name \in\<name>.
    static bool probe(FormatHandler& handler, const std::string& content, const std::string& name = "probed") {
        std::memcpy(appState.sniffBuffer, content.data(), std::min(content.size(), kSniffBufferSize));
        return handler.probe(("\\in\\" + name).c_str(), static_cast<std::int32_t>(content.size()));
    }
    std::string output(const std::string& name) const { return testing_support::readFile(host("\\out\\" + name)); }
    std::vector<std::string> outputs() const { return testing_support::listFiles(host("\\out")); }
    struct stat info(const std::string& relative) const {
        struct stat st{};
        ::stat((root() + "/out/" + relative).c_str(), &st);
        return st;
    }
    // <tool> -c <options> of data; empty when the tool is missing.
    std::string packWithTool(const std::string& tool, const std::string& options, const std::string& data) {
        if (!testing_support::toolAvailable(tool)) return std::string();
        testing_support::writeFile(root() + "/plain", data);
        const std::string command = tool + " -c " + options + " '" + root() + "/plain' > '" + root() + "/packed'";
        return testing_support::runShell(command) == 0 ? testing_support::readFile(root() + "/packed") : std::string();
    }
};

inline ::testing::AssertionResult isPrefixOf(const std::string& actual, const std::string& expected) {
    if (actual.size() > expected.size()) return ::testing::AssertionFailure() << "longer than the original";
    return sameBytes(actual, expected.substr(0, actual.size()));
}

}  // namespace stream_testing
