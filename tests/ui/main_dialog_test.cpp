// The main dialog as a person uses it, through the real entry point on the
// headless backend: each step runs when the program waits for input.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unzip.h>
#include <zip.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/program.h"
#include "core/app_state.h"
#include "tests/support/headless.h"
#include "tests/test_support.h"
#include "ui/main_dialog.h"
#include "ui/resources.h"
#include "ui/settings_store.h"

using testing_support::readFile;
using testing_support::sameBytes;
using headless::whenIdle;

namespace {

class MainDialog : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        if (const char* path = std::getenv("PATH")) savedPath_ = path;
        // No xdg-open: the file manager is only what a test plants.
        testing_support::makeDirectories(root() + "/bin");
        setenv("PATH", (root() + "/bin").c_str(), 1);
        testing_support::makeDirectories(host("\\windows"));
        testing_support::makeDirectories(host("\\in"));
        content_ = testing_support::sampleData(200000, 3);
        headless::install();
    }
    void TearDown() override {
        headless::uninstall();
        setenv("PATH", savedPath_.c_str(), 1);
        DeviceSandbox::TearDown();
    }

    void writeGzip(const std::string& devicePath, const char* mode = "wb") {
        gzFile file = gzopen(host(devicePath).c_str(), mode);
        ASSERT_NE(file, nullptr);
        gzwrite(file, content_.data(), static_cast<unsigned>(content_.size()));
        gzclose(file);
    }
    // A file manager script that records the folder it was started on.
    std::string plantFileManager() {
        std::string record = root() + "/opened.txt";
        std::string script = host("\\windows\\fexplore.exe");
        testing_support::writeFile(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + record +
                                               ".part'\n/bin/mv '" + record + ".part' '" +
                                               record + "'\n");
        chmod(script.c_str(), 0755);
        return record;
    }
    static int run(const WCHAR* commandLine = u"") { return headless::runMain(commandLine); }
    static void request(const std::u16string& file, const std::u16string& folder = u"") {
        headless::typeInto(IDC_FILE, file);
        if (!folder.empty()) headless::typeInto(IDC_EXTRACT_PATH, folder);
        headless::pressEnter();
    }
    static std::string extractPath() {
        char buffer[520];
        readExtractPath(buffer, sizeof buffer);
        return buffer;
    }

    std::string content_;
    std::string savedPath_;
};

}  // namespace

// A file from the command line is shown and nothing runs until asked.
TEST_F(MainDialog, OpensWithTheStoredExtractPathAndTheCommandLineFileAndShowsAbout) {
    writeGzip("\\in\\data.gz");
    for (const char16_t* stored : {u"", u"\\Storage Card\\\x5C55\x958B"}) {
        if (*stored) writeExtractPath(stored);
        headless::install();
        std::u16string shown, file;
        whenIdle([&] {
            shown = headless::textOf(IDC_EXTRACT_PATH);
            file = headless::textOf(IDC_FILE);
            headless::chooseMenu(IDM_ABOUT);
            headless::chooseMenu(IDM_DIALOG_EXIT);
        });
        EXPECT_EQ(run(u"\\in\\data.gz"), 0);
        EXPECT_EQ(shown, *stored ? stored : u"\\");
        EXPECT_EQ(file, u"\\in\\data.gz");
        ASSERT_EQ(headless::messagesShown().size(), 1u);
        EXPECT_EQ(headless::messagesShown()[0].caption, u"Tovrin UnPacker");
        EXPECT_EQ(headless::messagesShown()[0].text.substr(0, 21), u"Tovrin UnPacker 1.1.\n");
    }
    EXPECT_FALSE(testing_support::fileExists(host("\\data")));
}

