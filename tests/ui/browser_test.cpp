// The file and folder browser as a person uses it on the headless backend,
// over a private device file system: each step runs when the dialog waits.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "app/program.h"
#include "formats/handler_registry.h"
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
    static std::vector<std::u16string> row(const std::u16string& label) {
        for (const auto& r : headless::rowsOf(IDC_BROWSER_LIST))
            if (!r.empty() && r[0] == label) return r;
        return {};
    }
    static bool open() { return headless::dialog() != nullptr; }
    static void ok() { headless::chooseMenu(IDM_BROWSER_OK); }

    HINSTANCE savedInstance_ = nullptr;
};

}  // namespace

TEST(BrowserSizes, ThousandsAndUnitsBeyondThirtyTwoBits) {
    const std::pair<unsigned long long, const char16_t*> cases[] = {
        {9999, u"9999"},       {10000, u"10KB"},        {999999, u"999KB"},
        {1000000, u"1,000KB"}, {12345678, u"12,345KB"}, {99999999, u"99,999KB"},
        {100000000, u"100MB"}, {0, u"0"},               {4500000000ull, u"4500MB"}};
    for (const auto& c : cases) EXPECT_EQ(browserSizeText(c.first), c.second) << c.first;
}

TEST_F(Browser, ListsFoldersFirstHidesDotNamesAndFiltersFiles) {
    file("\\a.txt");
    file("\\c.ZIP");
    file("\\.hidden");
    folder("\\B");
    folder("\\z.dir");
    folder("\\.config2");
    Labels all, zipOnly;
    std::vector<int> images;
    int columns = 0;
    bool waitCursor = true;
    step([&] {
        all = labels();
        HWND list = GetDlgItem(headless::dialog(), IDC_BROWSER_LIST);
        for (std::size_t i = 0; i < all.size(); ++i)
            images.push_back(window_system::listRowImage(list, i));
        columns = static_cast<int>(window_system::listColumns(list)->size());
        EXPECT_NE(window_system::listImage(list, 1), nullptr);
        waitCursor = window_system::waitCursorShown();
        headless::chooseMenu(IDM_BROWSER_CANCEL);
    });
    std::u16string path = u"";
    EXPECT_FALSE(browse(false, path));
    EXPECT_EQ(path, u"");
    // The directory bit sorts first; names keep their order within a kind.
    EXPECT_EQ(all, (Labels{u"B", u"z.dir", u"a.txt", u"c.ZIP"}));
    EXPECT_EQ(images, (std::vector<int>{1, 1, 0, 0}));
    EXPECT_EQ(columns, 3);
    EXPECT_FALSE(waitCursor);

    // Patterns are lower-cased and matched against the lower-cased name.
    step([&] {
        zipOnly = labels();
        headless::pressEscape();
    });
    EXPECT_FALSE(browse(false, path, u"*.TXT;*.zip"));
    EXPECT_EQ(zipOnly, (Labels{u"B", u"z.dir", u"a.txt", u"c.ZIP"}));
    step([&] {
        zipOnly = labels();
        headless::pressEscape();
    });
    EXPECT_FALSE(browse(false, path, u"*.zip"));
    EXPECT_EQ(zipOnly, (Labels{u"B", u"z.dir", u"c.ZIP"}));
}

TEST_F(Browser, FolderModeListsFoldersAndReturnsThemWithoutBackslash) {
    folder("\\A\\B");
    file("\\A\\f.txt");
    file("\\top.txt");
    Labels atRoot, inA;
    bool nameShown = true;
    RECT drop{}, entries{};
    step([&] {
        atRoot = labels();
        drop = headless::rectOf(IDC_BROWSER_FOLDERS);
        entries = headless::rectOf(IDC_BROWSER_LIST);
        nameShown = headless::isVisible(IDC_BROWSER_NAME);
        ok();
    });
    std::u16string path = u"";
    EXPECT_TRUE(browse(true, path));
    EXPECT_EQ(path, u"");  // the root
    EXPECT_EQ(atRoot, (Labels{u"A"}));
    EXPECT_FALSE(nameShown);
    // Without the name field the drop-down takes the first row.
    EXPECT_LT(drop.top, entries.top);
    EXPECT_LE(drop.bottom, entries.top);

    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"A"); });
    step([&] {
        inA = labels();
        headless::tapRow(IDC_BROWSER_LIST, u"B");  // a tap on a folder enters it too
    });
    step([] { ok(); });
    EXPECT_TRUE(browse(true, path));
    EXPECT_EQ(path, u"\\A\\B");
    EXPECT_EQ(inA, (Labels{u"B"}));
}

