// Shared set-up for the gzip, bzip2 and compress suites: a device sandbox
// with folders \in and \out, fixture loading, probing as the driver does,
// and byte comparison that names the first difference.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "tests/test_support.h"

namespace stream_testing {

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
    static bool probe(FormatHandler& handler, const std::string& content) {
        std::memcpy(appState.sniffBuffer, content.data(), std::min(content.size(), kSniffBufferSize));
        return handler.probe("\\in\\probed", static_cast<std::int32_t>(content.size()));
    }
    std::string output(const std::string& name) const {
        return testing_support::readFile(host("\\out\\" + name));
    }
    std::vector<std::string> outputs() const { return testing_support::listFiles(host("\\out")); }
    // compress -c <options> of data by a peer tool; empty when it is missing.
    std::string packWithTool(const std::string& tool, const std::string& options, const std::string& data) {
        if (!testing_support::toolAvailable(tool)) return std::string();
        testing_support::writeFile(root() + "/plain", data);
        if (testing_support::runShell(tool + " -c " + options + " '" + root() + "/plain' > '" + root() +
                                      "/packed'") != 0) {
            return std::string();
        }
        return testing_support::readFile(root() + "/packed");
    }
};

inline ::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
    const std::size_t common = std::min(actual.size(), expected.size());
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(actual.begin(), actual.begin() + static_cast<long>(common), expected.begin()).first -
        actual.begin());
    if (at == common && actual.size() == expected.size()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "sizes " << actual.size() << " vs " << expected.size()
                                         << ", first difference at " << at;
}

inline ::testing::AssertionResult isPrefixOf(const std::string& actual, const std::string& expected) {
    if (actual.size() > expected.size()) return ::testing::AssertionFailure() << "longer than the original";
    return sameBytes(actual, expected.substr(0, actual.size()));
}

}  // namespace stream_testing