TEST_F(MainDialog, ExtractReportsEachOutcomeAndKeepsTheFields) {
    writeGzip("\\in\\data.gz");
    testing_support::writeFile(host("\\in\\plain.txt"), "just some words\n");
    std::string corrupt = readFile(host("\\in\\data.gz"));
    corrupt[corrupt.size() / 2] ^= 0x55;
    testing_support::writeFile(host("\\in\\bad.gz"), corrupt);

    std::u16string fields[2];
    whenIdle([] { request(u"\\in\\missing.gz", u"\\out"); });
    whenIdle([&] {
        fields[0] = headless::textOf(IDC_FILE);
        fields[1] = headless::textOf(IDC_EXTRACT_PATH);
        headless::typeInto(IDC_FILE, u"\\in\\plain.txt");
        headless::chooseMenu(IDM_EXTRACT);
    });
    whenIdle([] { request(u"\\in\\bad.gz"); });
    whenIdle([] {
        headless::click(IDC_CREATE_FOLDER);
        request(u"\\in\\data.gz");
    });
    whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);

    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 4u);
    const char16_t* errors[] = {u"File not exist!", u"Format of file not supported!",
                                u"Unknown error!"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(shown[i].caption, u"Error");
        EXPECT_EQ(shown[i].text, errors[i]);
        EXPECT_EQ(shown[i].style, MB_ICONHAND);
    }
    EXPECT_EQ(fields[0], u"\\in\\missing.gz");
    EXPECT_EQ(fields[1], u"\\out");
    EXPECT_EQ(shown[3].caption, u"Tovrin UnPacker");
    EXPECT_EQ(shown[3].text, u"\\in\\data.gz unpacked to \\out");
    EXPECT_EQ(shown[3].style, MB_SETFOREGROUND);
    // Create folder was on: the archive's name up to its first dot.
    EXPECT_TRUE(sameBytes(readFile(host("\\out\\data\\data")), content_));
    EXPECT_EQ(extractPath(), "\\out");
    EXPECT_TRUE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
}

// With a file manager, a successful request opens the folder and ends the
// program without a message.
TEST_F(MainDialog, OpenFolderStartsTheFileManager) {
    writeGzip("\\in\\data.gz");
    std::string record = plantFileManager();
    whenIdle([] {
        EXPECT_TRUE(headless::click(IDC_OPEN_FOLDER));
        request(u"\\in\\data.gz", u"\\My Documents");
    });
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(readOpenFolder());
    EXPECT_TRUE(sameBytes(readFile(host("\\My Documents\\data")), content_));
    EXPECT_TRUE(headless::messagesShown().empty());
    for (int i = 0; i < 500 && !testing_support::fileExists(record); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(readFile(record), "\\My Documents");
}

// Every shown control lies inside the client area and none overlaps
// another, on either screen side.
TEST_F(MainDialog, LayoutKeepsEveryControlInsideAndApart) {
    auto check = [&](const char* when) {
        RECT client{};
        GetClientRect(headless::dialog(), &client);
        std::vector<RECT> shown;
        for (int id : {IDC_FILE_LABEL, IDC_FILE, IDC_BROWSE_FILE, IDC_PATH_LABEL, IDC_EXTRACT_PATH,
                       IDC_BROWSE_FOLDER, IDC_PASSWORD_LABEL, IDC_PASSWORD, IDC_CREATE_FOLDER,
                       IDC_OPEN_FOLDER}) {
            if (!headless::isVisible(id)) continue;
            RECT r = headless::rectOf(id);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right &&
                        r.bottom <= client.bottom && r.left < r.right && r.top < r.bottom)
                << when << " control " << id;
            for (const RECT& o : shown)
                EXPECT_TRUE(r.left >= o.right || o.left >= r.right || r.top >= o.bottom ||
                            o.top >= r.bottom)
                    << when << " control " << id << " overlaps another";
            shown.push_back(r);
        }
    };
    whenIdle([&] {
        check("portrait");
        headless::rotateScreen(320, 240);
    });
    whenIdle([&] {
        check("landscape");
        headless::pressEscape();
    });
    EXPECT_EQ(run(), 0);
}

