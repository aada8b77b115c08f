// The message box window of the FLTK backend: the icon, the text lines and
// the buttons where the window system's layout put them.
#include "platform/win/fltk_message_box.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Return_Button.H>

#include <algorithm>
#include <cstdint>

namespace fltk_backend {
namespace {

struct MessageBoxResult {
    int onEscape;
    int answer = 0;
};

// The button's data is its answer; the box's is the result.
void buttonChosen(Fl_Widget* widget, void* data) {
    auto* result = static_cast<MessageBoxResult*>(widget->window()->user_data());
    result->answer = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
    widget->window()->hide();
}

void boxClosed(Fl_Widget* widget, void* data) {
    static_cast<MessageBoxResult*>(data)->answer = static_cast<MessageBoxResult*>(data)->onEscape;
    widget->hide();
}

void addButton(const char* label, int answer, int x, int y, int w, int h, bool isDefault) {
    Fl_Button* button = isDefault ? new Fl_Return_Button(x, y, w, h, label)
                                  : new Fl_Button(x, y, w, h, label);
    button->labelsize(kFontSize);
    button->callback(buttonChosen, reinterpret_cast<void*>(static_cast<std::intptr_t>(answer)));
    if (!isDefault) button->shortcut(FL_Escape);
}

void place(Fl_Window& window, const RECT& box, const POINT* origin) {
    int x = 0, y = 0;
    if (origin) {
        x = origin->x + box.left;
        y = origin->y + box.top;
    } else {
        int sx, sy, sw, sh;
        Fl::screen_work_area(sx, sy, sw, sh);
        x = sx + (sw - window.w()) / 2;
        y = sy + (sh - window.h()) / 2;
    }
    int sx, sy, sw, sh;
    Fl::screen_work_area(sx, sy, sw, sh, x + window.w() / 2, y + window.h() / 2);
    x = std::max(sx, std::min(x, sx + sw - window.w()));
    y = std::max(sy, std::min(y, sy + sh - window.h()));
    window.position(x, y);
}

}  // namespace

int runMessageBox(const std::u16string& caption, UINT style,
                  const window_system::MessageBoxLayout& layout, const POINT* origin) {
    const RECT& box = layout.box;
    std::string title = utf8Of(caption);
    Fl_Double_Window window(box.right - box.left, box.bottom - box.top, title.c_str());
    window.color(FL_WHITE);
    MessageBoxResult result{IDOK};
    if (layout.icon != window_system::MessageIcon::NoIcon) {
        const RECT& area = layout.iconArea;
        const bool hand = layout.icon == window_system::MessageIcon::Hand;
        auto* icon = new Fl_Box(FL_OVAL_BOX, area.left, area.top, area.right - area.left,
                                area.bottom - area.top, hand ? "X" : "?");
        icon->color(hand ? FL_RED : FL_BLUE);
        icon->labelcolor(FL_WHITE);
        icon->labelfont(FL_HELVETICA_BOLD);
        icon->labelsize(18);
    }
    std::string body;
    for (const std::u16string& line : layout.lines) {
        if (!body.empty()) body += '\n';
        for (char c : utf8Of(line)) {
            body += c;
            if (c == '@') body += '@';  // '@' starts a symbol in FLTK labels
        }
    }
    const RECT& textArea = layout.textArea;
    // FLTK insets a left-aligned label by 3 pixels on either side.
    auto* textBox = new Fl_Box(textArea.left - 3, textArea.top, textArea.right - textArea.left + 6,
                               textArea.bottom - textArea.top);
    textBox->copy_label(body.c_str());
    textBox->labelsize(kFontSize);
    textBox->align(FL_ALIGN_INSIDE | FL_ALIGN_TOP | FL_ALIGN_LEFT | FL_ALIGN_CLIP);
    const RECT& buttons = layout.buttonArea;
    const int buttonWidth = 64;
    const int buttonHeight = buttons.bottom - buttons.top;
    const int middle = (buttons.left + buttons.right) / 2;
    if (style & MB_YESNO) {
        result.onEscape = IDNO;
        addButton("Yes", IDYES, middle - buttonWidth - 4, buttons.top, buttonWidth, buttonHeight,
                  true);
        addButton("No", IDNO, middle + 4, buttons.top, buttonWidth, buttonHeight, false);
    } else {
        addButton("OK", IDOK, middle - buttonWidth / 2, buttons.top, buttonWidth, buttonHeight,
                  true);
    }
    window.end();
    window.callback(boxClosed, &result);
    window.set_modal();
    window.size_range(window.w(), window.h(), window.w(), window.h());
    place(window, box, origin);
    result.answer = result.onEscape;
    window.show();
    while (window.shown()) Fl::wait();
    return result.answer;
}

}  // namespace fltk_backend
