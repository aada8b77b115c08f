// The file and folder browser as a person uses it on the headless backend,
// over a private device file system: each step runs when the dialog waits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include "app/program.h"
#include "core/app_state.h"
#include "tests/support/headless.h"
#include "tests/test_support.h"
#include "ui/browser.h"
#include "ui/resources.h"

using testing_support::readFile;
using Labels = std::vector<std::u16string>;

namespace {

class Browser : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        // A device root of its own, without the sandbox's configuration folder.
        testing_support::makeDirectories(root() + "/device");
        setenv("TOVRIN_ROOT", (root() + "/device").c_str(), 1);
        savedInstance_ = appState.moduleInstance;
        appState.moduleInstance = programInstance();
        headless::install();
    }
    void TearDown() override {
        headless::uninstall();
        appState.moduleInstance = savedInstance_;
        DeviceSandbox::TearDown();
    }

    std::string device(std::string devicePath) const {
        for (char& c : devicePath)
            if (c == '\\') c = '/';
        return root() + "/device" + devicePath;
    }
    void file(const std::string& devicePath, const std::string& content = "x") {
        std::string path = device(devicePath);
        testing_support::makeDirectories(path.substr(0, path.rfind('/')));
        testing_support::writeFile(path, content);
    }
    void folder(const std::string& devicePath) { testing_support::makeDirectories(device(devicePath)); }

    // Runs the browser from the root; the steps must close it.
    bool browse(bool folderMode, std::u16string& path, const WCHAR* patterns = u"*.*") {
        BrowseRequest request;
        initBrowseRequest(request);
        request.folderMode = folderMode ? 1 : 0;
        request.mustExist = 1;
        WCHAR buffer[MAX_PATH] = {};
        std::copy(path.begin(), path.end(), buffer);
        bool chosen = runBrowser(request, nullptr, buffer, patterns);
        releaseBrowseRequest(request);
        EXPECT_FALSE(headless::ranOutOfSteps()) << "the browser was still open";
        EXPECT_EQ(request.imageList, nullptr);
        path = buffer;
        return chosen;
    }

    static void step(std::function<void()> action) { headless::whenIdle(std::move(action)); }
    static Labels labels() { return headless::labelsOf(IDC_BROWSER_LIST); }
    static bool open() { return headless::dialog() != nullptr; }
    static void enter(const char16_t* name) {
        step([name] { headless::doubleTapRow(IDC_BROWSER_LIST, name); });
    }
    static void rename(const char16_t* from, const char16_t* to) {
        step([from] { headless::tapRow(IDC_BROWSER_LIST, from); });
        step([] { headless::chooseMenu(IDM_BROWSER_RENAME); });
        step([to] { headless::finishLabelEdit(to); });
    }
    static void ok() { headless::chooseMenu(IDM_BROWSER_OK); }

    HINSTANCE savedInstance_ = nullptr;
};

}  // namespace

// Folders first, dot names hidden, patterns matched without case; folder
// mode lists folders only and returns them without a final backslash, a tap
// on a folder enters it, the ancestor drop-down and Up move through the tree.
TEST_F(Browser, ListsFoldersFirstAndFolderModeNavigates) {
    for (const char* name : {"\\a.txt", "\\c.ZIP", "\\.hidden", "\\A\\f.txt"}) file(name);
    for (const char* name : {"\\A\\B\\C", "\\z.dir", "\\.config2"}) folder(name);
    Labels filtered, inA;
    step([&] {
        filtered = labels();
        headless::chooseMenu(IDM_BROWSER_CANCEL);
    });
    std::u16string path = u"";
    EXPECT_FALSE(browse(false, path, u"*.TXT;*.zip"));
    EXPECT_EQ(filtered, (Labels{u"A", u"z.dir", u"a.txt", u"c.ZIP"}));
    enter(u"A");
    step([&] {
        inA = labels();
        headless::tapRow(IDC_BROWSER_LIST, u"B");
    });
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"C"); });
    step([] { headless::chooseEntry(IDC_BROWSER_FOLDERS, 2); });  // \A\B
    step([] { headless::chooseMenu(IDM_BROWSER_UP); });
    step([] { ok(); });
    EXPECT_TRUE(browse(true, path));
    EXPECT_EQ(inA, (Labels{u"B"}));
    EXPECT_EQ(path, u"\\A");
}

TEST_F(Browser, FileModeOkAcceptsOnlyAnExistingFile) {
    folder("\\docs\\sub");
    file("\\docs\\a.txt", "abc");
    std::vector<bool> stillOpen;
    enter(u"docs");
    for (const char16_t* name : {u"sub", u"missing.txt", u"*.txt"}) {
        step([name] {
            headless::typeInto(IDC_BROWSER_NAME, name);
            ok();
        });
        step([&] { stillOpen.push_back(open()); });
    }
    // A tap on a file puts its name in the field; OK takes it.
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"a.txt"); });
    step([&] {
        EXPECT_EQ(headless::textOf(IDC_BROWSER_NAME), u"a.txt");
        ok();
    });
    std::u16string path;
    EXPECT_TRUE(browse(false, path));
    EXPECT_EQ(path, u"\\docs\\a.txt");
    EXPECT_EQ(stillOpen, std::vector<bool>(3, true));
}

