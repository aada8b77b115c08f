// The window system's own rules that the dialogs rely on: modal loops and
// the quit message, the queue, the dialog keys and the resource calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/headless.h"
#include "platform/win/window_system.h"
#include "ui/resources.h"

namespace {

constexpr DialogItemTemplate kItems[] = {
    {10, kEditClass, u"", WS_VISIBLE | WS_BORDER, 0, 0, 50, 10},
    {11, kButtonClass, u"Box", WS_VISIBLE | BS_AUTOCHECKBOX, 0, 12, 50, 10},
};
constexpr DialogTemplate kDialog = {u"T", u"System", 8, 0, 0, 0, 60, 30, kItems, 2};

std::vector<std::string> events;

BOOL recordingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        events.push_back("init " + std::to_string(lParam));
        return TRUE;
    }
    if (message == WM_COMMAND) {
        events.push_back("command " + std::to_string(wParam & 0xFFFF) + "/" +
                         std::to_string(wParam >> 16));
        if (wParam == IDOK) EndDialog(dialog, 77);
        if (wParam == IDCANCEL) PostQuitMessage(5);
        return TRUE;
    }
    return FALSE;
}

class WindowSystem : public ::testing::Test {
protected:
    void SetUp() override {
        events.clear();
        headless::install();
    }
    void TearDown() override { headless::uninstall(); }
};

}  // namespace

TEST_F(WindowSystem, EndDialogReturnsItsResultAndTheKeysBecomeCommands) {
    bool checked = false;
    headless::whenIdle([&] {
        headless::click(11);
        headless::typeInto(10, u"typed");
    });
    headless::whenIdle([&] {
        checked = headless::isChecked(11);
        headless::pressEnter();
    });
    INT_PTR result = DialogBoxIndirectParamW(nullptr, &kDialog, nullptr, recordingProc, 9);
    EXPECT_EQ(result, 77);
    EXPECT_TRUE(checked);
    EXPECT_EQ(events, (std::vector<std::string>{"init 9", "command 11/0", "command 1/0"}));
    EXPECT_EQ(window_system::windowCount(), 0u);  // the dialog and its controls are gone
}

TEST_F(WindowSystem, QuitEndsEveryNestedLoopAndKeepsItsCode) {
    int innerResult = -1;
    headless::whenIdle([&] {
        // A dialog opened from inside another one, as the browser will be.
        headless::whenIdle([] { headless::pressEscape(); });
        innerResult = static_cast<int>(
            DialogBoxIndirectParamW(nullptr, &kDialog, headless::dialog(), recordingProc, 2));
    });
    DialogBoxIndirectParamW(nullptr, &kDialog, nullptr, recordingProc, 1);
    EXPECT_EQ(innerResult, 0);
    MSG message{};
    EXPECT_FALSE(GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 5u);
    EXPECT_FALSE(headless::ranOutOfSteps());
}

TEST_F(WindowSystem, HiddenControlsTakeNoInputAndMessagesForGoneWindowsAreDropped) {
    bool clicked = true;
    headless::whenIdle([&] {
        ShowWindow(GetDlgItem(headless::dialog(), 11), SW_HIDE);
        clicked = headless::click(11);
        // Queued for a control that goes before the message is taken.
        PostMessageW(GetDlgItem(headless::dialog(), 10), WM_SETTEXT, 0, 0);
        DestroyWindow(GetDlgItem(headless::dialog(), 10));
        headless::pressEnter();
    });
    EXPECT_EQ(DialogBoxIndirectParamW(nullptr, &kDialog, nullptr, recordingProc, 0), 77);
    EXPECT_FALSE(clicked);
    EXPECT_EQ(events, (std::vector<std::string>{"init 0", "command 1/0"}));
}

TEST_F(WindowSystem, ResourceCallsGiveTheProgramsTables) {
    const WCHAR* text = nullptr;
    EXPECT_EQ(LoadStringW(programInstance(), 40009, reinterpret_cast<LPWSTR>(&text), 0), 15);
    EXPECT_EQ(std::u16string(text), u"File not exist!");
    WCHAR small[5];
    EXPECT_EQ(LoadStringW(programInstance(), 40009, small, 5), 4);
    EXPECT_EQ(std::u16string(small), u"File");
    EXPECT_EQ(LoadStringW(programInstance(), 1, small, 5), 0);
    EXPECT_NE(FindResourceW(programInstance(), MAKEINTRESOURCEW(102), RT_DIALOG), nullptr);
    EXPECT_EQ(FindResourceW(programInstance(), MAKEINTRESOURCEW(102), RT_MENU), nullptr);
    const auto* icon = static_cast<const IconImage*>(
        LoadIconW(programInstance(), MAKEINTRESOURCEW(101)));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->width * icon->height, 256);

    WCHAR platform[9];
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof platform, platform, 0));
    EXPECT_EQ(std::u16string(platform), u"PocketPC");
    EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 8, platform, 0));  // would not fit
}

TEST_F(WindowSystem, ComboAndListControlsKeepTheirEntriesWithinBounds) {
    static constexpr DialogItemTemplate items[] = {
        {20, kComboBoxClass, u"", WS_VISIBLE | CBS_DROPDOWNLIST, 0, 0, 50, 10},
        {21, kListViewClass, u"", WS_VISIBLE | LVS_REPORT, 0, 12, 50, 40},
    };
    static constexpr DialogTemplate dialogTemplate = {u"T", u"System", 8, 0, 0, 0, 60, 60, items, 2};
    headless::whenIdle([] {
        HWND combo = GetDlgItem(headless::dialog(), 20);
        HWND list = GetDlgItem(headless::dialog(), 21);
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"\\"));
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(u"\\Storage Card"));
        EXPECT_EQ(SendMessageW(combo, CB_SETCURSEL, 5, 0), CB_ERR);
        EXPECT_EQ(SendMessageW(combo, CB_GETCURSEL, 0, 0), -1);
        EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXTLEN, 1, 0), 13);
        EXPECT_EQ(SendMessageW(combo, CB_GETLBTEXT, 2, 0), CB_ERR);

        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = 99;  // past the end: appended
        item.pszText = const_cast<LPWSTR>(u"second");
        EXPECT_EQ(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)), 0);
        item.iItem = 0;
        item.pszText = const_cast<LPWSTR>(u"first");
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        WCHAR text[4];
        LVITEMW get{};
        get.pszText = text;
        get.cchTextMax = 4;
        EXPECT_EQ(SendMessageW(list, LVM_GETITEMTEXTW, 1, reinterpret_cast<LPARAM>(&get)), 3);
        EXPECT_EQ(std::u16string(text), u"sec");
        EXPECT_EQ(SendMessageW(list, LVM_GETITEMTEXTW, 7, reinterpret_cast<LPARAM>(&get)), 0);
        window_system::selectListRow(list, 1);
        EXPECT_EQ(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED), 1);
        window_system::chooseComboEntry(combo, 1);
    });
    headless::whenIdle([] { headless::pressEnter(); });
    DialogBoxIndirectParamW(nullptr, &dialogTemplate, nullptr, recordingProc, 0);
    EXPECT_EQ(events, (std::vector<std::string>{"init 0", "command 20/1", "command 1/0"}));
}
