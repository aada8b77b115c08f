// The FLTK backend: every dialog becomes a real window of the device's
// screen size with its menu bar along the bottom; controls become widgets.
// Widgets report what a person does through the window system's input
// calls, and the window system's changes are copied back onto the widgets.
#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Menu_Bar.H>
#include <FL/Fl_Progress.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/fl_draw.H>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/text_conversion.h"
#include "platform/win/backend.h"

namespace {

constexpr int kFontSize = 12;

std::string utf8Of(const WCHAR* text) {
    std::string out;
    if (text && !utf16ToUtf8(text, out)) out.clear();
    return out;
}
std::string utf8Of(const std::u16string& text) { return utf8Of(text.c_str()); }

bool equalsIgnoreCase(const WCHAR* a, const WCHAR* b) {
    if (!a || !b) return false;
    for (;; ++a, ++b) {
        WCHAR x = *a, y = *b;
        if (x >= u'a' && x <= u'z') x = static_cast<WCHAR>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<WCHAR>(y - 32);
        if (x != y) return false;
        if (!x) return true;
    }
}

bool busy() { return window_system::waitCursorShown(); }

// A dialog's window: Enter and Esc become the dialog keys, closing it is
// WM_CLOSE (the dialog's Cancel).
class DialogWindow : public Fl_Double_Window {
public:
    DialogWindow(HWND dialogHandle, int w, int h, const char* title)
        : Fl_Double_Window(w, h, title), dialog(dialogHandle) {}

    int handle(int event) override {
        if ((event == FL_SHORTCUT || event == FL_KEYBOARD) && !busy()) {
            int key = Fl::event_key();
            if (key == FL_Enter || key == FL_KP_Enter) {
                window_system::pressKey(dialog, VK_RETURN);
                return 1;
            }
            if (key == FL_Escape) {
                window_system::pressKey(dialog, VK_ESCAPE);
                return 1;
            }
        }
        return Fl_Double_Window::handle(event);
    }

    HWND dialog;
    Fl_Box* status = nullptr;
    Fl_Progress* bar = nullptr;
};

// A list view: taps and double-taps become the list's notifications once
// FLTK has finished with the event (they may refill the list); Delete is
// the list's key; arrow keys only move the selection.
class ListBrowser : public Fl_Hold_Browser {
public:
    ListBrowser(HWND listHandle) : Fl_Hold_Browser(0, 0, 10, 10), list(listHandle) {}

    int handle(int event) override {
        if (event == FL_KEYBOARD && !busy()) {
            // The list's own keys: the window system moves the selection.
            WORD key = 0;
            switch (Fl::event_key()) {
            case FL_Delete: key = VK_DELETE; break;
            case FL_Down: key = VK_DOWN; break;
            case FL_Up: key = VK_UP; break;
            case FL_Home: key = VK_HOME; break;
            case FL_End: key = VK_END; break;
            case ' ': key = VK_SPACE; break;
            }
            if (key) {
                defer(Action::Key, key);
                return 1;
            }
        }
        return Fl_Hold_Browser::handle(event);
    }

    enum class Action { Tap, DoubleTap, Key };
    void defer(Action action, int row) {
        pendingAction = action;
        pendingRow = row;
        Fl::add_timeout(0.0, runPending, this);
    }

    static void runPending(void* data) {
        auto* self = static_cast<ListBrowser*>(data);
        HWND list = self->list;
        if (!IsWindow(list)) return;
        switch (self->pendingAction) {
        case Action::Tap: window_system::tapListRow(list, self->pendingRow); break;
        case Action::DoubleTap: window_system::doubleTapListRow(list, self->pendingRow); break;
        case Action::Key:
            window_system::listKey(list, static_cast<WORD>(self->pendingRow));
            break;
        }
        // Wakes the modal loop, which may have been ended by the action.
        PostMessageW(nullptr, WM_NULL, 0, 0);
    }

