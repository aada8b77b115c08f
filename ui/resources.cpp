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

// Dialog 110: one auto check box per archive type.
constexpr DialogItemTemplate kAssociateItems[] = {
    {IDC_ASSOC_LZH, kButtonClass, u"LZH", kCheckStyle, 8, 3, 24, 10},
    {IDC_ASSOC_ZIP, kButtonClass, u"ZIP", kCheckStyle, 35, 3, 22, 10},
    {IDC_ASSOC_ARJ, kButtonClass, u"ARJ", kCheckStyle, 60, 3, 26, 10},
    {IDC_ASSOC_TAR, kButtonClass, u"TAR", kCheckStyle, 8, 16, 24, 10},
    {IDC_ASSOC_Z, kButtonClass, u"Z", kCheckStyle, 35, 16, 21, 10},
    {IDC_ASSOC_NTX, kButtonClass, u"NTX", kCheckStyle, 60, 16, 25, 10},
    {IDC_ASSOC_IMP, kButtonClass, u"IMP", kCheckStyle, 88, 16, 24, 10},
    {IDC_ASSOC_GZ, kButtonClass, u"GZ, TGZ", kCheckStyle, 8, 30, 46, 10},
    {IDC_ASSOC_BZ2, kButtonClass, u"BZ2, TBZ", kCheckStyle, 60, 30, 47, 10},
    {IDC_ASSOC_B64, kButtonClass, u"B64", kCheckStyle, 8, 43, 46, 10},
    {IDC_ASSOC_UUE, kButtonClass, u"UUE, XXE", kCheckStyle, 60, 43, 47, 10},
};
constexpr DialogTemplate kAssociateDialog = {
    u"Associate", u"System", 9, 0, 0, 0, 114, 60,
    kAssociateItems, sizeof kAssociateItems / sizeof kAssociateItems[0]};

// Dialog 900: the name field, the folder drop-down and the entry list; the
// layout places them at once.
constexpr DialogItemTemplate kBrowserItems[] = {
    {IDC_BROWSER_NAME, kEditClass, u"", WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_MULTILINE, 2, 2,
     135, 10},
    {IDC_BROWSER_FOLDERS, kComboBoxClass, u"", WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST |
     WS_VSCROLL, 2, 14, 135, 60},
    {IDC_BROWSER_LIST, kListViewClass, u"",
     WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_LIST | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
         LVS_SORTASCENDING | LVS_AUTOARRANGE | LVS_EDITLABELS,
     2, 28, 135, 130},
};
constexpr DialogTemplate kBrowserDialog = {
    u"", u"System", 9, WS_POPUP | WS_BORDER, 0, 0, 139, 161,
    kBrowserItems, sizeof kBrowserItems / sizeof kBrowserItems[0]};

constexpr MenuItemTemplate kAssociateMenuItems[] = {
    {IDOK, u"OK", nullptr, 0},
    {IDCANCEL, u"Cancel", nullptr, 0},
};
constexpr MenuTemplate kAssociateMenu = {kAssociateMenuItems, 2};

constexpr MenuItemTemplate kBrowserActionItems[] = {
    {IDM_BROWSER_OK, u"OK", nullptr, 0},
    {IDM_BROWSER_CANCEL, u"Cancel", nullptr, 0},
};
constexpr MenuItemTemplate kBrowserToolsItems[] = {
    {IDM_BROWSER_SWITCH, u"Switch windows", nullptr, 0},
    {IDM_BROWSER_REPORT, u"Report view", nullptr, 0},
    {IDM_BROWSER_LIST_VIEW, u"List view", nullptr, 0},
    {IDM_BROWSER_UP, u"Folder Up", nullptr, 0},
    {IDM_BROWSER_NEW, u"New", nullptr, 0},
    {IDM_BROWSER_RENAME, u"Rename", nullptr, 0},
};
constexpr MenuItemTemplate kBrowserMenuItems[] = {
    {0, u"Action", kBrowserActionItems, 2},
    {0, u"Tools", kBrowserToolsItems, sizeof kBrowserToolsItems / sizeof kBrowserToolsItems[0]},
};
constexpr MenuTemplate kBrowserMenu = {kBrowserMenuItems, 2};

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

