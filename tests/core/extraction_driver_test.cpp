// One request from detection to outcome, with handlers that record what the
// driver asked of them.
#include <sys/stat.h>

#include <chrono>
#include <tuple>
#include <thread>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/format_handler.h"
#include "core/output_files.h"
#include "tests/test_support.h"
#include "core/request_settings.h"
#include "ui/settings_store.h"

using testing_support::fileExists;
using testing_support::isDirectory;
using testing_support::readFile;
using testing_support::writeFile;

namespace {

std::vector<std::string> calls;
using Calls = std::vector<std::string>;

class RecordingHandler : public FormatHandler {
public:
    RecordingHandler(const char* handlerName, const char* extension, bool recognises, int result = 1)
        : FormatHandler(handlerName), extension_(extension), recognises_(recognises), result_(result) {}

    bool matchesExtension(const char* ext) override {
        calls.push_back(std::string(name) + ".matches(" + ext + ")");
        return extension_ && equalsIgnoreCase(ext, extension_);
    }
    bool probe(const char*, std::int32_t) override {
        calls.push_back(std::string(name) + ".probe");
        return recognises_;
    }
    int extract(const char* path, const char* destFolder) override {
        calls.push_back(std::string(name) + ".extract");
        extractedInto = destFolder;
        std::string member = std::string(destFolder) + "\\member.txt";
        if (std::FILE* out = openNarrow(member.c_str(), "wb")) {
            std::fputs("member", out);
            std::fclose(out);
        }
        return result_;
    }

    std::string extractedInto;

private:
    const char* extension_;
    bool recognises_;
    int result_;
};

class Driver : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        calls.clear();
        savedHead_ = appState.handlerListHead;
        appState.handlerListHead = nullptr;
        testing_support::makeDirectories(host("\\in"));
        testing_support::makeDirectories(host("\\out"));
        writeExtractPath(u"\\out");
        writeCreateFolder(0);
        writeOpenFolder(0);
    }
    void TearDown() override {
        delete appState.handlerListHead;
        appState.handlerListHead = savedHead_;
        DeviceSandbox::TearDown();
    }
    RecordingHandler* add(RecordingHandler* handler) {
        if (appState.handlerListHead) appendHandler(appState.handlerListHead, handler);
        else appState.handlerListHead = handler;
        return handler;
    }
    void run(const std::string& path) {
        testing_support::resetRequest();
        useRequestSettings(&storedRequestSettings());
        ExtractionDriver(path.c_str());
    }
    void expectCounters(unsigned notFound, unsigned unsupported, unsigned failed) {
        EXPECT_EQ(std::make_tuple(appState.notFoundCount, appState.unsupportedCount, appState.failedCount),
                  std::make_tuple(notFound, unsupported, failed));
    }

private:
    FormatHandler* savedHead_ = nullptr;
};

// Which handlers are asked what, in which order, for one file.
struct Spec {
    const char* name;
    const char* extension;  // nullptr: claims none
    bool recognises;
};
struct Detection {
    const char* what;
    std::vector<Spec> handlers;
    std::string file;
    const char* content;  // nullptr: no such file
    Calls calls;
    unsigned notFound, unsupported;
};

const Detection kDetections[] = {
    {"missing file", {{"A", nullptr, true}}, "absent.gz", nullptr, {}, 1, 0},
    {"empty file", {{"A", "gz", true}}, "empty.gz", "", {}, 0, 1},
    {"no handler agrees", {{"A", "gz", false}}, "x.gz", "data", {"A.matches(gz)", "A.probe"}, 0, 1},
    {"extension handler refuses: the others probe",
     {{"Lzh", "lzh", false}, {"Zip", "zip", true}}, "x.lzh", "data",
     {"Lzh.matches(lzh)", "Lzh.probe", "Zip.probe", "Zip.extract"}, 0, 0},
    {"only the first claimant is asked by extension",
     {{"TarGz", "gz", false}, {"Other", "gz", false}, {"Gzip", nullptr, true}}, "x.GZ", "data",
     {"TarGz.matches(GZ)", "TarGz.probe", "Other.probe", "Gzip.probe", "Gzip.extract"}, 0, 0},
    {"ties go to list order", {{"First", nullptr, true}, {"Second", "sec", true}}, "x.bin", "data",
     {"First.matches(bin)", "Second.matches(bin)", "First.probe", "First.extract"}, 0, 0},
    {"the extension decides a tie", {{"First", nullptr, true}, {"Second", "sec", true}}, "x.sec", "data",
     {"First.matches(sec)", "Second.matches(sec)", "Second.probe", "Second.extract"}, 0, 0},
    {"exe skips the extension pass", {{"Exe", "exe", false}, {"Sfx", nullptr, true}}, "setup.EXE", "data",
     {"Exe.probe", "Sfx.probe", "Sfx.extract"}, 0, 0},
    {"no extension skips it too", {{"Exe", "exe", false}, {"Sfx", nullptr, true}}, "noext", "data",
     {"Exe.probe", "Sfx.probe", "Sfx.extract"}, 0, 0},
    {"overlong archive path", {{"A", nullptr, true}}, std::string(300, 'a'), nullptr, {}, 1, 0},
};

}  // namespace

