// The program as scripts run it: the keyed command line, exit statuses,
// messages and the settings it leaves behind.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "app/command_line.h"
#include "platform/registry.h"
#include "tests/test_support.h"
#include "ui/settings_store.h"

using testing_support::readFile;
using testing_support::ProgramRun;
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

class Program : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        testing_support::makeDirectories(host("\\in"));
        content_ = testing_support::sampleData(300000, 7);
    }
    // A gzip file without a stored name, written with zlib.
    void writeGzip(const std::string& devicePath) {
        gzFile file = gzopen(host(devicePath).c_str(), "wb");
        ASSERT_NE(file, nullptr);
        gzwrite(file, content_.data(), static_cast<unsigned>(content_.size()));
        gzclose(file);
    }
    std::string content_;
};

}  // namespace

TEST(CommandLine, ParameterValues) {
    EXPECT_EQ(value(u"#F(a.zip) #P(\\Storage)", u"#F"), u"a.zip");
    EXPECT_EQ(value(u"#F(a.zip) #P(\\Storage)", u"#P"), u"\\Storage");
    EXPECT_EQ(value(u"#f(a.zip) #p(\\x)", u"#P"), u"\\x");
    EXPECT_EQ(value(u"#F(a(1).zip)#P(d)", u"#F"), u"a(1).zip");
    EXPECT_EQ(value(u"#F(a.zip)#P(d)", u"#S"), u"<missing>");
    EXPECT_EQ(value(u"#F(a.zip)#P(d)#S()", u"#S"), u"");
    // Without its closing parenthesis a value is missing, not the rest of
    // the line less one character.
    EXPECT_EQ(value(u"#P(d) #F(a.zip", u"#F"), u"<missing>");
    EXPECT_EQ(value(u"#F(a(b.zip) #P(d)", u"#F"), u"<missing>");
    std::u16string longLine = u"#F(" + std::u16string(300, u'x') + u")";
    EXPECT_EQ(value(longLine.c_str(), u"#F"), u"<too long>");
    EXPECT_EQ(value(u"#F(abc)", u"#F", 4), u"abc");
    EXPECT_EQ(value(u"#F(abcd)", u"#F", 4), u"<too long>");
}

TEST_F(Program, SilentExtractionWritesTheFileAndTheSetting) {
    writeGzip("\\in\\data.gz");
    ProgramRun run = runProgram({"#F(\\in\\data.gz)", "#P(\\out)"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(testing_support::sameBytes(readFile(host("\\out\\data")), content_));
    char stored[520];
    readExtractPath(stored, sizeof stored);
    EXPECT_STREQ(stored, "\\out");
}

TEST_F(Program, HostPathsAndLowerCaseKeysWork) {
    writeGzip("\\in\\data.gz");
    std::string out = root() + "/host out";
    // Without a device root, host paths are used as they are.
    unsetenv("TOVRIN_ROOT");
    ProgramRun run = runProgram({"#f(" + host("\\in\\data.gz") + ")#p(" + out + ")"});
    setenv("TOVRIN_ROOT", root().c_str(), 1);
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(testing_support::sameBytes(readFile(out + "/data"), content_));
}

TEST_F(Program, StoredCreateFolderIsHonoured) {
    writeGzip("\\in\\report.txt.gz");
    writeCreateFolder(1);
    ProgramRun run = runProgram({"#F(\\in\\report.txt.gz)#P(\\out)"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(testing_support::sameBytes(readFile(host("\\out\\report\\report.txt")), content_));

    // Only a stored 1 turns the option on.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\kelvane\\unpacker", 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD two = 2;
    RegSetValueExW(key, u"CreateFolder", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), sizeof two);
    RegCloseKey(key);
    run = runProgram({"#F(\\in\\report.txt.gz)#P(\\flat)"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(testing_support::sameBytes(readFile(host("\\flat\\report.txt")), content_));
}

TEST_F(Program, NestedParenthesesInTheArchiveName) {
    writeGzip("\\in\\a(1).gz");
    ProgramRun run = runProgram({"#F(\\in\\a(1).gz)#P(\\out)"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(testing_support::sameBytes(readFile(host("\\out\\a(1)")), content_));
}

TEST_F(Program, FailuresExitWithTheirStatusAndMessage) {
    ProgramRun missing = runProgram({"#F(\\in\\nothing.gz)#P(\\out)"});
    EXPECT_EQ(missing.exitStatus, 2);
    EXPECT_EQ(missing.err, "File not exist!\n");

    testing_support::writeFile(host("\\in\\plain.txt"), "just text\n");
    ProgramRun unsupported = runProgram({"#F(\\in\\plain.txt)#P(\\out)"});
    EXPECT_EQ(unsupported.exitStatus, 3);
    EXPECT_EQ(unsupported.err, "Format of file not supported!\n");

    std::string corrupt("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03garbage-garbage-garbage", 33);
    testing_support::writeFile(host("\\in\\bad.gz"), corrupt);
    ProgramRun failed = runProgram({"#F(\\in\\bad.gz)#P(\\out)"});
    EXPECT_EQ(failed.exitStatus, 4);
    EXPECT_EQ(failed.err, "Unknown error!\n");

    // The closing parenthesis is missing: the archive is missing too.
    ProgramRun unclosed = runProgram({"#P(\\out)", "#F(\\in\\bad.gz"});
    EXPECT_EQ(unclosed.exitStatus, 2);
}

TEST_F(Program, TextsThatCannotBeNarrowedRefuseTheRequest) {
    writeGzip("\\in\\data.gz");
    // An emoji has no Shift-JIS form: the password would change, the path
    // would name another file.
    ProgramRun password = runProgram({"#F(\\in\\data.gz)#P(\\out)#S(\xF0\x9F\x98\x80)"});
    EXPECT_EQ(password.exitStatus, 4);
    EXPECT_FALSE(testing_support::fileExists(host("\\out\\data")));
    ProgramRun path = runProgram({"#F(\\in\\\xF0\x9F\x98\x80.gz)#P(\\out)"});
    EXPECT_EQ(path.exitStatus, 2);
    std::string longFolder(300, 'f');
    ProgramRun folder = runProgram({"#F(\\in\\data.gz)#P(\\" + longFolder + ")"});
    EXPECT_EQ(folder.exitStatus, 4);
}

TEST_F(Program, PathsAndEmptyLinesNeedTheDialog) {
    writeGzip("\\in\\data.gz");
    // Without a display the dialog cannot be shown.
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    ProgramRun empty = runProgram({});
    EXPECT_EQ(empty.exitStatus, 1);
    EXPECT_NE(empty.err.find("dialog"), std::string::npos);
    ProgramRun file = runProgram({"\\in\\data.gz"});
    EXPECT_EQ(file.exitStatus, 1);
    EXPECT_FALSE(testing_support::fileExists(host("\\in\\data")));
}

TEST_F(Program, FoldersAndMissingPathsEndSilently) {
    ProgramRun folder = runProgram({host("\\in")});
    EXPECT_EQ(folder.exitStatus, 2);
    EXPECT_EQ(folder.err, "");
    // "#F(" without "#P(" is taken as a path, which does not exist.
    ProgramRun keyed = runProgram({"#F(\\in\\data.gz)"});
    EXPECT_EQ(keyed.exitStatus, 2);
    EXPECT_EQ(keyed.err, "");
}

TEST_F(Program, HelpAndVersion) {
    ProgramRun help = runProgram({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find("#F("), std::string::npos);
    EXPECT_NE(help.out.find("Exit status"), std::string::npos);
    ProgramRun version = runProgram({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out.rfind("tovrin-unpacker ", 0), 0u);
}
