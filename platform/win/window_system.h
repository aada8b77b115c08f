// The device's window system: window classes and procedures, one message
// queue, modal dialogs built from templates, the standard controls, menu
// bars, message boxes, string resources and the shell calls a Pocket PC
// program makes. It keeps every window's state itself and works without a
// display; a backend (backend.h) shows that state and turns input into
// messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using INT_PTR = std::intptr_t;
using HMENU = void*;
using HICON = void*;
using HCURSOR = void*;
using HBRUSH = void*;
using HGDIOBJ = void*;
using HDC = void*;
using HRSRC = const void*;
using HGLOBAL = const void*;
using ATOM = WORD;

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using DLGPROC = BOOL (*)(HWND, UINT, WPARAM, LPARAM);

struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};
struct WNDCLASSW {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCWSTR lpszMenuName;
    LPCWSTR lpszClassName;
};
struct CREATESTRUCTW {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCWSTR lpszName;
    LPCWSTR lpszClass;
    DWORD dwExStyle;
};

constexpr WORD LOWORD(WPARAM value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HIWORD(WPARAM value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
    return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16);
}
// A numeric resource id in the place of a name.
inline LPCWSTR MAKEINTRESOURCEW(UINT id) {
    return reinterpret_cast<LPCWSTR>(static_cast<std::uintptr_t>(id & 0xFFFF));
}
inline bool IS_INTRESOURCE(LPCWSTR name) {
    return (reinterpret_cast<std::uintptr_t>(name) >> 16) == 0;
}

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_MOVE = 0x0003;
constexpr UINT WM_SIZE = 0x0005;
constexpr UINT WM_ACTIVATE = 0x0006;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_SETTINGCHANGE = 0x001A;
constexpr UINT WM_NOTIFY = 0x004E;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_USER = 0x0400;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WORD BN_CLICKED = 0;
constexpr WORD EN_CHANGE = 0x0300;

// Combo box (drop-down list) messages.
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr WORD CBN_SELCHANGE = 1;
constexpr LRESULT CB_ERR = -1;

// List view messages (report and list views): rows of texts, one per column.
constexpr UINT LVM_FIRST = 0x1000;
constexpr UINT LVM_SETIMAGELIST = LVM_FIRST + 3;
constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
constexpr UINT LVM_SORTITEMS = LVM_FIRST + 48;
constexpr UINT LVM_SETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 54;
constexpr UINT LVM_GETEXTENDEDLISTVIEWSTYLE = LVM_FIRST + 55;
constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
constexpr UINT LVM_GETITEMW = LVM_FIRST + 75;
constexpr UINT LVM_FINDITEMW = LVM_FIRST + 83;
constexpr UINT LVM_INSERTCOLUMNW = LVM_FIRST + 97;
constexpr UINT LVM_EDITLABELW = LVM_FIRST + 118;
constexpr UINT LVM_DELETEITEM = LVM_FIRST + 8;
constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
constexpr UINT LVM_SETITEMTEXTW = LVM_FIRST + 116;
constexpr UINT LVM_GETITEMTEXTW = LVM_FIRST + 115;
constexpr UINT LVM_INSERTITEMW = LVM_FIRST + 77;
constexpr UINT LVIF_TEXT = 0x0001;
constexpr UINT LVIF_IMAGE = 0x0002;
constexpr UINT LVIF_PARAM = 0x0004;
constexpr UINT LVIF_STATE = 0x0008;
constexpr UINT LVIS_FOCUSED = 0x0001;
constexpr UINT LVIS_SELECTED = 0x0002;
constexpr UINT LVNI_ALL = 0x0000;
constexpr UINT LVNI_FOCUSED = 0x0001;
constexpr UINT LVNI_SELECTED = 0x0002;
constexpr UINT LVFI_STRING = 0x0002;
constexpr int LVSIL_SMALL = 1;
constexpr DWORD LVS_EX_FULLROWSELECT = 0x0020;
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr UINT LVCF_FMT = 0x0001;
constexpr UINT LVCF_WIDTH = 0x0002;
constexpr UINT LVCF_TEXT = 0x0004;
constexpr UINT LVCF_SUBITEM = 0x0008;
struct LVITEMW {
    UINT mask;
    int iItem;
    int iSubItem;
    UINT state;
    UINT stateMask;
    LPWSTR pszText;
    int cchTextMax;
    int iImage;
    LPARAM lParam;
};
struct LVFINDINFOW {
    UINT flags;
    LPCWSTR psz;
    LPARAM lParam;
    POINT pt;
    UINT vkDirection;
};
struct LVCOLUMNW {
    UINT mask;
    int fmt;
    int cx;
    LPWSTR pszText;
    int cchTextMax;
    int iSubItem;
};
using PFNLVCOMPARE = int (*)(LPARAM first, LPARAM second, LPARAM sortParam);

