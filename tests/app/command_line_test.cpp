// The program as scripts run it: the keyed command line, exit statuses,
// messages and the settings it leaves behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "app/command_line.h"
#include "tests/test_support.h"
#include "ui/settings_store.h"

using testing_support::readFile;
using testing_support::runProgram;

namespace {

std::u16string value(const char16_t* commandLine, const char16_t* key, std::size_t capacity = 260) {
    WCHAR buffer[300];
    switch (parameterValue(commandLine, key, buffer, capacity)) {
    case ParameterResult::Found: return buffer;
    case ParameterResult::Missing: return u"<missing>";
    case ParameterResult::TooLong: return u"<too long>";
    }
    return u"";
}

using Program = testing_support::DeviceSandbox;

}  // namespace

TEST(CommandLine, ParameterValues) {
    const std::u16string longLine = u"#F(" + std::u16string(300, u'x') + u")";
    struct Case {
        const char16_t* line;
        const char16_t* key;
        std::size_t capacity;
        std::u16string expected;
    } cases[] = {
        {u"#F(a.zip) #P(\\Storage)", u"#P", 260, u"\\Storage"},
        {u"#f(a.zip) #p(\\x)", u"#P", 260, u"\\x"},
        {u"#F(a(1).zip)#P(d)", u"#F", 260, u"a(1).zip"},
        {u"#F(a.zip)#P(d)", u"#S", 260, u"<missing>"},
        {u"#F(a.zip)#P(d)#S()", u"#S", 260, u""},
        // Without its closing parenthesis a value is missing, not the rest of the line.
        {u"#P(d) #F(a.zip", u"#F", 260, u"<missing>"},
        {u"#F(a(b.zip) #P(d)", u"#F", 260, u"<missing>"},
        {longLine.c_str(), u"#F", 260, u"<too long>"},
        {u"#F(abc)", u"#F", 4, u"abc"},
        {u"#F(abcd)", u"#F", 4, u"<too long>"},
    };
    for (const Case& c : cases) EXPECT_EQ(value(c.line, c.key, c.capacity), c.expected);
}

TEST_F(Program, KeyedRequestsExtractAndFailuresExitWithTheirStatusAndMessage) {
    const std::string content = testing_support::sampleData(300000, 7);
    testing_support::makeDirectories(host("\\in"));
    for (const char* name : {"\\in\\data.gz", "\\in\\a(1).gz", "\\in\\report.txt.gz"}) {
        gzFile file = gzopen(host(name).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        gzwrite(file, content.data(), static_cast<unsigned>(content.size()));
        gzclose(file);
    }
    testing_support::writeFile(host("\\in\\plain.txt"), "just text\n");
    testing_support::writeFile(host("\\in\\bad.gz"), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03garbage-garbage", 25));
    const std::string hostOut = root() + "/host out";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err, extracted;  // err "*" is any message; extracted a host path
    } cases[] = {
        {{"#F(\\in\\data.gz)", "#P(\\out)"}, 0, "", host("\\out\\data")},
        {{"#F(\\in\\a(1).gz)#P(\\out)"}, 0, "", host("\\out\\a(1)")},
        {{"#F(\\in\\nothing.gz)#P(\\out)"}, 2, "File not exist!\n", ""},
        {{"#F(\\in\\plain.txt)#P(\\out)"}, 3, "Format of file not supported!\n", ""},
        {{"#F(\\in\\bad.gz)#P(\\out)"}, 4, "Unknown error!\n", ""},
        {{"#P(\\out)", "#F(\\in\\bad.gz"}, 2, "File not exist!\n", ""},  // unclosed: no archive
        // No Shift-JIS form: the password would change, the path name another file.
        {{"#F(\\in\\data.gz)#P(\\pw)#S(\xF0\x9F\x98\x80)"}, 4, "Unknown error!\n", ""},
        {{"#F(\\in\\\xF0\x9F\x98\x80.gz)#P(\\out)"}, 2, "File not exist!\n", ""},
        {{"#F(\\in\\data.gz)#P(\\" + std::string(300, 'f') + ")"}, 4, "Unknown error!\n", ""},
        // The dialog forms need a display; a folder or a missing path ends silently.
        {{}, 1, "*", ""},
        {{"\\in\\data.gz"}, 1, "*", ""},
        {{host("\\in")}, 2, "", ""},
        {{"#F(\\in\\data.gz)"}, 2, "", ""},
    };
    for (const Case& c : cases) {
        testing_support::ProgramRun run = runProgram(c.args);
        SCOPED_TRACE(c.args.empty() ? "(no arguments)" : c.args[0]);
        EXPECT_EQ(run.exitStatus, c.status) << run.err;
        EXPECT_TRUE(c.err == "*" ? !run.err.empty() : run.err == c.err) << run.err;
        EXPECT_EQ(run.out, "");
        if (!c.extracted.empty()) {
            EXPECT_TRUE(testing_support::sameBytes(readFile(c.extracted), content));
        }
    }
    EXPECT_FALSE(testing_support::fileExists(host("\\pw\\data")));
    EXPECT_FALSE(testing_support::fileExists(host("\\in\\data")));
    char stored[520];
    readExtractPath(stored, sizeof stored);
    EXPECT_STREQ(stored, "\\out");  // the last #P that could be stored

    // Without a device root, host paths are used as they are; keys ignore case.
    unsetenv("TOVRIN_ROOT");
    EXPECT_EQ(runProgram({"#f(" + host("\\in\\data.gz") + ")#p(" + hostOut + ")"}).exitStatus, 0);
    setenv("TOVRIN_ROOT", root().c_str(), 1);
    EXPECT_TRUE(testing_support::sameBytes(readFile(hostOut + "/data"), content));
    // The stored "Create folder" option is honoured.
    writeCreateFolder(1);
    EXPECT_EQ(runProgram({"#F(\\in\\report.txt.gz)#P(\\out)"}).exitStatus, 0);
    EXPECT_TRUE(testing_support::sameBytes(readFile(host("\\out\\report\\report.txt")), content));
    EXPECT_EQ(runProgram({"--version"}).out, "tovrin-unpacker " TOVRIN_VERSION "\n");
}
