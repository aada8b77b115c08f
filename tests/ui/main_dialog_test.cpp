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
#include "formats/handler_registry.h"
#include "platform/registry.h"
#include "tests/support/headless.h"
#include "tests/test_support.h"
#include "ui/main_dialog.h"
#include "ui/resources.h"
#include "ui/settings_store.h"

using testing_support::readFile;
using testing_support::sameBytes;

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
        // The program released what the rest of the suite shares.
        allocateSniffBuffer();
        if (!appState.handlerListHead) appState.handlerListHead = buildHandlerList();
        appState.commandLineFile[0] = 0;
        DeviceSandbox::TearDown();
    }

    void writeGzip(const std::string& devicePath) {
        gzFile file = gzopen(host(devicePath).c_str(), "wb");
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
    static std::string waitFor(const std::string& record) {
        for (int i = 0; i < 500 && !testing_support::fileExists(record); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return readFile(record);
    }
    // The program builds the list the suite shares itself, from scratch.
    static int startProgram(const WCHAR* commandLine) {
        destroyHandlerList();
        return runProgram(commandLine);
    }
    // Runs the program; the run must end by the steps, not by running out.
    int run(const WCHAR* commandLine = u"") {
        int status = startProgram(commandLine);
        EXPECT_FALSE(headless::ranOutOfSteps()) << "the dialog was still open";
        return status;
    }
    std::string extractPath() {
        char buffer[520];
        readExtractPath(buffer, sizeof buffer);
        return buffer;
    }

    std::string content_;
    std::string savedPath_;
};

}  // namespace

TEST_F(MainDialog, OpensWithTheStoredExtractPathOrTheRoot) {
    std::u16string shown[3];
    bool hasMenu = false;
    headless::whenIdle([&] {
        shown[0] = headless::textOf(IDC_EXTRACT_PATH);
        hasMenu = headless::chooseMenu(IDM_ABOUT);
    });
    headless::whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(shown[0], u"\\");
    ASSERT_TRUE(hasMenu);
    ASSERT_EQ(headless::messagesShown().size(), 1u);
    EXPECT_EQ(headless::messagesShown()[0].caption, u"Tovrin UnPacker");
    EXPECT_EQ(headless::messagesShown()[0].text.substr(0, 21), u"Tovrin UnPacker 1.1.\n");
    EXPECT_EQ(headless::messagesShown()[0].style, MB_SETFOREGROUND);

    writeExtractPath(u"\\Storage Card\\\x5C55\x958B");
    headless::install();
    headless::whenIdle([&] {
        shown[1] = headless::textOf(IDC_EXTRACT_PATH);
        headless::chooseMenu(IDM_DIALOG_EXIT);
    });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(shown[1], u"\\Storage Card\\\x5C55\x958B");

    writeExtractPath(u"\\");
    headless::install();
    headless::whenIdle([&] {
        shown[2] = headless::textOf(IDC_EXTRACT_PATH);
        headless::pressEscape();
    });
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(shown[2], u"\\");
}

TEST_F(MainDialog, ExtractReportsEachOutcomeAndKeepsTheFields) {
    writeGzip("\\in\\data.gz");
    testing_support::writeFile(host("\\in\\plain.txt"), "just some words\n");
    std::string corrupt = readFile(host("\\in\\data.gz"));
    corrupt[corrupt.size() / 2] ^= 0x55;
    testing_support::writeFile(host("\\in\\bad.gz"), corrupt);

    std::u16string fieldsAfterError[2];
    bool waitCursorAfter = true;
    headless::whenIdle([] {
        headless::typeInto(IDC_FILE, u"\\in\\missing.gz");
        headless::typeInto(IDC_EXTRACT_PATH, u"\\out");
        headless::pressEnter();
    });
    headless::whenIdle([&] {
        fieldsAfterError[0] = headless::textOf(IDC_FILE);
        fieldsAfterError[1] = headless::textOf(IDC_EXTRACT_PATH);
        headless::typeInto(IDC_FILE, u"\\in\\plain.txt");
        headless::chooseMenu(IDM_EXTRACT);
    });
    headless::whenIdle([] {
        headless::typeInto(IDC_FILE, u"\\in\\bad.gz");
        headless::pressEnter();
    });
    headless::whenIdle([] {
        headless::typeInto(IDC_FILE, u"\\in\\data.gz");
        headless::click(IDC_CREATE_FOLDER);
        headless::pressEnter();
    });
    headless::whenIdle([&] {
        waitCursorAfter = window_system::waitCursorShown();
        headless::pressEscape();
    });
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
    EXPECT_EQ(fieldsAfterError[0], u"\\in\\missing.gz");
    EXPECT_EQ(fieldsAfterError[1], u"\\out");
    EXPECT_EQ(shown[3].caption, u"Tovrin UnPacker");
    EXPECT_EQ(shown[3].text, u"\\in\\data.gz unpacked to \\out");
    EXPECT_EQ(shown[3].style, MB_SETFOREGROUND);
    EXPECT_FALSE(waitCursorAfter);
    // Create folder was on: the archive's name up to its first dot.
    EXPECT_TRUE(sameBytes(readFile(host("\\out\\data\\data")), content_));
    EXPECT_EQ(extractPath(), "\\out");
    EXPECT_TRUE(readCreateFolder());
    EXPECT_FALSE(readOpenFolder());
    // The status line heard of the member being written.
    ASSERT_FALSE(headless::progressSeen().empty());
    EXPECT_EQ(headless::progressSeen().back().outputPath, u"\\out\\data\\data");
}

