// The window system's own rules that the dialogs rely on: modal loops and
// the quit message, message boxes, list keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/headless.h"
#include "platform/win/window_system.h"

using window_system::MessageBoxLayout;
using window_system::MessageIcon;

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

TEST_F(WindowSystem, MessageBoxesShowTheirIconAndFitTheWindowAndTheScreen) {
    const std::u16string about =
        u"Tovrin UnPacker 1.1.\n\nSupported formats:\nLZH / ZIP / GZIP / TAR / BZIP2 / Compress "
        u"/ MS CAB/ Ync / ARJ / IMP / BASE64 / UUencode / XXencode";
    const std::u16string unbroken(100, u'w');
    struct Case {
        int screenWidth, screenHeight;
        RECT owner;
        UINT style;
        MessageIcon icon;
        const std::u16string& text;
    } cases[] = {
        {240, 320, {0, 0, 240, 294}, MB_SETFOREGROUND, MessageIcon::NoIcon, about},
        {240, 320, {30, 40, 200, 100}, MB_ICONHAND, MessageIcon::Hand, unbroken},
        {640, 120, {500, 60, 800, 100}, MB_YESNO | MB_ICONQUESTION, MessageIcon::Question, about},
    };
    for (const Case& c : cases) {
        headless::install();
        window_system::setScreenSize(c.screenWidth, c.screenHeight);
        headless::whenIdle([&] {
            MoveWindow(headless::dialog(), c.owner.left, c.owner.top, c.owner.right - c.owner.left,
                       c.owner.bottom - c.owner.top, TRUE);
            MessageBoxW(GetDlgItem(headless::dialog(), 10), c.text.c_str(), u"c", c.style);
            headless::pressEnter();
        });
        DialogBoxIndirectParamW(nullptr, &kDialog, nullptr, recordingProc, 0);
        ASSERT_EQ(headless::messagesShown().size(), 1u);
        const MessageBoxLayout& shown = headless::messagesShown()[0].layout;
        const RECT& box = shown.box;
        EXPECT_EQ(shown.icon, c.icon);
        // As wide as the program's window within the screen, over its middle
        // where the screen allows, and never off the screen.
        const LONG ownerWidth = c.owner.right - c.owner.left;
        EXPECT_EQ(box.right - box.left, std::min<LONG>(ownerWidth, c.screenWidth));
        EXPECT_TRUE(box.left >= 0 && box.top >= 0 && box.right <= c.screenWidth &&
                    box.bottom <= c.screenHeight);
        if (c.owner.right <= c.screenWidth) {
            EXPECT_EQ(box.left, c.owner.left);
        }
        // Every line fits the text area, which lies inside the box beside
        // the icon; the lines hold the whole text.
        const RECT& text = shown.textArea;
        EXPECT_TRUE(text.left >= shown.iconArea.right && text.right <= box.right - box.left);
        std::u16string joined, expected;
        for (const std::u16string& line : shown.lines) {
            EXPECT_LE(static_cast<LONG>(line.size()) * 6, text.right - text.left);
            joined += line;
        }
        for (WCHAR ch : c.text)
            if (ch != u' ' && ch != u'\n') expected += ch;
        joined.erase(std::remove(joined.begin(), joined.end(), u' '), joined.end());
        EXPECT_EQ(joined, expected);
    }
}

TEST_F(WindowSystem, ListKeysSelectFromNothingAndKeepTheSelectionInTheList) {
    static constexpr DialogItemTemplate items[] = {
        {21, kListViewClass, u"", WS_VISIBLE | LVS_REPORT | LVS_SINGLESEL, 0, 0, 50, 40}};
    static constexpr DialogTemplate listDialog = {u"T", u"System", 8, 0, 0, 0, 60, 60, items, 1};
    struct Case {
        int rows;
        int focusedOnly;  // a row focused but not selected, -1 none
        std::vector<WORD> keys;
        int selected;
    } cases[] = {
        {3, -1, {VK_DOWN}, 0}, {3, -1, {VK_UP}, 2}, {3, -1, {VK_END}, 2}, {1, -1, {VK_DOWN}, 0},
        {3, -1, {VK_DOWN, VK_DOWN}, 1}, {3, -1, {VK_END, VK_DOWN}, 2}, {3, -1, {VK_HOME, VK_UP}, 0},
        {3, 1, {VK_SPACE}, 1}, {3, -1, {VK_SPACE}, 0}, {0, -1, {VK_DOWN, VK_SPACE}, -1},
    };
    for (const Case& c : cases) {
        headless::install();
        int selected = -2;
        headless::whenIdle([&] {
            HWND list = GetDlgItem(headless::dialog(), 21);
            for (int i = 0; i < c.rows; ++i) {
                LVITEMW item{};
                item.mask = LVIF_TEXT | LVIF_STATE;
                item.iItem = i;
                item.pszText = const_cast<LPWSTR>(u"row");
                item.state = item.stateMask = i == c.focusedOnly ? LVIS_FOCUSED : 0;
                SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            }
            for (WORD key : c.keys) headless::keyInList(21, key);
            selected = static_cast<int>(
                SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
            headless::pressEnter();
        });
        DialogBoxIndirectParamW(nullptr, &listDialog, nullptr, recordingProc, 0);
        EXPECT_EQ(selected, c.selected) << c.rows << " rows, first key " << c.keys[0];
    }
}
