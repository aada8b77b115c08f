// The stream sandbox with the fixtures of tests/fixtures/make-text-fixtures.sh
// and their data lines, for files with chosen headers around them.
#pragma once

#include <string>

#include "tests/formats/stream/stream_sandbox.h"

namespace text_testing {

using stream_testing::sameBytes;

class TextSandbox : public stream_testing::StreamSandbox {
protected:
    static std::string textFixture(const std::string& name) {
        return testing_support::readFile(testing_support::fixturePath("text/" + name));
    }
    // The lines of a fixture after its first line, up to the line that
    // starts with last (excluded): sample.bin encoded.
    static std::string dataLines(const std::string& fixtureName, const std::string& last) {
        const std::string text = textFixture(fixtureName);
        const std::size_t start = text.find('\n') + 1;
        return text.substr(start, text.find("\n" + last, start) + 1 - start);
    }
    static bool probeAs(FormatHandler& handler, const std::string& name, const std::string& content) {
        return probe(handler, content, name);
    }
    // Places content as \in\<name>, probes it and extracts it into \out.
    int probeAndExtract(FormatHandler& handler, const std::string& name, const std::string& content) {
        const std::string path = place(name, content);
        EXPECT_TRUE(probe(handler, content, name)) << name;
        return handler.extract(path.c_str(), "\\out");
    }
};

}  // namespace text_testing