TEST_F(MainDialog, OpenFolderStartsTheFileManagerAndEndsTheProgram) {
    writeGzip("\\in\\data.gz");
    std::string record = plantFileManager();
    bool boxShown = false;
    headless::whenIdle([&] {
        boxShown = headless::isVisible(IDC_OPEN_FOLDER);
        headless::typeInto(IDC_FILE, u"\\in\\data.gz");
        headless::typeInto(IDC_EXTRACT_PATH, u"\\My Documents");
        headless::click(IDC_OPEN_FOLDER);
    });
    headless::whenIdle([] { headless::pressEnter(); });
    // No further step: the successful request itself ends the program.
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(boxShown);
    EXPECT_TRUE(headless::messagesShown().empty());
    EXPECT_TRUE(sameBytes(readFile(host("\\My Documents\\data")), content_));
    EXPECT_EQ(waitFor(record), "\\My Documents");
    EXPECT_TRUE(readOpenFolder());
}

TEST_F(MainDialog, WithoutAFileManagerOpenFolderIsHiddenAndStoredOff) {
    writeGzip("\\in\\data.gz");
    writeOpenFolder(1);
    bool visible = true, clicked = true;
    headless::whenIdle([&] {
        visible = headless::isVisible(IDC_OPEN_FOLDER);
        clicked = headless::click(IDC_OPEN_FOLDER);
        headless::typeInto(IDC_FILE, u"\\in\\data.gz");
        headless::pressEnter();
    });
    headless::whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);
    EXPECT_FALSE(visible);
    EXPECT_FALSE(clicked);
    EXPECT_FALSE(readOpenFolder());
    // Extracted into the root, and reported since no folder was opened.
    ASSERT_EQ(headless::messagesShown().size(), 1u);
    EXPECT_EQ(headless::messagesShown()[0].text, u"\\in\\data.gz unpacked to \\");
    EXPECT_TRUE(sameBytes(readFile(host("\\data")), content_));
}

TEST_F(MainDialog, OptionBoxesWriteTheirSettingsAtOnce) {
    plantFileManager();
    writeCreateFolder(1);
    bool afterFirst[2] = {}, afterSecond[2] = {}, startChecked = false;
    headless::whenIdle([&] {
        startChecked = headless::isChecked(IDC_CREATE_FOLDER);
        headless::click(IDC_CREATE_FOLDER);
        headless::click(IDC_OPEN_FOLDER);
    });
    headless::whenIdle([&] {
        afterFirst[0] = readCreateFolder();
        afterFirst[1] = readOpenFolder();
        headless::click(IDC_CREATE_FOLDER);
        headless::click(IDC_OPEN_FOLDER);
    });
    headless::whenIdle([&] {
        afterSecond[0] = readCreateFolder();
        afterSecond[1] = readOpenFolder();
        headless::pressEscape();
    });
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(startChecked);
    EXPECT_FALSE(afterFirst[0]);
    EXPECT_TRUE(afterFirst[1]);
    EXPECT_TRUE(afterSecond[0]);
    EXPECT_FALSE(afterSecond[1]);
}

TEST_F(MainDialog, CommandLineFileIsShownAndNothingRunsUntilAsked) {
    writeGzip("\\in\\data.gz");
    std::u16string commandLine = u"\\in\\data.gz";
    std::u16string shown;
    headless::whenIdle([&] {
        shown = headless::textOf(IDC_FILE);
        headless::pressEscape();
    });
    EXPECT_EQ(run(commandLine.c_str()), 0);
    EXPECT_EQ(shown, commandLine);
    EXPECT_TRUE(testing_support::listFiles(root() + "/in").size() == 1);
    EXPECT_FALSE(testing_support::fileExists(host("\\data")));

    // A folder or a missing path ends the program without any dialog.
    headless::install();
    EXPECT_EQ(startProgram(u"\\in"), 2);
    EXPECT_EQ(startProgram(u"\\in\\nothing.gz"), 2);
    EXPECT_TRUE(headless::messagesShown().empty());
    EXPECT_FALSE(headless::ranOutOfSteps());
}