TEST_F(Driver, DetectsByExtensionThenContent) {
    writeCreateFolder(1);
    for (const Detection& d : kDetections) {
        SCOPED_TRACE(d.what);
        for (const Spec& h : d.handlers) add(new RecordingHandler(h.name, h.extension, h.recognises));
        calls.clear();
        run(d.content ? place(d.file, d.content) : "\\in\\" + d.file);
        EXPECT_EQ(calls, d.calls);
        expectCounters(d.notFound, d.unsupported, 0);
        if (d.notFound || d.unsupported) {  // and no folder was made for it
            EXPECT_FALSE(fileExists(host("\\out\\" + d.file.substr(0, d.file.find('.')))));
        }
        delete appState.handlerListHead;
        appState.handlerListHead = nullptr;
    }
}

namespace {

// Where one request extracts to, from the stored settings and the name.
struct Destination {
    std::u16string extractPath;
    bool createFolder;
    std::string archive;  // narrow device name below \in
    std::string hostArchive;
    const char* extractedInto;  // nullptr: the request fails before extracting
    std::string hostMember;     // where member.txt must then be
};

const Destination kDestinations[] = {
    {u"\\My Documents", true, "report.tar.gz", "report.tar.gz", "\\My Documents\\report",
     "My Documents/report/member.txt"},
    {u"\\", true, "report.tar.gz", "report.tar.gz", "\\report", "report/member.txt"},
    {u"\\out", true, ".profile", ".profile", "\\out\\", "out/member.txt"},
    {u"\\out", false, "report.tar.gz", "report.tar.gz", "\\out", "out/member.txt"},
    {u"\\deep\\er\\folder", false, "x.bin", "x.bin", "\\deep\\er\\folder", "deep/er/folder/member.txt"},
    // Katakana SO (83 5C): the folder is not cut at its second byte.
    {u"\\out", true, "\x83\x5C.gz", "\u30bd.gz", "\\out\\\x83\x5C", "out/\u30bd/member.txt"},
    {u"\\" + std::u16string(258, u'\x30BD'), true, "name.bin", "name.bin", nullptr, ""},  // 516 bytes narrow
};

}  // namespace

TEST_F(Driver, DestinationComesFromTheSettingsAndTheArchiveName) {
    RecordingHandler* handler = add(new RecordingHandler("A", nullptr, true));
    for (const Destination& d : kDestinations) {
        SCOPED_TRACE(d.hostMember);
        writeExtractPath(d.extractPath.c_str());
        writeCreateFolder(d.createFolder ? 1 : 0);
        writeFile(root() + "/in/" + d.hostArchive, "data");
        handler->extractedInto = "";
        run("\\in\\" + d.archive);
        expectCounters(0, 0, d.extractedInto ? 0 : 1);
        EXPECT_EQ(handler->extractedInto, d.extractedInto ? d.extractedInto : "");
        if (d.extractedInto) {
            EXPECT_EQ(readFile(root() + "/" + d.hostMember), "member");
        }
    }
}

TEST_F(Driver, FolderPathsAreMadeLevelByLevelAndAFileInTheWayIsReported) {
    EXPECT_EQ(createFolderPath("\\a\\b\\c"), 0u);
    EXPECT_EQ(createFolderPath("\\a\\b\\c"), 0u);  // existing: fine
    EXPECT_TRUE(isDirectory(host("\\a\\b\\c")));
    writeFile(host("\\a\\file"), "x");
    EXPECT_NE(createFolderPath("\\a\\file\\sub"), 0u);
}

// "Open folder" starts the file manager (a script that records its
// argument; which one is found is the platform's business) on the
// destination after a success only.
TEST_F(Driver, OpenFolderStartsTheFileManagerAfterASuccessOnly) {
    testing_support::makeDirectories(host("\\windows"));
    const std::string script = host("\\windows\\fexplore.exe"), marker = root() + "/opened";
    writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > \"$TOVRIN_ROOT/opened.tmp\"\n"
                      "mv \"$TOVRIN_ROOT/opened.tmp\" \"$TOVRIN_ROOT/opened\"\n");
    chmod(script.c_str(), 0755);
    writeOpenFolder(1);
    writeCreateFolder(1);
    for (int result : {0, 1}) {
        add(new RecordingHandler(result ? "Succeeds" : "Fails", nullptr, true, result));
        run(place("report.tar.gz", "data"));
        expectCounters(0, 0, result ? 0 : 1);
        for (int i = 0; i < (result ? 200 : 8) && !fileExists(marker); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        EXPECT_EQ(fileExists(marker) ? readFile(marker) : "<not started>", result ? "\\out\\report" : "<not started>");
        delete appState.handlerListHead;
        appState.handlerListHead = nullptr;
    }
}
