#include "ui/resources.h"

#include "ui/string_table.h"

namespace {

constexpr DWORD kEditStyle = WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kCheckStyle = WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;

// Positions are in dialog units; the layout replaces them at once.
constexpr DialogItemTemplate kMainDialogItems[] = {
    {IDC_FILE_LABEL, kStaticClass, u"File for unpacking:", WS_VISIBLE, 4, 4, 110, 8},
    {IDC_PATH_LABEL, kStaticClass, u"Extract path:", WS_VISIBLE, 4, 30, 110, 8},
    {IDC_PASSWORD_LABEL, kStaticClass, u"Password (optional):", WS_VISIBLE, 4, 56, 110, 8},
    {IDC_FILE, kEditClass, u"", kEditStyle, 4, 14, 100, 12},
    {IDC_EXTRACT_PATH, kEditClass, u"", kEditStyle, 4, 40, 100, 12},
    {IDC_PASSWORD, kEditClass, u"", kEditStyle, 4, 66, 110, 12},
    {IDC_CREATE_FOLDER, kButtonClass, u"Create folder", kCheckStyle, 4, 84, 110, 10},
    {IDC_OPEN_FOLDER, kButtonClass, u"Open folder", kCheckStyle, 4, 96, 110, 10},
    {IDC_BROWSE_FILE, kButtonClass, u"", kButtonStyle, 106, 14, 10, 12},
    {IDC_BROWSE_FOLDER, kButtonClass, u"", kButtonStyle, 106, 40, 10, 12},
};

constexpr DialogTemplate kMainDialog = {
    u"Tovrin UnPacker", u"System", 8, 0, 0, 0, 120, 140,
    kMainDialogItems, sizeof kMainDialogItems / sizeof kMainDialogItems[0]};

constexpr MenuItemTemplate kToolsItems[] = {
    {IDM_SELECT_FILE, u"Select file", nullptr, 0},
    {IDM_SELECT_FOLDER, u"Select folder", nullptr, 0},
    {0, nullptr, nullptr, 0},
    {IDM_ASSOCIATE, u"Associate", nullptr, 0},
    {IDM_ABOUT, u"About", nullptr, 0},
    {IDM_DIALOG_EXIT, u"Exit", nullptr, 0},
};
constexpr MenuItemTemplate kDialogMenuItems[] = {
    {IDM_EXTRACT, u"Extract", nullptr, 0},
    {0, u"Tools", kToolsItems, sizeof kToolsItems / sizeof kToolsItems[0]},
};
constexpr MenuItemTemplate kWindowMenuItems[] = {
    {IDM_WINDOW_EXIT, u"Exit", nullptr, 0},
};
constexpr MenuTemplate kDialogMenu = {kDialogMenuItems, 2};
constexpr MenuTemplate kWindowMenu = {kWindowMenuItems, 1};

// Icon 101, 16 x 16: a parcel with its lid lifted and an arrow coming out.
constexpr std::uint32_t kIconPalette[] = {
    0x00000000,  // '.' transparent
    0xFF5A3A12,  // '#' outline
    0xFFD9A55B,  // 'o' cardboard
    0xFFB07A35,  // 'x' cardboard shade
    0xFF1E6FD0,  // '^' arrow
};
constexpr char kIconRows[16][17] = {
    ".......^^.......",
    "......^^^^......",
    ".....^^^^^^.....",
    "....^^^^^^^^....",
    ".......^^.......",
    "##.....^^.....##",
    "#o#....^^....#o#",
    ".#o#...^^...#o#.",
    "..############..",
    "..#oooooooooo#..",
    "..#oooooooooo#..",
    "..#ooo####ooo#..",
    "..#oooooooooo#..",
    "..#xxxxxxxxxx#..",
    "..#xxxxxxxxxx#..",
    "..############..",
};

struct IconPixels {
    std::uint32_t argb[16 * 16];
};

constexpr IconPixels drawIcon() {
    IconPixels pixels{};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            char c = kIconRows[y][x];
            int index = c == '#' ? 1 : c == 'o' ? 2 : c == 'x' ? 3 : c == '^' ? 4 : 0;
            pixels.argb[y * 16 + x] = kIconPalette[index];
        }
    }
    return pixels;
}

constexpr IconPixels kIconPixels = drawIcon();
constexpr IconImage kProgramIcon = {16, 16, kIconPixels.argb};

constexpr ResourceEntry kDialogs[] = {{IDD_MAIN, &kMainDialog}};
constexpr ResourceEntry kMenus[] = {{IDM_MAIN_DIALOG, &kDialogMenu},
                                    {IDM_MAIN_WINDOW, &kWindowMenu}};
constexpr ResourceEntry kIcons[] = {{IDI_PROGRAM, &kProgramIcon}};

constexpr ResourceModule kProgramModule = {kDialogs, 1, kMenus, 2, kIcons, 1, stringResource};

}  // namespace

HINSTANCE programInstance() { return const_cast<ResourceModule*>(&kProgramModule); }