// Notifications (WM_NOTIFY, lParam a pointer to an NMHDR or a larger record).
struct NMHDR {
    HWND hwndFrom;
    std::uintptr_t idFrom;
    UINT code;
};
constexpr UINT NM_CLICK = static_cast<UINT>(-2);
constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);
constexpr UINT NM_RCLICK = static_cast<UINT>(-5);
constexpr UINT LVN_FIRST = static_cast<UINT>(-100);
constexpr UINT LVN_KEYDOWN = LVN_FIRST - 55;
constexpr UINT LVN_BEGINLABELEDITW = LVN_FIRST - 75;
constexpr UINT LVN_ENDLABELEDITW = LVN_FIRST - 76;
struct NMLVKEYDOWN {
    NMHDR hdr;
    WORD wVKey;
    UINT flags;
};
// For LVN_ENDLABELEDITW item.pszText is nullptr when the edit was cancelled.
struct NMLVDISPINFOW {
    NMHDR hdr;
    LVITEMW item;
};

// Small icons for the rows of a list view.
struct ImageList;
using HIMAGELIST = ImageList*;
constexpr UINT ILC_COLOR = 0x0000;
HIMAGELIST ImageList_Create(int width, int height, UINT flags, int initial, int grow);
// index -1 appends; returns the index of the image or -1.
int ImageList_ReplaceIcon(HIMAGELIST list, int index, HICON icon);
BOOL ImageList_Destroy(HIMAGELIST list);
int ImageList_GetImageCount(HIMAGELIST list);
constexpr UINT IMAGE_ICON = 1;
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height,
                  UINT flags);

// Window styles.
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_PASSWORD = 0x0020;
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD LVS_REPORT = 0x0001;
constexpr DWORD LVS_LIST = 0x0003;
constexpr DWORD LVS_TYPEMASK = 0x0003;
constexpr DWORD LVS_SINGLESEL = 0x0004;
constexpr DWORD LVS_SHOWSELALWAYS = 0x0008;
constexpr DWORD LVS_SORTASCENDING = 0x0010;
constexpr DWORD LVS_AUTOARRANGE = 0x0100;
constexpr DWORD LVS_EDITLABELS = 0x0200;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;
constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000u);

// The built-in control classes.
inline constexpr WCHAR kStaticClass[] = u"STATIC";
inline constexpr WCHAR kEditClass[] = u"EDIT";
inline constexpr WCHAR kButtonClass[] = u"BUTTON";
inline constexpr WCHAR kComboBoxClass[] = u"COMBOBOX";
inline constexpr WCHAR kListViewClass[] = u"SysListView32";
inline constexpr WCHAR kMenuBarClass[] = u"menu_worker";

constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr WORD VK_TAB = 0x09;
constexpr WORD VK_RETURN = 0x0D;
constexpr WORD VK_ESCAPE = 0x1B;
constexpr WORD VK_DELETE = 0x2E;
constexpr WORD VK_SPACE = 0x20;
constexpr WORD VK_END = 0x23;
constexpr WORD VK_HOME = 0x24;
constexpr WORD VK_UP = 0x26;
constexpr WORD VK_DOWN = 0x28;
constexpr DWORD KEYEVENTF_KEYUP = 0x0002;
constexpr DWORD KEYEVENTF_SILENT = 0x0004;

constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_ICONHAND = 0x0010;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_SETFOREGROUND = 0x00010000;

constexpr int WHITE_BRUSH = 0;
inline LPCWSTR const IDC_WAIT = MAKEINTRESOURCEW(32514);
constexpr UINT SPI_GETPLATFORMTYPE = 257;
constexpr UINT SPI_GETWORKAREA = 48;
constexpr UINT SPI_SETSIPINFO = 224;
constexpr int SM_CXSMICON = 49;
constexpr int SYSTEM_FONT = 13;

// Window data slots.
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int DWLP_USER = 8;  // a dialog's data for its procedure, pointer sized
using LONG_PTR = std::intptr_t;
LONG GetWindowLongW(HWND window, int index);
LONG SetWindowLongW(HWND window, int index, LONG value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);

constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
HWND SetFocus(HWND window);
HWND GetFocus();
BOOL SetForegroundWindow(HWND window);
int GetSystemMetrics(int index);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Lower-cases text in place.
LPWSTR CharLowerW(LPWSTR text);
// A key pressed or released as if on the keyboard: Tab moves the focus to
// the next control of the active dialog that takes it.
void keybd_event(BYTE virtualKey, BYTE scanCode, DWORD flags, std::uintptr_t extraInfo);

// Resources: a module instance is a pointer to its ResourceModule, the C++
// tables that stand where a program's compiled resources would be.
struct DialogItemTemplate {
    WORD id;
    LPCWSTR className;
    LPCWSTR caption;
    DWORD style;
    short x, y, cx, cy;
};
struct DialogTemplate {
    LPCWSTR title;
    LPCWSTR fontName;
    WORD pointSize;
    DWORD style;
    short x, y, cx, cy;
    const DialogItemTemplate* items;
    std::size_t itemCount;
};
struct MenuItemTemplate {
    WORD command;            // 0 with no text: a separator; 0 with text: a popup
    LPCWSTR text;
    const MenuItemTemplate* popup;  // the items of a popup
    std::size_t popupCount;
};
struct MenuTemplate {
    const MenuItemTemplate* items;
    std::size_t itemCount;
};
struct IconImage {
    int width;
    int height;
    const std::uint32_t* argb;  // width * height pixels, row by row
};
struct ResourceEntry {
    WORD id;
    const void* data;
};
struct ResourceModule {
    const ResourceEntry* dialogs;
    std::size_t dialogCount;
    const ResourceEntry* menus;
    std::size_t menuCount;
    const ResourceEntry* icons;
    std::size_t iconCount;
    const WCHAR* (*stringLookup)(UINT id);
};
inline LPCWSTR const RT_DIALOG = MAKEINTRESOURCEW(5);
inline LPCWSTR const RT_MENU = MAKEINTRESOURCEW(4);

// Window classes and windows.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
HGDIOBJ GetStockObject(int object);

// The message queue.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);

// Geometry and visibility.
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL UpdateWindow(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

// Texts.
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int capacity);

// Dialogs.
HRSRC FindResourceW(HINSTANCE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HINSTANCE module, HRSRC resource);
INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, const DialogTemplate* dialogTemplate,
                                HWND owner, DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND control);
HWND GetParent(HWND window);
UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR buffer, int capacity);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);

// Messages, strings, cursor, platform.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style);
// With capacity 0, *reinterpret_cast<const WCHAR**>(buffer) receives a
// pointer to the NUL-terminated resource text and its length is returned.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int capacity);
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HCURSOR SetCursor(HCURSOR cursor);
BOOL SystemParametersInfoW(UINT action, UINT param, void* value, UINT winIni);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
BOOL GetTextExtentExPointW(HDC dc, LPCWSTR text, int length, int maxExtent, int* fit,
                           int* dx, SIZE* size);

// The Pocket PC shell.
struct SHMENUBARINFO {
    DWORD cbSize;
    HWND hwndParent;
    DWORD dwFlags;
    UINT nToolBarId;
    HINSTANCE hInstRes;
    int nBmpId;
    int cBmpImages;
    HWND hwndMB;
    DWORD clrBk;
};
constexpr DWORD SHCMBF_HMENU = 0x0010;
struct SHINITDLGINFO {
    DWORD dwMask;
    HWND hDlg;
    DWORD dwFlags;
};
constexpr DWORD SHIDIM_FLAGS = 0x0001;
constexpr DWORD SHIDIF_DONEBUTTON = 0x0001;
constexpr DWORD SHIDIF_SIZEDLG = 0x0002;
constexpr DWORD SHIDIF_SIZEDLGFULLSCREEN = 0x0004;
constexpr DWORD SHIDIF_SIPDOWN = 0x0008;
constexpr DWORD SHDB_HIDE = 2;
// The shell's activation record of a window.
struct SHACTIVATEINFO {
    DWORD cbSize;
    HWND hwndLastFocus;
    UINT fSipUp : 1;
    UINT fSipOnDeactivation : 1;
    UINT fActive : 1;
    UINT fReserved : 29;
};

BOOL SHCreateMenuBar(SHMENUBARINFO* info);
BOOL SHInitDialog(SHINITDLGINFO* info);
BOOL SHDoneButton(HWND window, DWORD state);
BOOL CommandBar_Show(HWND bar, BOOL show);
BOOL SHHandleWMActivate(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info,
                        DWORD flags);
