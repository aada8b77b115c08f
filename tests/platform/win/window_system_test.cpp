// Message boxes: their icon, and a layout that fits the owner window and the screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/headless.h"
#include "platform/win/window_system.h"

using window_system::MessageIcon;

namespace {

constexpr DialogItemTemplate kItems[] = {{10, kEditClass, u"", WS_VISIBLE | WS_BORDER, 0, 0, 50, 10}};
constexpr DialogTemplate kDialog = {u"T", u"System", 8, 0, 0, 0, 60, 30, kItems, 1};

BOOL closingProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && wParam == IDOK) EndDialog(dialog, IDOK);
    return message == WM_INITDIALOG || message == WM_COMMAND;
}

class WindowSystem : public ::testing::Test {
protected:
    void TearDown() override { headless::uninstall(); }
};

}  // namespace

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
        DialogBoxIndirectParamW(nullptr, &kDialog, nullptr, closingProc, 0);
        ASSERT_EQ(headless::messagesShown().size(), 1u);
        const auto& shown = headless::messagesShown()[0].layout;
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