    HWND list;
    Action pendingAction = Action::Tap;
    int pendingRow = -1;  // the row, or the key for Action::Key
};

class FltkBackend : public WindowBackend {
public:
    void windowCreated(HWND window) override {
        const WCHAR* cls = window_system::classNameOf(window);
        DWORD style = window_system::styleOf(window);
        if (!(style & WS_CHILD)) {
            if (equalsIgnoreCase(cls, u"Dialog")) createDialogWindow(window);
            // The main window draws nothing and the dialog covers it: it
            // needs no window of its own. Menu bars are built once they
            // have their menu.
            return;
        }
        Fl_Window* host = hostWindowOf(GetParent(window));
        if (!host) return;
        Fl_Widget* widget = nullptr;
        if (equalsIgnoreCase(cls, kEditClass)) {
            Fl_Input* input = (style & ES_PASSWORD) ? new Fl_Secret_Input(0, 0, 10, 10)
                                                    : new Fl_Input(0, 0, 10, 10);
            input->when(FL_WHEN_CHANGED);
            input->callback(inputChanged, window);
            input->textsize(kFontSize);
            widget = input;
        } else if (equalsIgnoreCase(cls, kButtonClass)) {
            Fl_Button* button = (style & BS_TYPEMASK) == BS_AUTOCHECKBOX
                                    ? new Fl_Check_Button(0, 0, 10, 10)
                                    : new Fl_Button(0, 0, 10, 10);
            button->callback(buttonClicked, window);
            widget = button;
        } else if (equalsIgnoreCase(cls, kComboBoxClass)) {
            auto* choice = new Fl_Choice(0, 0, 10, 10);
            choice->textsize(kFontSize);
            choice->callback(comboChosen, window);
            widget = choice;
        } else if (equalsIgnoreCase(cls, kListViewClass)) {
            auto* browser = new ListBrowser(window);
            browser->textsize(kFontSize);
            browser->format_char('\x01');  // names are shown as they are, '@' too
            browser->callback(rowChosen, window);
            browser->when(FL_WHEN_RELEASE_ALWAYS);
            widget = browser;
        } else {
            auto* box = new Fl_Box(0, 0, 10, 10);
            box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
            widget = box;
        }
        widget->labelsize(kFontSize);
        host->add(widget);
        widgets[window] = widget;
        windowChanged(window);
    }

    void windowChanged(HWND window) override {
        if (dialogs.count(window)) {
            syncDialog(window);
            return;
        }
        if (window_system::menuOf(window)) {
            syncMenuBar(window);
            return;
        }
        auto found = widgets.find(window);
        if (found == widgets.end()) return;
        Fl_Widget* widget = found->second;
        RECT rect{};
        RECT parentRect{};
        GetWindowRect(window, &rect);
        GetWindowRect(GetParent(window), &parentRect);
        widget->resize(rect.left - parentRect.left, rect.top - parentRect.top,
                       rect.right - rect.left, rect.bottom - rect.top);
        const WCHAR* cls = window_system::classNameOf(window);
        std::string text = utf8Of(window_system::textOf(window));
        if (equalsIgnoreCase(cls, kEditClass)) {
            auto* input = static_cast<Fl_Input*>(widget);
            if (text != input->value()) input->value(text.c_str());
        } else if (equalsIgnoreCase(cls, kButtonClass)) {
            // A push button without a caption opens a browser: it shows the
            // usual glyph for that, its caption stays empty.
            bool browse = text.empty() && !window_system::isCheckBox(window);
            widget->copy_label(browse ? "..." : text.c_str());
            if (window_system::isCheckBox(window))
                static_cast<Fl_Button*>(widget)->value(window_system::checkState(window));
        } else if (equalsIgnoreCase(cls, kStaticClass)) {
            widget->copy_label(text.c_str());
        } else if (equalsIgnoreCase(cls, kComboBoxClass)) {
            auto* choice = static_cast<Fl_Choice*>(widget);
            choice->clear();
            for (const std::u16string& entry : *window_system::comboEntries(window)) {
                // add() would read '/', '&' and '|' as menu syntax.
                int index = choice->add("x", 0, nullptr);
                if (index >= 0) choice->replace(index, utf8Of(entry).c_str());
            }
            choice->value(window_system::comboSelection(window));
        } else if (equalsIgnoreCase(cls, kListViewClass)) {
            auto* browser = static_cast<ListBrowser*>(widget);
            // While the list is filled under the wait cursor it is drawn once, at the end.
            if (!busy()) fillBrowser(browser, window);
        }
        if (window_system::styleOf(window) & WS_VISIBLE) {
            widget->show();
        } else {
            widget->hide();
        }
        if (window_system::styleOf(window) & WS_DISABLED) widget->deactivate();
        widget->redraw();
    }