// Every shown control lies inside the client area, none overlaps another,
// the rows run top to bottom; so on either screen side and platform.
TEST_F(MainDialog, LayoutKeepsEveryControlInsideAndApart) {
    const int ids[] = {IDC_FILE_LABEL,     IDC_FILE,     IDC_BROWSE_FILE,   IDC_PATH_LABEL,
                       IDC_EXTRACT_PATH,   IDC_BROWSE_FOLDER, IDC_PASSWORD_LABEL, IDC_PASSWORD,
                       IDC_CREATE_FOLDER,  IDC_OPEN_FOLDER};
    auto check = [&](const char* when, int buttonsShown) {
        RECT client{};
        GetClientRect(headless::dialog(), &client);
        std::vector<RECT> shown;
        int buttons = 0;
        for (int id : ids) {
            if (!headless::isVisible(id)) continue;
            RECT r = headless::rectOf(id);
            EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.right <= client.right &&
                        r.bottom <= client.bottom && r.left < r.right && r.top < r.bottom)
                << when << " control " << id;
            for (const RECT& o : shown)
                EXPECT_TRUE(r.left >= o.right || o.left >= r.right || r.top >= o.bottom ||
                            o.top >= r.bottom)
                    << when << " control " << id << " overlaps another";
            if (!shown.empty()) {
                EXPECT_GE(r.top, shown.back().top) << when << " control " << id;
            }
            buttons += id == IDC_BROWSE_FILE || id == IDC_BROWSE_FOLDER;
            shown.push_back(r);
        }
        EXPECT_EQ(buttons, buttonsShown) << when;
        // The field spans the row up to its browse button, or the whole row.
        RECT file = headless::rectOf(IDC_FILE);
        EXPECT_GE(file.right, client.right - 2 - (buttonsShown ? headless::kTextHeight + 3 : 0))
            << when;
    };
    headless::whenIdle([&] {
        check("portrait", 2);
        headless::rotateScreen(320, 240);
    });
    headless::whenIdle([&] {
        check("landscape", 2);
        headless::pressEscape();
    });
    EXPECT_EQ(run(), 0);

    headless::install();
    window_system::setPlatformType(u"Smartphone");
    bool menuItem = false;
    headless::whenIdle([&] {
        check("another platform", 0);
        menuItem = headless::chooseMenu(IDM_SELECT_FILE);
    });
    headless::whenIdle([] { headless::pressEscape(); });  // the browser
    headless::whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);
    EXPECT_TRUE(menuItem);
}

// The window shows how much of the archive has been read while a single
// large stream is written: from 0, never backwards, no more often than every
// 50 ms, moving while it works, 100 at the end. Nothing is shown for a
// request from the keyed command line.
TEST_F(MainDialog, ProgressMovesWithTheArchiveReadAndEndsAtOneHundred) {
    struct Case {
        const char* archive;
        const char16_t* destination;
    } cases[] = {{"\\in\\big.gz", u"\\gz"}, {"\\in\\big.zip", u"\\zip"}};
    const std::string chunk = testing_support::sampleData(1u << 20, 7);
    content_.clear();
    for (int i = 0; i < 32; ++i) content_ += chunk;
    for (const Case& c : cases) {
        if (std::string(c.archive).back() == 'z') {
            gzFile gz = gzopen(host(c.archive).c_str(), "wb1");
            gzwrite(gz, content_.data(), static_cast<unsigned>(content_.size()));
            gzclose(gz);
        } else {
            zipFile zip = zipOpen64(host(c.archive).c_str(), 0);
            zip_fileinfo info{};
            zipOpenNewFileInZip64(zip, "big", &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                  1, 1);
            zipWriteInFileInZip(zip, content_.data(), static_cast<unsigned>(content_.size()));
            zipCloseFileInZip(zip);
            zipClose(zip, nullptr);
        }
        headless::install();
        headless::whenIdle([&] {
            std::string archive = c.archive;
            headless::typeInto(IDC_FILE, std::u16string(archive.begin(), archive.end()));
            headless::typeInto(IDC_EXTRACT_PATH, c.destination);
            headless::pressEnter();
        });
        headless::whenIdle([] { headless::pressEscape(); });
        EXPECT_EQ(run(), 0);
        const std::u16string output = std::u16string(c.destination) + u"\\big";
        EXPECT_TRUE(sameBytes(readFile(host(std::string(output.begin(), output.end()))), content_))
            << c.archive;
        const auto& steps = headless::progressSeen();
        ASSERT_GE(steps.size(), 2u) << c.archive;
        EXPECT_EQ(steps.front().percent, 0) << c.archive;
        EXPECT_EQ(steps.back().percent, 100) << c.archive;
        EXPECT_EQ(steps.back().outputPath, output) << c.archive;
        bool moved = false;
        for (std::size_t i = 1; i < steps.size(); ++i) {
            EXPECT_GE(steps[i].percent, steps[i - 1].percent) << c.archive;
            if (steps[i].percent != steps[i - 1].percent && i + 1 < steps.size()) {
                EXPECT_GE(steps[i].at - steps[i - 1].at, std::chrono::milliseconds(40));  // 50 ms less scheduling jitter
            }
            moved = moved || (steps[i].percent > 0 && steps[i].percent < 100);
        }
        if (steps.back().at - steps.front().at > std::chrono::milliseconds(150)) {
            EXPECT_TRUE(moved) << c.archive << ": nothing between 0 and 100";
        }
    }
    headless::install();
    EXPECT_EQ(startProgram(u"#F(\\in\\big.gz)#P(\\quiet)"), 0);
    EXPECT_TRUE(headless::progressSeen().empty());
}

