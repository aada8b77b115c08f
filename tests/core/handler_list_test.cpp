// The real HandlerList: which handler claims each extension first.
#include "core/app_state.h"
#include "core/format_handler.h"
#include "tests/test_support.h"

namespace {

class HandlerList : public testing_support::DeviceSandbox {};

}  // namespace

TEST_F(HandlerList, ExtensionClaims) {
    const std::string tar = "Tar", gz = "Tar+Gzip \x93\x57\x8A\x4A", bz2 = "Tar+Bzip2 \x93\x57\x8A\x4A",
                      z = "Tar+Compress \x93\x57\x8A\x4A";
    // The compress pair compares case exactly; content-only handlers
    // (Base64, UU) never win the extension pass.
    const std::pair<const char*, std::string> claims[] = {
        {"TGZ", gz},   {"Tgz", gz},  {"gz", gz},         {"BZ2", bz2},      {"Z", z},     {"taZ", z},
        {"z", ""},     {"TAZ", ""},  {"tz", ""},         {"bz3", ""},       {"gzip", ""}, {"NTX", "yDecode"},
        {"Cab", "CAB"}, {"LZH", "Lzh"}, {"zip", "ZIP"},  {"arj", "Arj"},    {"tar", tar}, {"b64", ""},
        {"uue", ""}};
    for (const auto& [ext, expected] : claims) {
        FormatHandler* h = appState.handlerListHead;
        while (h && !h->matchesExtension(ext)) h = h->next;
        EXPECT_EQ(h ? h->name : "", expected) << ext;  // the first that claims it
    }
}

TEST_F(HandlerList, CompressedFilesFallThroughToTheirStreamHandler) {
    // x.gz is offered to the TAR+gzip handler first; a gzip file that is not
    // a tarball reaches the gzip handler in the content pass.
    const std::string text = testing_support::fixture("stream/sample.txt");
    const std::pair<const char*, std::string> files[] = {
        {"no-name.gz", text}, {"text-1.bz2", text}, {"width-16.Z", text + testing_support::fixture("stream/sample.bin")}};
    for (const auto& file : files) {
        testing_support::writeFile(host(std::string("\\") + file.first), testing_support::fixture(std::string("stream/") + file.first));
        testing_support::ProgramRun run = testing_support::runProgram({std::string("#F(\\") + file.first + ")#P(\\out)"});
        EXPECT_EQ(run.exitStatus, 0) << file.first << ": " << run.err;
        std::string name = file.first;
        EXPECT_TRUE(testing_support::sameBytes(output(name.substr(0, name.find('.'))), file.second)) << name;
    }
    EXPECT_EQ(outputs().size(), 3u);
}
