// The real HandlerList: its order and which extensions each handler claims.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/format_handler.h"
#include "formats/handler_registry.h"
#include "tests/test_support.h"

namespace {

class HandlerList : public testing_support::DeviceSandbox {
protected:
    // The name of the first handler that claims ext, or "" when none does.
    std::string claimant(const char* ext) {
        for (FormatHandler* h = appState.handlerListHead; h; h = h->next) {
            if (h->matchesExtension(ext)) return h->name;
        }
        return "";
    }
};

}  // namespace

TEST_F(HandlerList, FifteenHandlersInDetectionOrder) {
    std::vector<std::string> names;
    for (FormatHandler* h = appState.handlerListHead; h; h = h->next) names.push_back(h->name);
    const std::string extraction = " \x93\x57\x8A\x4A";
    EXPECT_EQ(names, (std::vector<std::string>{
                         "Tar", "Tar+Gzip" + extraction, "Tar+Bzip2" + extraction,
                         "Tar+Compress" + extraction, "Lzh", "ZIP", "Arj", "Gzip", "Bzip2",
                         "Compress", "yDecode", "CAB", "Base64 Decode", "UUDecode", "XXDecode"}));
}

TEST_F(HandlerList, ExtensionClaims) {
    const std::string tarGzip = "Tar+Gzip \x93\x57\x8A\x4A";
    const std::string tarCompress = "Tar+Compress \x93\x57\x8A\x4A";
    EXPECT_EQ(claimant("TGZ"), tarGzip);
    EXPECT_EQ(claimant("Tgz"), tarGzip);
    EXPECT_EQ(claimant("gz"), tarGzip);
    EXPECT_EQ(claimant("BZ2"), "Tar+Bzip2 \x93\x57\x8A\x4A");
    // The compress pair compares case exactly.
    EXPECT_EQ(claimant("Z"), tarCompress);
    EXPECT_EQ(claimant("taZ"), tarCompress);
    EXPECT_EQ(claimant("z"), "");
    EXPECT_EQ(claimant("TAZ"), "");
    EXPECT_EQ(claimant("tz"), "");
    EXPECT_EQ(claimant("bz3"), "");
    EXPECT_EQ(claimant("gzip"), "");
    EXPECT_EQ(claimant("NTX"), "yDecode");
    EXPECT_EQ(claimant("Cab"), "CAB");
    EXPECT_EQ(claimant("LZH"), "Lzh");
    EXPECT_EQ(claimant("zip"), "ZIP");
    EXPECT_EQ(claimant("arj"), "Arj");
    EXPECT_EQ(claimant("tar"), "Tar");
    // Content-only handlers never win the extension pass.
    EXPECT_EQ(claimant("b64"), "");
    EXPECT_EQ(claimant("uue"), "");
}

TEST_F(HandlerList, CompressedFilesFallThroughToTheirStreamHandler) {
    // x.gz is offered to the TAR+gzip handler first; a gzip file that is not
    // a tarball reaches the gzip handler in the content pass.
    testing_support::makeDirectories(host("\\out"));
    for (const char* name : {"no-name.gz", "text-1.bz2", "width-16.Z"}) {
        std::string device = std::string("\\") + name;
        testing_support::writeFile(host(device), testing_support::readFile(testing_support::fixturePath(
                                                     std::string("stream/") + name)));
    }
    for (const char* name : {"no-name.gz", "text-1.bz2", "width-16.Z"}) {
        testing_support::resetRequest();
        testing_support::ProgramRun run =
            testing_support::runProgram({std::string("#F(\\") + name + ")#P(\\out)"});
        EXPECT_EQ(run.exitStatus, 0) << name << ": " << run.err;
    }
    EXPECT_EQ(testing_support::listFiles(host("\\out")),
              (std::vector<std::string>{"no-name", "text-1", "width-16"}));
    const std::string text = testing_support::readFile(testing_support::fixturePath("stream/sample.txt"));
    const std::string binary = testing_support::readFile(testing_support::fixturePath("stream/sample.bin"));
    EXPECT_TRUE(testing_support::sameBytes(testing_support::readFile(host("\\out\\no-name")), text));
    EXPECT_TRUE(testing_support::sameBytes(testing_support::readFile(host("\\out\\text-1")), text));
    EXPECT_TRUE(testing_support::sameBytes(testing_support::readFile(host("\\out\\width-16")), text + binary));
}