// Icon 150, a sheet of paper with a folded corner; icon 109, a folder.
constexpr char kFileIconRows[16][17] = {
    "................",
    "...#######......",
    "...#ooooo##.....",
    "...#ooooo#o#....",
    "...#ooooo####...",
    "...#oooooooo#...",
    "...#o^^^^^^o#...",
    "...#oooooooo#...",
    "...#o^^^^^^o#...",
    "...#oooooooo#...",
    "...#o^^^^^^o#...",
    "...#oooooooo#...",
    "...#o^^^^ooo#...",
    "...#oooooooo#...",
    "...##########...",
    "................",
};
constexpr std::uint32_t kFilePalette[] = {0x00000000, 0xFF404040, 0xFFFFFFFF, 0xFFFFFFFF,
                                          0xFF8090A0};
constexpr char kFolderIconRows[16][17] = {
    "................",
    "................",
    "..#####.........",
    ".#ooooo#........",
    ".#oooooo######..",
    ".#xxxxxxxxxxxx#.",
    ".#xoooooooooox#.",
    ".#xoooooooooox#.",
    ".#xoooooooooox#.",
    ".#xoooooooooox#.",
    ".#xoooooooooox#.",
    ".#xoooooooooox#.",
    ".##############.",
    "................",
    "................",
    "................",
};
constexpr std::uint32_t kFolderPalette[] = {0x00000000, 0xFF6B4E00, 0xFFF5C542, 0xFFD9A520,
                                            0xFF000000};

struct IconPixels {
    std::uint32_t argb[16 * 16];
};

constexpr IconPixels drawIcon(const char (&rows)[16][17], const std::uint32_t (&palette)[5]) {
    IconPixels pixels{};
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            char c = rows[y][x];
            int index = c == '#' ? 1 : c == 'o' ? 2 : c == 'x' ? 3 : c == '^' ? 4 : 0;
            pixels.argb[y * 16 + x] = palette[index];
        }
    }
    return pixels;
}

constexpr IconPixels kIconPixels = drawIcon(kIconRows, kIconPalette);
constexpr IconImage kProgramIcon = {16, 16, kIconPixels.argb};
constexpr IconPixels kFileIconPixels = drawIcon(kFileIconRows, kFilePalette);
constexpr IconImage kFileIcon = {16, 16, kFileIconPixels.argb};
constexpr IconPixels kFolderIconPixels = drawIcon(kFolderIconRows, kFolderPalette);
constexpr IconImage kFolderIcon = {16, 16, kFolderIconPixels.argb};

constexpr ResourceEntry kDialogs[] = {{IDD_MAIN, &kMainDialog},
                                      {IDD_ASSOCIATE, &kAssociateDialog},
                                      {IDD_BROWSER, &kBrowserDialog}};
constexpr ResourceEntry kMenus[] = {{IDM_MAIN_DIALOG, &kDialogMenu},
                                    {IDM_MAIN_WINDOW, &kWindowMenu},
                                    {IDM_ASSOCIATE_MENU, &kAssociateMenu},
                                    {IDM_BROWSER_MENU, &kBrowserMenu}};
constexpr ResourceEntry kIcons[] = {{IDI_PROGRAM, &kProgramIcon},
                                    {IDI_BROWSER_FILE, &kFileIcon},
                                    {IDI_BROWSER_FOLDER, &kFolderIcon}};

constexpr ResourceModule kProgramModule = {
    kDialogs, sizeof kDialogs / sizeof kDialogs[0], kMenus, sizeof kMenus / sizeof kMenus[0],
    kIcons,   sizeof kIcons / sizeof kIcons[0],     stringResource};

}  // namespace

HINSTANCE programInstance() { return const_cast<ResourceModule*>(&kProgramModule); }