    void focusChanged(HWND window) override {
        auto found = widgets.find(window);
        if (found == widgets.end() || !found->second->visible()) return;
        found->second->take_focus();
        // A field that takes the focus has its text selected, so typing replaces it.
        if (auto* input = dynamic_cast<Fl_Input*>(found->second))
            input->position(input->size(), 0);
    }

    void windowDestroyed(HWND window) override {
        auto dialog = dialogs.find(window);
        if (dialog != dialogs.end()) {
            dialog->second->hide();
            Fl::delete_widget(dialog->second);
            dialogs.erase(dialog);
            // Its widgets went with it.
            for (auto it = widgets.begin(); it != widgets.end();) {
                if (GetParent(it->first) == window) {
                    it = widgets.erase(it);
                } else {
                    ++it;
                }
            }
            menuBars.erase(window_system::menuBarOf(window));
            return;
        }
        auto widget = widgets.find(window);
        if (widget != widgets.end()) {
            if (Fl_Group* parent = widget->second->parent()) parent->remove(widget->second);
            Fl::delete_widget(widget->second);
            widgets.erase(widget);
        }
        auto bar = menuBars.find(window);
        if (bar != menuBars.end()) {
            if (Fl_Group* parent = bar->second->parent()) parent->remove(bar->second);
            Fl::delete_widget(bar->second);
            menuBars.erase(bar);
        }
    }

    void waitForInput() override {
        while (!window_system::messagesPending()) {
            if (!Fl::first_window()) {
                // No window is left for a person to act in.
                PostQuitMessage(0);
                return;
            }
            Fl::wait();
        }
    }

    // The box the window system laid out: its lines as they are (no further
    // wrapping), its place relative to the device screen, which is where
    // the program's dialog windows stand on the host's screen.
    int messageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                   UINT style, const window_system::MessageBoxLayout& layout) override {
        const RECT& box = layout.box;
        std::string title = utf8Of(caption);
        Fl_Double_Window window(box.right - box.left, box.bottom - box.top, title.c_str());
        window.color(FL_WHITE);
        MessageBoxResult result{IDOK};
        if (layout.icon != window_system::MessageIcon::NoIcon) {
            const RECT& area = layout.iconArea;
            auto* icon = new Fl_Box(FL_OVAL_BOX, area.left, area.top, area.right - area.left,
                                    area.bottom - area.top,
                                    layout.icon == window_system::MessageIcon::Hand ? "X" : "?");
            icon->color(layout.icon == window_system::MessageIcon::Hand ? FL_RED : FL_BLUE);
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
            addButton("Yes", IDYES, middle - buttonWidth - 4, buttons.top, buttonWidth,
                      buttonHeight, true);
            addButton("No", IDNO, middle + 4, buttons.top, buttonWidth, buttonHeight,
                      false);
        } else {
            addButton("OK", IDOK, middle - buttonWidth / 2, buttons.top, buttonWidth,
                      buttonHeight, true);
        }
        window.end();
        window.callback(messageBoxClosed, &result);
        window.set_modal();
        window.size_range(window.w(), window.h(), window.w(), window.h());
        placeMessageBox(window, owner, box);
        result.answer = result.onEscape;
        window.show();
        while (window.shown()) Fl::wait();
        return result.answer;
    }

    void waitCursorChanged(bool shown) override {
        for (auto& dialog : dialogs) {
            dialog.second->cursor(shown ? FL_CURSOR_WAIT : FL_CURSOR_DEFAULT);
            if (!shown && dialog.second->status) {
                dialog.second->status->hide();
                dialog.second->bar->hide();
            }
        }
        lastPaint = std::chrono::steady_clock::time_point{};
        shownPercent = -2;
        Fl::flush();
    }