TEST_F(Browser, NewFolderTakesTheNextFreeNameAndEditsItsLabel) {
    folder("\\w\\NewFolder");
    folder("\\w\\NewFolder#2");
    bool editing = false;
    enter(u"w");
    step([] { headless::chooseMenu(IDM_BROWSER_NEW); });
    step([&] {
        editing = headless::labelEditOpen();
    });
    step([] { headless::finishLabelEdit(u"Projects"); });
    step([] { headless::pressEscape(); });
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_TRUE(editing);
    EXPECT_TRUE(testing_support::isDirectory(device("\\w\\Projects")));
    EXPECT_FALSE(testing_support::fileExists(device("\\w\\NewFolder#3")));
    EXPECT_TRUE(testing_support::isDirectory(device("\\w\\NewFolder#2")));
}

TEST_F(Browser, RenameKeepsBothWhenTheNameIsTakenAndStaysInTheFolder) {
    file("\\r\\a.txt", "first");
    file("\\r\\b.txt", "second");
    Labels afterClash, afterEscape, afterRename;
    enter(u"r");
    rename(u"a.txt", u"b.txt");
    step([&] { afterClash = labels(); });
    rename(u"a.txt", u"..\\up.txt");
    step([&] { afterEscape = labels(); });
    rename(u"a.txt", u"c.txt");
    step([&] {
        afterRename = labels();
        headless::pressEscape();
    });
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_EQ(afterClash, (Labels{u"a.txt", u"b.txt"}));
    EXPECT_EQ(afterEscape, (Labels{u"a.txt", u"b.txt"}));
    EXPECT_FALSE(testing_support::fileExists(device("\\up.txt")));
    EXPECT_EQ(afterRename, (Labels{u"b.txt", u"c.txt"}));
    EXPECT_EQ(readFile(device("\\r\\c.txt")), "first");
    EXPECT_EQ(readFile(device("\\r\\b.txt")), "second");
}

// A desktop double-click opens one level, whatever lies under the pointer
// in the new listing; a folder alone in its list is selected by the keys.
TEST_F(Browser, DoubleTapOpensOneLevelAndKeysSelectWithoutOpening) {
    folder("\\A\\A\\A");
    enter(u"A");
    step([] {
        headless::keyInList(IDC_BROWSER_LIST, VK_DOWN);
        headless::chooseMenu(IDM_BROWSER_RENAME);
    });
    step([] { headless::finishLabelEdit(u"B"); });
    step([] { headless::pressEscape(); });
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_TRUE(testing_support::isDirectory(device("\\A\\B\\A")));
}

TEST_F(Browser, DeleteAsksAndLeavesFullFolders) {
    file("\\d\\yes.txt");
    file("\\d\\no.txt");
    file("\\d\\full\\inside.txt");
    Labels after;
    enter(u"d");
    for (const char16_t* name : {u"yes.txt", u"no.txt", u"full"}) {
        step([name] {
            headless::selectRow(IDC_BROWSER_LIST, name);
            headless::keyInList(IDC_BROWSER_LIST, VK_DELETE);
        });
    }
    step([&] {
        after = labels();
        headless::pressEscape();
    });
    headless::answerNextMessageBox(IDYES);
    headless::answerNextMessageBox(IDNO);
    headless::answerNextMessageBox(IDYES);
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_EQ(after, (Labels{u"full", u"no.txt"}));
    EXPECT_EQ(readFile(device("\\d\\full\\inside.txt")), "x");
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, u"Delete ?");
    EXPECT_EQ(shown[0].text, u"yes.txt");
    EXPECT_EQ(shown[0].style, MB_YESNO);
}

TEST(BrowserPatterns, WildcardMatchesItsTrickyCases) {
    const std::tuple<const char16_t*, const char16_t*, bool> cases[] = {
        {u"*.*", u"readme", true}, {u"*.zip", u"a.zip.txt", false}, {u"*.zip", u"zip", false},
        {u"a*b*c", u"axbybzc", true}, {u"*ab", u"aab", true}, {u"*a*", u"bbb", false},
        {u"a?c", u"ac", false}, {u"?", u"", false}, {u"", u"", true}, {u"abc", u"abcd", false},
        {u"a**", u"a", true}, {u"*.t?t", u"x.tar.txt", true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(browserPatternMatches(std::get<0>(cases[i]), std::get<1>(cases[i])),
                  std::get<2>(cases[i]))
            << "case " << i;
}
