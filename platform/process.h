// Starting programs and the device's file manager.
#pragma once

#include "platform/win_types.h"

struct PROCESS_INFORMATION {
    HANDLE hProcess;
    HANDLE hThread;
    DWORD dwProcessId;
    DWORD dwThreadId;
};

// Starts applicationName (a device path) with commandLine as its one argument
// (none when empty) and does not wait. The returned handles are placeholders
// to be closed with CloseHandle.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCWSTR currentDirectory, void* startupInfo,
                    PROCESS_INFORMATION* processInformation);

enum class FileManager {
    None,              // nothing can open a folder
    DeviceExplorer,    // \windows\fexplore.exe
    DeviceIaManager,   // \windows\IA_File_Manager.exe
    HostDesktop,       // the host desktop's xdg-open
};

// Which file manager would open a folder: the device's programs first (as
// files under the device root), the desktop's xdg-open where they are missing.
FileManager findFileManager();

// Opens folder (a device path) in that file manager without waiting; FALSE
// when there is none or it cannot be started.
BOOL openFolderInFileManager(LPCWSTR folder);

// The program's own path as a device path, from /proc/self/exe.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