TEST_F(Browser, FileModeOkAcceptsOnlyAnExistingFile) {
    folder("\\docs\\sub");
    file("\\docs\\a.txt", "abc");
    std::vector<bool> stillOpen;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"docs"); });
    for (const char16_t* name : {u"", u"sub", u"missing.txt", u"*.txt", u"a?txt"}) {
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
    EXPECT_EQ(stillOpen, std::vector<bool>(5, true));
}

TEST_F(Browser, NewFolderTakesTheNextFreeNameAndEditsItsLabel) {
    folder("\\w\\NewFolder");
    folder("\\w\\NewFolder#2");
    folder("\\empty");
    bool editing[2] = {false, false};
    int focused = -1;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"w"); });
    step([] { headless::chooseMenu(IDM_BROWSER_NEW); });
    step([&] {
        editing[0] = headless::labelEditOpen();
        // Menu commands wait while a label is edited.
        headless::chooseMenu(IDM_BROWSER_CANCEL);
    });
    step([] { headless::finishLabelEdit(u"Projects"); });
    // In an empty folder the new one is the first and only item.
    step([] { headless::chooseMenu(IDM_BROWSER_UP); });
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"empty"); });
    step([] { headless::chooseMenu(IDM_BROWSER_NEW); });
    step([&] {
        editing[1] = headless::labelEditOpen();
        focused = window_system::listFocusedRow(GetDlgItem(headless::dialog(), IDC_BROWSER_LIST));
        headless::cancelLabelEdit();
    });
    step([] { headless::pressEscape(); });
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_TRUE(editing[0]);
    EXPECT_TRUE(editing[1]);
    EXPECT_EQ(focused, 0);
    EXPECT_TRUE(testing_support::isDirectory(device("\\w\\Projects")));
    EXPECT_FALSE(testing_support::fileExists(device("\\w\\NewFolder#3")));
    EXPECT_TRUE(testing_support::isDirectory(device("\\w\\NewFolder#2")));
    EXPECT_TRUE(testing_support::isDirectory(device("\\empty\\NewFolder")));
}

TEST_F(Browser, RenameKeepsBothWhenTheNameIsTakenAndStaysInTheFolder) {
    file("\\r\\a.txt", "first");
    file("\\r\\b.txt", "second");
    Labels afterClash, afterEscape, afterRename;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"r"); });
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"a.txt"); });
    step([] { headless::chooseMenu(IDM_BROWSER_RENAME); });
    step([] { headless::finishLabelEdit(u"b.txt"); });
    step([&] { afterClash = labels(); });
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"a.txt"); });
    step([] { headless::chooseMenu(IDM_BROWSER_RENAME); });
    step([] { headless::finishLabelEdit(u"..\\up.txt"); });
    step([&] { afterEscape = labels(); });
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"a.txt"); });
    step([] { headless::chooseMenu(IDM_BROWSER_RENAME); });
    step([] { headless::finishLabelEdit(u"c.txt"); });
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
    Labels folders;
    std::u16string renamed;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"A"); });
    step([&] {
        folders = headless::entriesOf(IDC_BROWSER_FOLDERS);
        headless::keyInList(IDC_BROWSER_LIST, VK_DOWN);
        headless::chooseMenu(IDM_BROWSER_RENAME);
    });
    step([] { headless::finishLabelEdit(u"B"); });
    step([] { headless::pressEscape(); });
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_EQ(folders, (Labels{u"\\", u" A"}));
    EXPECT_TRUE(testing_support::isDirectory(device("\\A\\B\\A")));
}

TEST_F(Browser, FolderUpAndTheAncestorDropDown) {
    folder("\\A\\B\\C");
    Labels entries, inA, atRoot, stillRoot;
    int selected = -1;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"A"); });
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"B"); });
    step([&] {
        entries = headless::entriesOf(IDC_BROWSER_FOLDERS);
        selected = headless::selectionOf(IDC_BROWSER_FOLDERS);
        headless::chooseEntry(IDC_BROWSER_FOLDERS, 1);
    });
    step([&] {
        inA = labels();
        EXPECT_EQ(headless::selectionOf(IDC_BROWSER_FOLDERS), 1);
        headless::chooseMenu(IDM_BROWSER_UP);
    });
    step([&] {
        atRoot = labels();
        headless::chooseMenu(IDM_BROWSER_UP);
    });
    step([&] {
        stillRoot = headless::entriesOf(IDC_BROWSER_FOLDERS);
        ok();
    });
    std::u16string path;
    EXPECT_TRUE(browse(true, path));
    EXPECT_EQ(path, u"");
    EXPECT_EQ(entries, (Labels{u"\\", u" A", u"  B"}));
    EXPECT_EQ(selected, 2);
    EXPECT_EQ(inA, (Labels{u"B"}));
    EXPECT_EQ(atRoot, (Labels{u"A"}));
    EXPECT_EQ(stillRoot, (Labels{u"\\"}));
}

