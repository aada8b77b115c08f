// The file and folder browser (dialog 900): a name field, a drop-down of the
// current folder's ancestors and a list of the folder's entries with their
// sizes and dates. It chooses an existing file (file mode) or folder (folder
// mode) and lets the user create, rename and delete entries on the way.
#pragma once

#include <string>
#include <vector>

#include "platform/win/window_system.h"

struct BrowseRequest {
    DWORD folderMode;   // 0: choose a file; 1: choose a folder
    DWORD editing;      // 1 while a list label is being edited
    int renameIndex;    // list index of the item the Rename command edits
    DWORD mustExist;    // 1: the chosen path must exist
    std::vector<std::u16string> patterns;  // lower-case patterns a listed file matches
    const WCHAR* title;                    // the dialog's caption
    WCHAR resultPath[MAX_PATH];
    WCHAR nameText[MAX_PATH];
    // The folder shown; while the dialog runs it ends with a backslash (a
    // single backslash for the root).
    WCHAR currentFolder[MAX_PATH];
    HIMAGELIST imageList;
};

void initBrowseRequest(BrowseRequest& request);
// path (MAX_PATH units) gives the starting path and receives the choice: in
// file mode the folder followed by the name, in folder mode the folder
// without its trailing backslash ("" for the root). patternSpec lists
// patterns separated by ";". True when the user confirmed a valid choice;
// otherwise path is left as it was.
bool runBrowser(BrowseRequest& request, HWND owner, WCHAR* path, const WCHAR* patternSpec);
void releaseBrowseRequest(BrowseRequest& request);

// Whether the lower-case name matches pattern ('*' any run, '?' any one
// character; "*.*" matches every name, dotted or not).
bool browserPatternMatches(const WCHAR* pattern, const WCHAR* name);
// The size column's text for a file of size bytes.
std::u16string browserSizeText(unsigned long long size);