// The window shows how much of the archive has been read while a single
// large stream is written: from 0, never backwards, 100 at the end. Nothing
// is shown for a request from the keyed command line.
TEST_F(MainDialog, ProgressMovesWithTheArchiveReadAndEndsAtOneHundred) {
    const std::string chunk = testing_support::sampleData(1u << 20, 7);
    content_.clear();
    for (int i = 0; i < 8; ++i) content_ += chunk;
    writeGzip("\\in\\big.gz", "wb1");
    zipFile zip = zipOpen64(host("\\in\\big.zip").c_str(), 0);
    zip_fileinfo info{};
    zipOpenNewFileInZip64(zip, "big", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED, 1, 1);
    zipWriteInFileInZip(zip, content_.data(), static_cast<unsigned>(content_.size()));
    zipCloseFileInZip(zip);
    zipClose(zip, nullptr);
    for (const char16_t* kind : {u"gz", u"zip"}) {
        const std::u16string archive = u"\\in\\big." + std::u16string(kind);
        const std::u16string output = u"\\" + std::u16string(kind) + u"\\big";
        SCOPED_TRACE(std::string(archive.begin(), archive.end()));
        headless::install();
        whenIdle([&] { request(archive, u"\\" + std::u16string(kind)); });
        whenIdle([] { headless::pressEscape(); });
        EXPECT_EQ(run(), 0);
        EXPECT_TRUE(sameBytes(readFile(host(std::string(output.begin(), output.end()))), content_));
        const auto& steps = headless::progressSeen();
        ASSERT_GE(steps.size(), 2u);
        EXPECT_EQ(steps.front().percent, 0);
        EXPECT_EQ(steps.back().percent, 100);
        EXPECT_EQ(steps.back().outputPath, output);
        // Never back, no new percentage within 50 ms of the last (less
        // scheduling jitter; steps also come with each new output), and
        // something between 0 and 100 when the run took long enough.
        bool moved = false;
        auto lastChange = steps.front().at;
        for (std::size_t i = 1; i < steps.size(); ++i) {
            EXPECT_GE(steps[i].percent, steps[i - 1].percent);
            if (steps[i].percent == steps[i - 1].percent || i + 1 == steps.size()) continue;
            EXPECT_GE(steps[i].at - lastChange, std::chrono::milliseconds(40));
            lastChange = steps[i].at;
            moved = true;
        }
        EXPECT_TRUE(moved || steps.back().at - steps.front().at <= std::chrono::milliseconds(150));
    }
    headless::install();
    EXPECT_EQ(run(u"#F(\\in\\big.gz)#P(\\quiet)"), 0);
    EXPECT_TRUE(headless::progressSeen().empty());
}

TEST_F(MainDialog, TextsThatDoNotFitRefuseTheRequestInsteadOfBeingCut) {
    writeGzip("\\in\\data.gz");
    writeExtractPath(u"\\kept");
    // A path that is a real file once cut to 259 characters must not be
    // taken for it; nor a folder cut, nor a password with no Shift-JIS form.
    whenIdle([] { request(u"\\in\\data.gz" + std::u16string(260, u'x')); });
    whenIdle([] { request(u"\\in\\data.gz", u"\\" + std::u16string(300, u'd')); });
    whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, u"File not exist!");
    EXPECT_EQ(shown[1].text, u"Unknown error!");
    EXPECT_EQ(testing_support::listFiles(root()).size(),
              testing_support::listFiles(root() + "/in").size() +
                  testing_support::listFiles(root() + "/config").size());
    EXPECT_EQ(extractPath(), "\\kept");  // never a cut folder
}

TEST(ShowMessage, FormatsWideTextsAndCapsTheLength) {
    headless::install();
    appState.moduleInstance = programInstance();
    showMessage(nullptr, nullptr, 0, u"%s and %s: %d%%", u"\x65E5", u"b", 42);
    showMessage(nullptr, u"c", MB_ICONHAND, u"%s", std::u16string(2000, u'z').c_str());
    showMessage(nullptr, u"c", 0, nullptr);
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, u"\x65E5 and b: 42%");
    EXPECT_EQ(shown[0].caption, u"");
    EXPECT_EQ(shown[0].style, MB_SETFOREGROUND);
    EXPECT_EQ(shown[1].text.size(), 1023u);
    EXPECT_EQ(shown[1].style, MB_ICONHAND);
    EXPECT_EQ(shown[2].text, u"");
    headless::uninstall();
}