TEST_F(MainDialog, TextsThatDoNotFitRefuseTheRequestInsteadOfBeingCut) {
    writeGzip("\\in\\data.gz");
    writeExtractPath(u"\\kept");
    std::u16string longFolder = u"\\" + std::u16string(300, u'd');
    headless::whenIdle([&] {
        // A path that is a real file once cut to 259 characters must not
        // be taken for it.
        headless::typeInto(IDC_FILE, u"\\in\\data.gz" + std::u16string(260, u'x'));
        headless::pressEnter();
    });
    headless::whenIdle([&] {
        headless::typeInto(IDC_FILE, u"\\in\\data.gz");
        headless::typeInto(IDC_EXTRACT_PATH, longFolder);
        headless::pressEnter();
    });
    headless::whenIdle([&] {
        headless::typeInto(IDC_EXTRACT_PATH, u"\\out");
        headless::typeInto(IDC_PASSWORD, u"\xD83D\xDE00");  // no Shift-JIS form
        headless::pressEnter();
    });
    headless::whenIdle([] { headless::pressEscape(); });
    EXPECT_EQ(run(), 0);
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, u"File not exist!");
    EXPECT_EQ(shown[1].text, u"Unknown error!");
    EXPECT_EQ(shown[2].text, u"Unknown error!");
    EXPECT_EQ(testing_support::listFiles(root()).size(),
              testing_support::listFiles(root() + "/in").size() +
                  testing_support::listFiles(root() + "/config").size());
    // The overlong folder was never stored in place of a cut one.
    EXPECT_EQ(extractPath(), "\\out");
}

TEST_F(MainDialog, WithoutADisplayTheDialogPathsEndWithAMessage) {
    headless::uninstall();
    std::string display = std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "";
    std::string wayland = std::getenv("WAYLAND_DISPLAY") ? std::getenv("WAYLAND_DISPLAY") : "";
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    testing_support::ProgramRun run = testing_support::runProgram({});
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    if (!wayland.empty()) setenv("WAYLAND_DISPLAY", wayland.c_str(), 1);
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
}

TEST(ShowMessage, FormatsWideTextsAndCapsTheLength) {
    headless::install();
    appState.moduleInstance = programInstance();
    showMessage(nullptr, nullptr, 0, u"%s and %s: %d%%", u"\x65E5", u"b", 42);
    std::u16string longText(2000, u'z');
    showMessage(nullptr, u"c", MB_ICONHAND, u"%s", longText.c_str());
    showMessage(nullptr, u"c", 0, nullptr);
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].text, u"\x65E5 and b: 42%");
    EXPECT_EQ(shown[0].caption, u"");
    EXPECT_EQ(shown[0].style, MB_SETFOREGROUND);
    EXPECT_EQ(shown[1].text.size(), 1023u);
    EXPECT_EQ(shown[1].style, MB_ICONHAND);
    EXPECT_EQ(shown[2].text, u"");
    EXPECT_EQ(std::u16string(loadString(40015)), u"%s unpacked to %s");
    headless::uninstall();
}