    SIZE textExtent(const WCHAR* text, int length) override {
        std::string utf8 = utf8Of(std::u16string(text, static_cast<std::size_t>(length)));
        fl_font(FL_HELVETICA, kFontSize);
        return {static_cast<LONG>(fl_width(utf8.c_str())), static_cast<LONG>(fl_height())};
    }

    // The status line names the output being written, with a bar under it
    // for how much of the archive has been read. The window system drops
    // input while the wait cursor is up, so handling the events here (which
    // repaints and keeps the window answering its window manager) acts on
    // nothing a person did.
    void progress(const std::u16string& outputPath, unsigned filesSoFar, int percent) override {
        auto now = std::chrono::steady_clock::now();
        // New outputs can come faster than a person reads; the measured
        // share is already limited to one report every 50 ms.
        if (percent == shownPercent && now - lastPaint < std::chrono::milliseconds(50)) return;
        lastPaint = now;
        shownPercent = percent;
        HWND active = window_system::activeDialog();
        auto found = dialogs.find(active);
        if (found == dialogs.end()) return;
        DialogWindow* window = found->second;
        if (!window->status) {
            window->status = new Fl_Box(0, 0, 10, 10);
            window->status->box(FL_FLAT_BOX);
            window->status->color(FL_YELLOW);
            window->status->labelsize(kFontSize);
            window->status->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_CLIP);
            window->add(window->status);
            window->bar = new Fl_Progress(0, 0, 10, 10);
            window->bar->minimum(0);
            window->bar->maximum(100);
            window->bar->color(FL_WHITE, FL_BLUE);
            window->bar->labelsize(kFontSize);
            window->add(window->bar);
        }
        RECT client{};
        GetClientRect(active, &client);
        const int statusHeight = kFontSize + 6;
        const int barHeight = kFontSize + 6;
        window->status->resize(0, client.bottom - statusHeight - barHeight, client.right,
                               statusHeight);
        window->bar->resize(0, client.bottom - barHeight, client.right, barHeight);
        std::string status;
        if (filesSoFar > 0) {
            char count[32];
            std::snprintf(count, sizeof count, "Writing file %u: ", filesSoFar);
            status = count + utf8Of(outputPath);
        } else {
            status = "Reading the archive";
        }
        window->status->copy_label(status.c_str());
        const int shown = percent < 0 ? 0 : percent;
        char label[16];
        std::snprintf(label, sizeof label, "%d%%", shown);
        window->bar->value(static_cast<float>(shown));
        window->bar->copy_label(percent < 0 ? "" : label);
        window->status->show();
        window->bar->show();
        window->status->redraw();
        window->bar->redraw();
        Fl::check();
    }

