// One request from detection to outcome, with handlers that record what the
// driver asked of them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

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

class RecordingHandler : public FormatHandler {
public:
    RecordingHandler(const char* handlerName, const char* extension, bool recognises, int result = 1)
        : FormatHandler(handlerName), extension_(extension), recognises_(recognises), result_(result) {}

    bool matchesExtension(const char* ext) override {
        calls.push_back(std::string(name) + ".matches(" + ext + ")");
        return extension_ && equalsIgnoreCase(ext, extension_);
    }
    bool probe(const char* path, std::int32_t fileSize) override {
        calls.push_back(std::string(name) + ".probe");
        sniffedHead = std::string(reinterpret_cast<const char*>(appState.sniffBuffer),
                                  static_cast<std::size_t>(fileSize < 4 ? fileSize : 4));
        sniffedSize = fileSize;
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
    std::string sniffedHead;
    std::int32_t sniffedSize = 0;

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
        if (!appState.handlerListHead) {
            appState.handlerListHead = handler;
        } else {
            appendHandler(appState.handlerListHead, handler);
        }
        return handler;
    }
    std::string archive(const std::string& name, const std::string& content = "HEAD-data") {
        writeFile(host("\\in\\" + name), content);
        return "\\in\\" + name;
    }
    void run(const std::string& path) {
        testing_support::resetRequest();
        useRequestSettings(&storedRequestSettings());
        ExtractionDriver(path.c_str());
    }
    void expectCounters(unsigned notFound, unsigned unsupported, unsigned failed) {
        EXPECT_EQ(appState.notFoundCount, notFound);
        EXPECT_EQ(appState.unsupportedCount, unsupported);
        EXPECT_EQ(appState.failedCount, failed);
    }

private:
    FormatHandler* savedHead_ = nullptr;
};

using Calls = std::vector<std::string>;

}  // namespace

TEST_F(Driver, MissingFileCountsOnlyNotFound) {
    add(new RecordingHandler("A", nullptr, true));
    run("\\in\\absent.gz");
    expectCounters(1, 0, 0);
    EXPECT_EQ(calls, Calls{});
}

TEST_F(Driver, EmptyFileIsUnsupportedAndCreatesNoFolder) {
    add(new RecordingHandler("A", "gz", true));
    writeCreateFolder(1);
    run(archive("empty.gz", ""));
    expectCounters(0, 1, 0);
    EXPECT_EQ(calls, Calls{});
    EXPECT_FALSE(fileExists(host("\\out\\empty")));
}

TEST_F(Driver, RejectedExtensionHandlerIsSkippedInTheContentPass) {
    add(new RecordingHandler("Lzh", "lzh", false));
    add(new RecordingHandler("Zip", "zip", true));
    run(archive("x.lzh"));
    expectCounters(0, 0, 0);
    EXPECT_EQ(calls, (Calls{"Lzh.matches(lzh)", "Lzh.probe", "Zip.probe", "Zip.extract"}));
}

TEST_F(Driver, OnlyTheFirstClaimingHandlerIsTriedByExtension) {
    add(new RecordingHandler("TarGz", "gz", false));
    add(new RecordingHandler("Other", "gz", false));
    add(new RecordingHandler("Gzip", nullptr, true));
    run(archive("x.GZ"));
    EXPECT_EQ(calls, (Calls{"TarGz.matches(GZ)", "TarGz.probe", "Other.probe", "Gzip.probe",
                            "Gzip.extract"}));
}

TEST_F(Driver, TiesGoToListOrderUnlessTheExtensionChose) {
    RecordingHandler* first = add(new RecordingHandler("First", nullptr, true));
    RecordingHandler* second = add(new RecordingHandler("Second", "sec", true));
    run(archive("x.bin"));
    EXPECT_EQ(first->extractedInto, "\\out");
    EXPECT_EQ(second->extractedInto, "");
    calls.clear();
    run(archive("x.sec"));
    EXPECT_EQ(calls, (Calls{"First.matches(sec)", "Second.matches(sec)", "Second.probe",
                            "Second.extract"}));
}

TEST_F(Driver, ExeAndNamesWithoutExtensionSkipTheExtensionPass) {
    add(new RecordingHandler("Exe", "exe", false));
    add(new RecordingHandler("Sfx", nullptr, true));
    run(archive("setup.EXE"));
    EXPECT_EQ(calls, (Calls{"Exe.probe", "Sfx.probe", "Sfx.extract"}));
    calls.clear();
    run(archive("noext"));
    EXPECT_EQ(calls, (Calls{"Exe.probe", "Sfx.probe", "Sfx.extract"}));
}

TEST_F(Driver, ProbesSeeTheHeadOfTheFileAndItsSize) {
    RecordingHandler* handler = add(new RecordingHandler("A", nullptr, true));
    run(archive("head.bin", std::string("\x1F\x8B\x08\x00rest", 8)));
    EXPECT_EQ(handler->sniffedHead, std::string("\x1F\x8B\x08\x00", 4));
    EXPECT_EQ(handler->sniffedSize, 8);
}

TEST_F(Driver, NoHandlerMeansUnsupported) {
    add(new RecordingHandler("A", "gz", false));
    run(archive("x.gz"));
    expectCounters(0, 1, 0);
}

TEST_F(Driver, FailedExtractionCountsAndDoesNotOpenTheFolder) {
    testing_support::makeDirectories(host("\\windows"));
    writeFile(host("\\windows\\fexplore.exe"), "#!/bin/sh\necho \"$1\" > \"$TOVRIN_ROOT/opened\"\n");
    chmod(host("\\windows\\fexplore.exe").c_str(), 0755);
    writeOpenFolder(1);
    add(new RecordingHandler("A", nullptr, true, 0));
    run(archive("x.bin"));
    expectCounters(0, 0, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fileExists(root() + "/opened"));
}

