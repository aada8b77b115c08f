#include "tests/support/headless.h"

#include <gtest/gtest.h>

#include <deque>

#include "app/program.h"
#include "core/app_state.h"
#include "formats/handler_registry.h"

namespace headless {
namespace {

class HeadlessBackend : public WindowBackend {
public:
    void waitForInput() override {
        if (steps.empty()) {
            outOfSteps = true;
            PostQuitMessage(1);
            return;
        }
        std::function<void()> step = std::move(steps.front());
        steps.pop_front();
        step();
    }
    int messageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                   UINT style, const window_system::MessageBoxLayout& layout) override {
        shown.push_back({caption, text, style, layout});
        if (answers.empty()) return IDOK;
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    SIZE textExtent(const WCHAR* text, int length) override { return {6 * length, 13}; }
    void progress(const std::u16string& outputPath, unsigned, int percent) override {
        progressSteps.push_back({outputPath, percent, std::chrono::steady_clock::now()});
    }

    std::deque<std::function<void()>> steps;
    std::deque<int> answers;
    std::vector<ShownMessage> shown;
    std::vector<ProgressStep> progressSteps;
    bool outOfSteps = false;
};

HeadlessBackend& instance() {
    static HeadlessBackend backend;
    return backend;
}

HWND control(int id) { return GetDlgItem(dialog(), id); }
// The control when a person can use it (there and shown).
HWND usable(int id) {
    HWND window = control(id);
    return window && IsWindowVisible(window) ? window : nullptr;
}

}  // namespace

void install() {
    window_system::installBackend(nullptr);
    window_system::reset();
    HeadlessBackend& backend = instance();
    backend = HeadlessBackend();
    window_system::setPlatformType(u"PocketPC");
    window_system::setScreenSize(240, 320);
    window_system::installBackend(&backend);
}

void uninstall() {
    window_system::installBackend(nullptr);
    window_system::reset();
}

int runMain(const WCHAR* commandLine) {
    destroyHandlerList();
    int status = runProgram(commandLine);
    allocateSniffBuffer();
    if (!appState.handlerListHead) appState.handlerListHead = buildHandlerList();
    appState.commandLineFile[0] = 0;
    EXPECT_FALSE(ranOutOfSteps()) << "a dialog was still open";
    return status;
}

void whenIdle(std::function<void()> step) { instance().steps.push_back(std::move(step)); }
bool ranOutOfSteps() { return instance().outOfSteps; }
void answerNextMessageBox(int answer) { instance().answers.push_back(answer); }
const std::vector<ShownMessage>& messagesShown() { return instance().shown; }
const std::vector<ProgressStep>& progressSeen() { return instance().progressSteps; }

HWND dialog() { return window_system::activeDialog(); }

bool typeInto(int controlId, const std::u16string& text) {
    HWND edit = usable(controlId);
    if (edit) window_system::typeText(edit, text.c_str(), true);
    return edit != nullptr;
}

bool click(int controlId) {
    HWND button = usable(controlId);
    if (button) window_system::clickControl(button);
    return button != nullptr;
}

bool chooseMenu(int command) {
    HWND bar = window_system::menuBarOf(dialog());
    if (!bar || !window_system::menuHasCommand(window_system::menuOf(bar),
                                               static_cast<WORD>(command)))
        return false;
    window_system::chooseCommand(dialog(), static_cast<WORD>(command));
    return true;
}

void pressEnter() { window_system::pressKey(dialog(), VK_RETURN); }
void pressEscape() { window_system::pressKey(dialog(), VK_ESCAPE); }

namespace {
int rowWithLabel(int listId, const std::u16string& label) {
    const auto* rows = window_system::listRows(control(listId));
    if (!rows) return -1;
    for (std::size_t i = 0; i < rows->size(); ++i)
        if (!(*rows)[i].empty() && (*rows)[i][0] == label) return static_cast<int>(i);
    return -1;
}

HWND editingList() {
    for (std::size_t i = 0; i < window_system::windowCount(); ++i) {
        HWND window = window_system::windowAt(i);
        if (GetParent(window) == dialog() && window_system::labelEditorOf(window)) return window;
    }
    return nullptr;
}
}  // namespace

// Does the actions on the row with the label, when there is one.
template <typename... Actions>
bool onRow(int listId, const std::u16string& label, Actions... actions) {
    int row = rowWithLabel(listId, label);
    if (row >= 0) (actions(control(listId), row), ...);
    return row >= 0;
}

bool tapRow(int listId, const std::u16string& label) {
    return onRow(listId, label, window_system::tapListRow);
}
// Both taps land on the same place of the list.
bool doubleTapRow(int listId, const std::u16string& label) {
    return onRow(listId, label, window_system::tapListRow, window_system::doubleTapListRow);
}
bool selectRow(int listId, const std::u16string& label) {
    return onRow(listId, label, window_system::selectListRow);
}

void keyInList(int listId, WORD key) { window_system::listKey(control(listId), key); }

bool chooseEntry(int comboId, int index) {
    HWND combo = control(comboId);
    const auto* entries = window_system::comboEntries(combo);
    if (!entries || index < 0 || static_cast<std::size_t>(index) >= entries->size()) return false;
    window_system::chooseComboEntry(combo, index);
    return true;
}

bool finishLabelEdit(const std::u16string& text) {
    HWND list = editingList();
    if (!list) return false;
    window_system::typeText(window_system::labelEditorOf(list), text.c_str(), true);
    pressEnter();
    return true;
}

bool labelEditOpen() { return editingList() != nullptr; }

std::vector<std::u16string> labelsOf(int listId) {
    std::vector<std::u16string> labels;
    if (const auto* rows = window_system::listRows(control(listId)))
        for (const auto& row : *rows) labels.push_back(row.empty() ? u"" : row[0]);
    return labels;
}

std::u16string textOf(int controlId) {
    const WCHAR* text = window_system::textOf(control(controlId));
    return text ? std::u16string(text) : std::u16string();
}

bool isChecked(int controlId) {
    return SendMessageW(control(controlId), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

bool isVisible(int controlId) { return IsWindowVisible(control(controlId)) != FALSE; }

void rotateScreen(int width, int height) {
    window_system::setScreenSize(width, height);
    // Every top-level window hears of it, as from the shell's broadcast.
    for (std::size_t i = 0; i < window_system::windowCount(); ++i) {
        HWND window = window_system::windowAt(i);
        if (!(window_system::styleOf(window) & WS_CHILD) && !window_system::menuOf(window))
            PostMessageW(window, WM_SETTINGCHANGE, 0, 0);
    }
}

RECT rectOf(int controlId) {
    RECT rect{};
    RECT dialogRect{};
    GetWindowRect(control(controlId), &rect);
    GetWindowRect(dialog(), &dialogRect);
    return {rect.left - dialogRect.left, rect.top - dialogRect.top, rect.right - dialogRect.left,
            rect.bottom - dialogRect.top};
}

}  // namespace headless