private:
    struct MessageBoxResult {
        int onEscape;
        int answer = 0;
    };
    // The button's data is its answer; the box's is the result.
    static void messageBoxButton(Fl_Widget* widget, void* data) {
        auto* result = static_cast<MessageBoxResult*>(widget->window()->user_data());
        result->answer = static_cast<int>(reinterpret_cast<std::intptr_t>(data));
        widget->window()->hide();
    }
    static void messageBoxClosed(Fl_Widget* widget, void* data) {
        static_cast<MessageBoxResult*>(data)->answer = static_cast<MessageBoxResult*>(data)->onEscape;
        widget->hide();
    }
    static void addButton(const char* label, int answer, int x, int y, int w, int h,
                          bool isDefault) {
        Fl_Button* button = isDefault ? new Fl_Return_Button(x, y, w, h, label)
                                      : new Fl_Button(x, y, w, h, label);
        button->labelsize(kFontSize);
        button->callback(messageBoxButton, reinterpret_cast<void*>(static_cast<std::intptr_t>(answer)));
        if (!isDefault) button->shortcut(FL_Escape);
    }

    // The device screen's origin on the host's screen: where a dialog
    // window of the program stands, less its place on the device.
    void placeMessageBox(Fl_Window& window, HWND owner, const RECT& box) {
        HWND top = owner;
        while (top && (window_system::styleOf(top) & WS_CHILD)) top = GetParent(top);
        DialogWindow* host = nullptr;
        auto found = dialogs.find(top);
        if (found != dialogs.end() && found->second->shown()) host = found->second;
        if (!host) {
            auto active = dialogs.find(window_system::activeDialog());
            if (active != dialogs.end() && active->second->shown()) host = active->second;
        }
        int x = 0, y = 0;
        if (host) {
            RECT hostRect{};
            GetWindowRect(host->dialog, &hostRect);
            x = host->x() - hostRect.left + box.left;
            y = host->y() - hostRect.top + box.top;
        } else {
            int sx, sy, sw, sh;
            Fl::screen_work_area(sx, sy, sw, sh);
            x = sx + (sw - window.w()) / 2;
            y = sy + (sh - window.h()) / 2;
        }
        // Kept on the host's screen as well.
        int sx, sy, sw, sh;
        Fl::screen_work_area(sx, sy, sw, sh, x + window.w() / 2, y + window.h() / 2);
        x = std::max(sx, std::min(x, sx + sw - window.w()));
        y = std::max(sy, std::min(y, sy + sh - window.h()));
        window.position(x, y);
    }

    static void inputChanged(Fl_Widget* widget, void* data) {
        if (busy()) {
            // Typing while a request runs does not happen either.
            static_cast<Fl_Input*>(widget)->value(
                utf8Of(window_system::textOf(static_cast<HWND>(data))).c_str());
            return;
        }
        std::u16string text;
        if (!utf8ToUtf16(static_cast<Fl_Input*>(widget)->value(), text)) return;
        window_system::typeText(static_cast<HWND>(data), text.c_str(), false);
    }
    static void buttonClicked(Fl_Widget* widget, void* data) {
        auto* window = static_cast<HWND>(data);
        if (busy()) {
            // Undo FLTK's own toggle: the click did not happen.
            if (window_system::isCheckBox(window))
                static_cast<Fl_Button*>(widget)->value(window_system::checkState(window));
            return;
        }
        window_system::clickControl(window);
        // A check box that did not take the click shows its real state.
        if (window_system::isCheckBox(window))
            static_cast<Fl_Button*>(widget)->value(window_system::checkState(window));
    }
    static void comboChosen(Fl_Widget* widget, void* data) {
        auto* window = static_cast<HWND>(data);
        if (busy()) {
            static_cast<Fl_Choice*>(widget)->value(window_system::comboSelection(window));
            return;
        }
        window_system::chooseComboEntry(window, static_cast<Fl_Choice*>(widget)->value());
    }
    static void rowChosen(Fl_Widget* widget, void* data) {
        if (busy()) return;
        auto* browser = static_cast<ListBrowser*>(widget);
        int row = browser->value() - 1;
        if (row < 0) return;
        if (Fl::event() == FL_RELEASE) {
            browser->defer(Fl::event_clicks() ? ListBrowser::Action::DoubleTap
                                              : ListBrowser::Action::Tap,
                           row);
        }
    }

    // The rows with their icons; a report view shows every column, a list
    // view the names.
    void fillBrowser(ListBrowser* browser, HWND list) {
        const int top = browser->topline();
        int selectedLine = 0;
        browser->clear();
        bool report = (window_system::styleOf(list) & LVS_TYPEMASK) == LVS_REPORT;
        const auto* widths = window_system::listColumnWidths(list);
        columnWidths.assign(widths->begin(), widths->end());
        columnWidths.push_back(0);
        static const int noColumns[] = {0};
        browser->column_widths(report ? columnWidths.data() : noColumns);
        const auto& rows = *window_system::listRows(list);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            std::string line;
            std::size_t columns = report ? rows[i].size() : std::min<std::size_t>(1, rows[i].size());
            for (std::size_t column = 0; column < columns; ++column) {
                if (column) line += '\t';
                line += utf8Of(rows[i][column]);
            }
            browser->add(line.c_str());
            int line1 = static_cast<int>(i) + 1;
            if (Fl_RGB_Image* icon = iconImage(
                    window_system::listImage(list, window_system::listRowImage(list, i))))
                browser->icon(line1, icon);
            if (window_system::listRowSelected(list, i)) {
                browser->select(line1);
                selectedLine = line1;
            }
        }
        if (selectedLine > 0) {
            if (!browser->displayed(selectedLine)) browser->middleline(selectedLine);
        } else if (top > 0 && top <= browser->size()) {
            browser->topline(top);
        }
    }

    Fl_RGB_Image* iconImage(const IconImage* icon) {
        if (!icon || icon->width <= 0 || icon->height <= 0) return nullptr;
        auto found = icons.find(icon);
        if (found != icons.end()) return found->second;
        auto& rgba = iconPixels[icon];
        rgba.resize(static_cast<std::size_t>(icon->width) * static_cast<std::size_t>(icon->height) * 4);
        for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
            std::uint32_t pixel = icon->argb[i];
            rgba[i * 4 + 0] = static_cast<unsigned char>(pixel >> 16);
            rgba[i * 4 + 1] = static_cast<unsigned char>(pixel >> 8);
            rgba[i * 4 + 2] = static_cast<unsigned char>(pixel);
            rgba[i * 4 + 3] = static_cast<unsigned char>(pixel >> 24);
        }
        return icons[icon] = new Fl_RGB_Image(rgba.data(), icon->width, icon->height, 4);
    }
    static void menuChosen(Fl_Widget* widget, void* data) {
        if (busy()) return;
        auto command = static_cast<WORD>(reinterpret_cast<std::uintptr_t>(data));
        window_system::chooseCommand(static_cast<HWND>(widget->user_data()), command);
    }
    static void windowClosed(Fl_Widget* widget, void* data) {
        if (busy()) return;
        PostMessageW(static_cast<HWND>(data), WM_CLOSE, 0, 0);
    }

    void createDialogWindow(HWND dialog) {
        std::string title = utf8Of(window_system::textOf(dialog));
        SIZE screen = window_system::screenSize();
        auto* window = new DialogWindow(dialog, screen.cx, screen.cy, title.c_str());
        window->end();
        window->copy_label(title.c_str());
        window->callback(windowClosed, dialog);
        window->color(FL_WHITE);
        static Fl_RGB_Image* icon = programIcon();
        if (icon) window->icon(icon);
        dialogs[dialog] = window;
    }

    // The icon of the program's window class, for the window manager.
    static Fl_RGB_Image* programIcon() {
        const IconImage* icon = window_system::programIcon();
        if (!icon || icon->width <= 0 || icon->height <= 0) return nullptr;
        static std::vector<unsigned char> rgba;
        rgba.resize(static_cast<std::size_t>(icon->width) * static_cast<std::size_t>(icon->height) * 4);
        for (std::size_t i = 0; i < rgba.size() / 4; ++i) {
            std::uint32_t pixel = icon->argb[i];
            rgba[i * 4 + 0] = static_cast<unsigned char>(pixel >> 16);
            rgba[i * 4 + 1] = static_cast<unsigned char>(pixel >> 8);
            rgba[i * 4 + 2] = static_cast<unsigned char>(pixel);
            rgba[i * 4 + 3] = static_cast<unsigned char>(pixel >> 24);
        }
        return new Fl_RGB_Image(rgba.data(), icon->width, icon->height, 4);
    }

    Fl_Window* hostWindowOf(HWND parent) {
        auto found = dialogs.find(parent);
        return found == dialogs.end() ? nullptr : found->second;
    }

    void syncDialog(HWND dialog) {
        DialogWindow* window = dialogs[dialog];
        std::string title = utf8Of(window_system::textOf(dialog));
        if (!window->label() || title != window->label()) window->copy_label(title.c_str());
        RECT client{};
        GetClientRect(dialog, &client);
        int barHeight = window_system::menuBarOf(dialog) ? window_system::kMenuBarHeight : 0;
        int width = client.right > 0 ? client.right : window->w();
        int height = (client.bottom > 0 ? client.bottom : window->h()) + barHeight;
        if (window->w() != width || window->h() != height) {
            window->size(width, height);
            window->size_range(width, height, width, height);
        }
        if (HWND bar = window_system::menuBarOf(dialog)) syncMenuBar(bar);
        if ((window_system::styleOf(dialog) & WS_VISIBLE) && !window->shown()) window->show();
        window->redraw();
    }

    void syncMenuBar(HWND bar) {
        HWND owner = GetParent(bar);
        auto host = dialogs.find(owner);
        if (host == dialogs.end()) return;
        Fl_Menu_Bar*& menuBar = menuBars[bar];
        if (!menuBar) {
            menuBar = new Fl_Menu_Bar(0, 0, 10, 10);
            menuBar->textsize(kFontSize);
            menuBar->box(FL_UP_BOX);
            menuBar->user_data(owner);  // the window that hears the commands
            const MenuTemplate* menu = window_system::menuOf(bar);
            for (std::size_t i = 0; i < menu->itemCount; ++i) {
                const MenuItemTemplate& item = menu->items[i];
                std::string label = utf8Of(item.text);
                if (!item.popup) {
                    menuBar->add(label.c_str(), 0, menuChosen, commandData(item.command), 0);
                    continue;
                }
                bool dividerNext = false;
                for (std::size_t j = 0; j < item.popupCount; ++j) {
                    const MenuItemTemplate& entry = item.popup[j];
                    if (!entry.text) {
                        dividerNext = true;
                        continue;
                    }
                    std::string path = label + "/" + utf8Of(entry.text);
                    if (dividerNext) {
                        // FLTK draws the divider under the entry before.
                        const Fl_Menu_Item* previous = menuBar->find_item(lastPath.c_str());
                        if (previous)
                            const_cast<Fl_Menu_Item*>(previous)->flags |= FL_MENU_DIVIDER;
                        dividerNext = false;
                    }
                    menuBar->add(path.c_str(), 0, menuChosen, commandData(entry.command), 0);
                    lastPath = path;
                }
            }
            host->second->add(menuBar);
        }
        RECT client{};
        GetClientRect(owner, &client);
        menuBar->resize(0, client.bottom, client.right, window_system::kMenuBarHeight);
        if (window_system::styleOf(bar) & WS_VISIBLE) {
            menuBar->show();
        } else {
            menuBar->hide();
        }
    }

    static void* commandData(WORD command) {
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(command));
    }

    std::map<HWND, DialogWindow*> dialogs;
    std::map<HWND, Fl_Widget*> widgets;
    std::map<HWND, Fl_Menu_Bar*> menuBars;
    std::string lastPath;
    std::vector<int> columnWidths;
    std::map<const IconImage*, Fl_RGB_Image*> icons;
    std::map<const IconImage*, std::vector<unsigned char>> iconPixels;
    std::chrono::steady_clock::time_point lastPaint{};
    int shownPercent = -2;
};

bool displayOpened = false;

// FLTK ends the process through this handler; it says what happened, so
// that a person can act on it.
void toolkitFailed(const char* format, ...) {
    char detail[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(detail, sizeof detail, format, arguments);
    va_end(arguments);
    if (!displayOpened) {
        std::fprintf(stderr,
                     "tovrin-unpacker: cannot open the display to show the main dialog on (%s); "
                     "extract without a dialog with a keyed command line such as "
                     "'#F(archive)#P(folder)' (see --help)\n",
                     detail);
    } else if (std::strstr(detail, "I/O error")) {
        std::fprintf(stderr,
                     "tovrin-unpacker: lost the connection to the display (%s); the X server "
                     "ended or the session was closed\n",
                     detail);
    } else {
        std::fprintf(stderr, "tovrin-unpacker: the window toolkit failed: %s\n", detail);
    }
    std::exit(1);
}

}  // namespace

WindowBackend* openDisplayBackend() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) return nullptr;
    Fl::fatal = toolkitFailed;
    fl_open_display();
    displayOpened = true;
    FL_NORMAL_SIZE = kFontSize;
    static FltkBackend backend;
    return &backend;
}