BOOL SHHandleWMSettingChange(HWND window, WPARAM wParam, LPARAM lParam, SHACTIVATEINFO* info);

// Host-side controls of the simulated device, for the backends and tests.
namespace window_system {
// The platform type SPI_GETPLATFORMTYPE answers ("PocketPC" by default).
void setPlatformType(const WCHAR* name);
// The screen in pixels (240 x 320 by default) and the menu bar's height.
SIZE screenSize();
void setScreenSize(int width, int height);
constexpr int kMenuBarHeight = 26;
// The menu template of a menu bar window, or nullptr.
const MenuTemplate* menuOf(HWND bar);
// The menu bar owned by window, or nullptr.
HWND menuBarOf(HWND window);
// The innermost running modal dialog, or nullptr.
HWND activeDialog();
// Window state a backend or a test reads back.
bool isCheckBox(HWND window);
int checkState(HWND window);
const WCHAR* classNameOf(HWND window);
DWORD styleOf(HWND window);
const WCHAR* textOf(HWND window);
// Every live window in creation order (children after their parent).
std::size_t windowCount();
HWND windowAt(std::size_t index);
// The icon of the first registered window class that has one: the
// program's icon, for a backend's window decorations.
const IconImage* programIcon();
// The entries and selection of a combo box; the rows of a list view (one
// text per column) and which of them are selected.
const std::vector<std::u16string>* comboEntries(HWND comboBox);
int comboSelection(HWND comboBox);
const std::vector<std::vector<std::u16string>>* listRows(HWND listView);
bool listRowSelected(HWND listView, std::size_t row);
int listFocusedRow(HWND listView);
// The row's image index in the list's small image list (-1 none), and that image.
int listRowImage(HWND listView, std::size_t row);
const IconImage* listImage(HWND listView, int image);
// The column headers of a report view and their widths in pixels.
const std::vector<std::u16string>* listColumns(HWND listView);
const std::vector<int>* listColumnWidths(HWND listView);
// The edit control over a list row while its label is edited, else nullptr.
HWND labelEditorOf(HWND listView);
// Ends the label edit of listView: commit with the editor's text, or cancel.
void endLabelEdit(HWND listView, bool commit);
// A person taps a list row (selects and focuses it; NM_CLICK); the second
// tap of a double tap (NM_DBLCLK, unless the first tap replaced the rows:
// then it belongs to what the first tap opened and does nothing more);
// presses a key in the list (Down, Up, Home, End move the selection, from
// the first or last row when nothing is selected; Space selects the
// focused row; then LVN_KEYDOWN).
void tapListRow(HWND listView, int row);
void doubleTapListRow(HWND listView, int row);
void listKey(HWND listView, WORD key);
// A person picks a combo box entry or a list row: the state changes and the
// parent hears CBN_SELCHANGE or nothing more (the browser reads the rows).
void chooseComboEntry(HWND comboBox, int index);
void selectListRow(HWND listView, int row);
// A message box as the device draws it: its icon (only the styles' icon
// bits give one), its text broken into lines that fit the box, and where it
// stands. The box is as wide as the program's window (the owner's top-level
// window, else the screen), centred over that window and kept inside the
// screen's work area; every line fits the text area.
enum class MessageIcon { NoIcon, Hand, Question };
struct MessageBoxLayout {
    MessageIcon icon = MessageIcon::NoIcon;
    std::vector<std::u16string> lines;
    RECT box{};        // screen coordinates
    RECT iconArea{};   // these three relative to the box
    RECT textArea{};
    RECT buttonArea{};
    int lineHeight = 0;
};
MessageBoxLayout layOutMessageBox(HWND owner, const std::u16string& text, UINT style);
// Shows the progress of a running request through the backend.
void showProgress(const std::u16string& outputPath, unsigned filesSoFar, int percent);
// True when the message queue holds a message or the quit message.
bool messagesPending();
// True while the wait cursor is shown.
bool waitCursorShown();
// Input from a person, as a backend delivers it: a click (an auto check
// box toggles first, then its parent hears BN_CLICKED; hidden or disabled
// controls take no clicks), text typed into a control (echo tells the
// backend to show it), a menu command, a key.
void clickControl(HWND control);
void typeText(HWND control, const WCHAR* text, bool echo);
void chooseCommand(HWND window, WORD command);
void pressKey(HWND window, WORD key);
bool menuHasCommand(const MenuTemplate* menu, WORD command);
// Destroys every window, forgets the registered classes and the queue:
// the state of a freshly started program.
void reset();
}  // namespace window_system
