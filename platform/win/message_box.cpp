// How a message box is laid out: the width of the program's window, the
// text broken into lines at spaces (inside a word only when the word alone
// is too wide), centred over the window and kept inside the work area.
#include <algorithm>

#include "platform/win/window_records.h"

using namespace window_records;

namespace {

constexpr int kMargin = 8;
constexpr int kIconSize = 32;
constexpr int kButtonHeight = 24;

int widthOf(const std::u16string& text) {
    SIZE extent{0, 0};
    HDC screen = GetDC(nullptr);
    GetTextExtentExPointW(screen, text.c_str(), static_cast<int>(text.size()), 0, nullptr,
                          nullptr, &extent);
    ReleaseDC(nullptr, screen);
    return extent.cx;
}

// Appends paragraph's lines, none wider than width (a single character
// wider than width still takes a line of its own).
void wrapParagraph(const std::u16string& paragraph, int width,
                   std::vector<std::u16string>& lines) {
    std::u16string line;
    std::size_t at = 0;
    do {
        std::size_t space = paragraph.find(u' ', at);
        std::size_t end = space == std::u16string::npos ? paragraph.size() : space;
        std::u16string word = paragraph.substr(at, end - at);
        std::u16string joined = line.empty() ? word : line + u' ' + word;
        if (widthOf(joined) <= width) {
            line = joined;
        } else {
            if (!line.empty()) lines.push_back(line);
            line.clear();
            // A word too wide for a line of its own is broken where it must be.
            for (WCHAR c : word) {
                if (!line.empty() && widthOf(line + c) > width) {
                    lines.push_back(line);
                    line.clear();
                }
                line.push_back(c);
            }
        }
        at = end + 1;
    } while (at <= paragraph.size());
    lines.push_back(line);
}

}  // namespace

namespace window_system {

MessageBoxLayout layOutMessageBox(HWND owner, const std::u16string& text, UINT style) {
    MessageBoxLayout layout;
    if (style & MB_ICONHAND) {
        layout.icon = MessageIcon::Hand;
    } else if (style & MB_ICONQUESTION) {
        layout.icon = MessageIcon::Question;
    }
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    // The program's window: the owner's top-level window, else the screen.
    Window* window = lookup(owner);
    while (window && !isTopLevel(window)) window = window->parent;
    RECT over = work;
    if (window) GetWindowRect(window, &over);
    const int workWidth = work.right - work.left;
    const int workHeight = work.bottom - work.top;
    const int width = std::min<int>(over.right - over.left, workWidth);

    const int iconWidth = layout.icon == MessageIcon::NoIcon ? 0 : kIconSize + kMargin;
    const int textWidth = std::max(1, width - 2 * kMargin - iconWidth);
    std::size_t at = 0;
    do {
        std::size_t end = text.find(u'\n', at);
        if (end == std::u16string::npos) end = text.size();
        wrapParagraph(text.substr(at, end - at), textWidth, layout.lines);
        at = end + 1;
    } while (at <= text.size());

    SIZE extent{0, 0};
    HDC screen = GetDC(nullptr);
    GetTextExtentExPointW(screen, u"WY", 2, 0, nullptr, nullptr, &extent);
    ReleaseDC(nullptr, screen);
    layout.lineHeight = extent.cy;
    const int textHeight = static_cast<int>(layout.lines.size()) * layout.lineHeight;
    const int contentHeight = std::max(textHeight, iconWidth ? kIconSize : 0);
    const int height =
        std::min(workHeight, kMargin + contentHeight + kMargin + kButtonHeight + kMargin);

    layout.iconArea = {kMargin, kMargin, kMargin + (iconWidth ? kIconSize : 0),
                       kMargin + (iconWidth ? kIconSize : 0)};
    layout.textArea = {kMargin + iconWidth, kMargin, width - kMargin,
                       std::max<LONG>(kMargin, height - 2 * kMargin - kButtonHeight)};
    layout.buttonArea = {kMargin, height - kMargin - kButtonHeight, width - kMargin,
                         height - kMargin};

    // Centred over the window, then moved inside the work area.
    LONG left = over.left + ((over.right - over.left) - width) / 2;
    LONG top = over.top + ((over.bottom - over.top) - height) / 2;
    left = std::max(work.left, std::min<LONG>(left, work.right - width));
    top = std::max(work.top, std::min<LONG>(top, work.bottom - height));
    layout.box = {left, top, left + width, top + height};
    return layout;
}

}  // namespace window_system