TEST_F(Browser, DeleteAsksAndLeavesFullFolders) {
    file("\\d\\yes.txt");
    file("\\d\\no.txt");
    file("\\d\\full\\inside.txt");
    folder("\\d\\hollow");
    Labels after;
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"d"); });
    for (const char16_t* name : {u"yes.txt", u"no.txt", u"full", u"hollow"}) {
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
    headless::answerNextMessageBox(IDYES);
    std::u16string path;
    EXPECT_FALSE(browse(false, path));
    EXPECT_EQ(after, (Labels{u"full", u"no.txt"}));
    EXPECT_EQ(readFile(device("\\d\\full\\inside.txt")), "x");
    const auto& shown = headless::messagesShown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].caption, u"Delete ?");
    EXPECT_EQ(shown[0].text, u"yes.txt");
    EXPECT_EQ(shown[0].style, MB_YESNO);
}

TEST(BrowserPatterns, WildcardMatchesItsTrickyCases) {
    struct Case {
        const char16_t* pattern;
        const char16_t* name;
        bool matches;
    } cases[] = {
        {u"*.*", u"readme", true},     {u"*.*", u"", true},        {u"*.zip", u"a.zip", true},
        {u"*.zip", u"a.zip.txt", false}, {u"*.zip", u"zip", false}, {u"a*b*c", u"axbybzc", true},
        {u"*ab", u"aab", true},        {u"*a", u"baa", true},      {u"*a*", u"bbb", false},
        {u"a?c", u"abc", true},        {u"a?c", u"ac", false},     {u"?", u"", false},
        {u"*", u"", true},             {u"", u"", true},           {u"abc", u"abcd", false},
        {u"a**", u"a", true},          {u"*.t?t", u"x.tar.txt", true}, {u"a*", u"b", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(browserPatternMatches(c.pattern, c.name), c.matches)
            << std::string(c.pattern, c.pattern + std::char_traits<char16_t>::length(c.pattern))
            << " / " << std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name));
    }
}

// The main dialog's Select file and Select folder, run through the program.
class BrowserFromMainDialog : public Browser {
protected:
    void TearDown() override {
        // The program released what the rest of the suite shares.
        allocateSniffBuffer();
        if (!appState.handlerListHead) appState.handlerListHead = buildHandlerList();
        appState.commandLineFile[0] = 0;
        Browser::TearDown();
    }
    static int runMain() {
        destroyHandlerList();
        int status = runProgram(u"");
        EXPECT_FALSE(headless::ranOutOfSteps()) << "a dialog was still open";
        return status;
    }
};

TEST_F(BrowserFromMainDialog, SelectFileAndFolderFillTheFieldsOnlyWhenConfirmed) {
    file("\\in\\a.gz");
    std::u16string fileField, rootField, cancelledFile, cancelledFolder, folderField;
    step([] { headless::click(IDC_BROWSE_FILE); });
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"in"); });
    step([] { headless::tapRow(IDC_BROWSER_LIST, u"a.gz"); });
    step([] { ok(); });
    step([&] {
        fileField = headless::textOf(IDC_FILE);
        headless::typeInto(IDC_EXTRACT_PATH, u"\\typed");
        headless::chooseMenu(IDM_SELECT_FOLDER);
    });
    step([] { ok(); });  // the root
    step([&] {
        rootField = headless::textOf(IDC_EXTRACT_PATH);
        headless::chooseMenu(IDM_SELECT_FILE);
    });
    step([] { headless::chooseMenu(IDM_BROWSER_CANCEL); });
    step([&] {
        cancelledFile = headless::textOf(IDC_FILE);
        cancelledFolder = headless::textOf(IDC_EXTRACT_PATH);
        headless::chooseMenu(IDM_SELECT_FOLDER);
    });
    step([] { headless::doubleTapRow(IDC_BROWSER_LIST, u"in"); });
    step([] { ok(); });
    step([&] {
        folderField = headless::textOf(IDC_EXTRACT_PATH);
        headless::pressEscape();
    });
    EXPECT_EQ(runMain(), 0);
    EXPECT_EQ(fileField, u"\\in\\a.gz");
    EXPECT_EQ(rootField, u"\\");
    EXPECT_EQ(cancelledFile, u"\\in\\a.gz");
    EXPECT_EQ(cancelledFolder, u"\\");
    EXPECT_EQ(folderField, u"\\in");
}
