#include "ui/main_window.h"

#include "core/app_state.h"
#include "platform/win/window_system.h"
#include "ui/main_dialog.h"
#include "ui/resources.h"

MainWindowState mainWindowState;

namespace {

constexpr WCHAR kWindowClass[] = u"Tovrin UnPacker CLASS";
constexpr WCHAR kWindowTitle[] = u"Tovrin UnPacker";

// Nothing follows an empty command line's dialog: it ends the program by
// posting the quit message. A dialog opened on a file closes the window.
void startupAction(HWND window) {
    bool openedOnFile = appState.commandLineFile[0] != 0;
    runMainDialog(window);
    if (openedOnFile) PostMessageW(mainWindowState.window, WM_CLOSE, 0, 0);
}

LRESULT mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        SHMENUBARINFO bar{};
        bar.cbSize = sizeof bar;
        bar.hwndParent = window;
        bar.dwFlags = 0;
        bar.nToolBarId = IDM_MAIN_WINDOW;
        bar.hInstRes = appState.moduleInstance;
        mainWindowState.menuBar = SHCreateMenuBar(&bar) ? bar.hwndMB : nullptr;
        mainWindowState.activationInfo = SHACTIVATEINFO{};
        mainWindowState.activationInfo.cbSize = 12;
        mainWindowState.window = window;
        PostMessageW(window, WM_USER, 0, 0);
        return 0;
    }
    case WM_USER:
        startupAction(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDM_WINDOW_EXIT) {
            SendMessageW(window, WM_CLOSE, 0, 0);
            return 0;
        }
        break;
    case WM_ACTIVATE:
        SHHandleWMActivate(window, wParam, lParam, &mainWindowState.activationInfo, 0);
        return 0;
    case WM_SETTINGCHANGE:
        SHHandleWMSettingChange(window, wParam, lParam, &mainWindowState.activationInfo);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        if (mainWindowState.menuBar) DestroyWindow(mainWindowState.menuBar);
        mainWindowState.menuBar = nullptr;
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int runMainWindow(int showCommand) {
    appState.moduleInstance = programInstance();
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = appState.moduleInstance;
    windowClass.hIcon = LoadIconW(appState.moduleInstance, MAKEINTRESOURCEW(IDI_PROGRAM));
    windowClass.hbrBackground = GetStockObject(WHITE_BRUSH);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);

    HWND window = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_VISIBLE, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                  appState.moduleInstance, nullptr);
    if (!window) return -1;
    if (mainWindowState.menuBar) {
        // The window ends where the menu bar begins.
        RECT windowRect{}, barRect{};
        GetWindowRect(window, &windowRect);
        GetWindowRect(mainWindowState.menuBar, &barRect);
        windowRect.bottom -= barRect.bottom - barRect.top;
        MoveWindow(window, windowRect.left, windowRect.top, windowRect.right - windowRect.left,
                   windowRect.bottom - windowRect.top, FALSE);
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    mainWindowState.window = nullptr;
    mainWindowState.menuBar = nullptr;
    return static_cast<int>(message.wParam);
}