TEST_F(Driver, CreateFolderAppendsTheNameCutAtItsFirstDot) {
    RecordingHandler* handler = add(new RecordingHandler("A", nullptr, true));
    writeCreateFolder(1);
    writeExtractPath(u"\\My Documents");
    run(archive("report.tar.gz"));
    EXPECT_EQ(handler->extractedInto, "\\My Documents\\report");
    EXPECT_EQ(readFile(host("\\My Documents\\report\\member.txt")), "member");

    writeExtractPath(u"\\");
    run(archive("report.tar.gz"));
    EXPECT_EQ(handler->extractedInto, "\\report");
    EXPECT_TRUE(isDirectory(host("\\report")));

    writeExtractPath(u"\\out");
    run(archive(".profile"));
    EXPECT_EQ(handler->extractedInto, "\\out\\");

    writeCreateFolder(0);
    run(archive("report.tar.gz"));
    EXPECT_EQ(handler->extractedInto, "\\out");
}

TEST_F(Driver, CreateFolderKeepsShiftJisNamesWhole) {
    // The archive's name is katakana SO (83 5C in Shift-JIS): the folder made
    // for it must not be split at its second byte.
    RecordingHandler* handler = add(new RecordingHandler("A", nullptr, true));
    writeCreateFolder(1);
    writeFile(host("\\in\\\u30bd.gz"), "data");
    run("\\in\\\x83\x5C.gz");
    expectCounters(0, 0, 0);
    EXPECT_EQ(handler->extractedInto, "\\out\\\x83\x5C");
    EXPECT_EQ(readFile(root() + "/out/\u30bd/member.txt"), "member");
}

TEST_F(Driver, DestinationIsCreatedWithItsParents) {
    add(new RecordingHandler("A", nullptr, true));
    writeExtractPath(u"\\deep\\er\\folder");
    run(archive("x.bin"));
    expectCounters(0, 0, 0);
    EXPECT_EQ(readFile(host("\\deep\\er\\folder\\member.txt")), "member");
}

TEST_F(Driver, OverlongDestinationFailsTheRequest) {
    RecordingHandler* handler = add(new RecordingHandler("A", nullptr, true));
    writeCreateFolder(1);
    std::u16string longPath = u"\\";
    longPath += std::u16string(258, u'\x30BD');  // 516 bytes in Shift-JIS
    writeExtractPath(longPath.c_str());
    run(archive("name.bin"));
    expectCounters(0, 0, 1);
    EXPECT_EQ(handler->extractedInto, "");
}

TEST_F(Driver, OverlongArchivePathIsNotFound) {
    add(new RecordingHandler("A", nullptr, true));
    run("\\in\\" + std::string(300, 'a'));
    expectCounters(1, 0, 0);
}

class FolderPaths : public testing_support::DeviceSandbox {};

TEST_F(FolderPaths, CreatesEveryLevelAndReportsAFileInTheWay) {
    EXPECT_EQ(createFolderPath("\\a\\b\\c"), 0u);
    EXPECT_TRUE(isDirectory(host("\\a\\b\\c")));
    EXPECT_EQ(pathKind("\\a\\b"), PathKind::Folder);
    EXPECT_EQ(pathKind("\\a\\missing"), PathKind::Missing);
    writeFile(host("\\a\\file"), "x");
    EXPECT_EQ(pathKind("\\a\\file"), PathKind::File);
    EXPECT_NE(createFolderPath("\\a\\file\\sub"), 0u);
    EXPECT_EQ(createFolderPath("\\a\\b\\c"), 0u);  // existing: fine
}

namespace {

class OpenFolder : public Driver {
protected:
    // Plants a file-manager script that records its argument.
    void plant(const std::string& deviceName) {
        testing_support::makeDirectories(host("\\windows"));
        std::string script = host("\\windows\\" + deviceName);
        writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > \"$TOVRIN_ROOT/opened.tmp\"\n"
                          "mv \"$TOVRIN_ROOT/opened.tmp\" \"$TOVRIN_ROOT/opened-by-" +
                              deviceName + "\"\n");
        chmod(script.c_str(), 0755);
    }
    std::string waitForOpened(const std::string& deviceName) {
        std::string marker = root() + "/opened-by-" + deviceName;
        for (int i = 0; i < 200 && !fileExists(marker); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        return fileExists(marker) ? readFile(marker) : "<not started>";
    }
};

}  // namespace

TEST_F(OpenFolder, StartsTheDeviceFileManagerOnTheDestination) {
    plant("fexplore.exe");
    plant("IA_File_Manager.exe");
    add(new RecordingHandler("A", nullptr, true));
    writeOpenFolder(1);
    writeCreateFolder(1);
    run(archive("report.tar.gz"));
    expectCounters(0, 0, 0);
    EXPECT_EQ(waitForOpened("fexplore.exe"), "\\out\\report");
    EXPECT_FALSE(fileExists(root() + "/opened-by-IA_File_Manager.exe"));
}

TEST_F(OpenFolder, FallsBackToTheOtherFileManager) {
    plant("IA_File_Manager.exe");
    add(new RecordingHandler("A", nullptr, true));
    writeOpenFolder(1);
    run(archive("x.bin"));
    EXPECT_EQ(waitForOpened("IA_File_Manager.exe"), "\\out");
}
