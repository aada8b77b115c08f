// Starting programs, the file manager, and the program's own path.
//
// Programs are started with posix_spawn and not waited for. Their exit
// status is collected (waitpid with WNOHANG, for our own children only) when
// their handle is closed and whenever another program is started, so a
// program that outlives those moments stays a zombie only until it is next
// looked at or this process ends. No signal disposition is changed.
#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/device_paths.h"
#include "platform/files.h"
#include "platform/handles.h"
#include "platform/host_files.h"
#include "platform/text_conversion.h"

extern char** environ;

namespace {

constexpr const WCHAR* kDeviceExplorer = u"\\windows\\fexplore.exe";
constexpr const WCHAR* kDeviceIaManager = u"\\windows\\IA_File_Manager.exe";

std::mutex childrenLock;
std::vector<pid_t> unreapedChildren;

void reapFinishedChildren() {
    std::lock_guard<std::mutex> guard(childrenLock);
    auto finished = [](pid_t pid) {
        int status;
        pid_t result = waitpid(pid, &status, WNOHANG);
        // ECHILD: somebody else already collected it.
        return result == pid || (result < 0 && errno == ECHILD);
    };
    unreapedChildren.erase(
        std::remove_if(unreapedChildren.begin(), unreapedChildren.end(), finished),
        unreapedChildren.end());
}

void rememberChild(pid_t pid) {
    std::lock_guard<std::mutex> guard(childrenLock);
    unreapedChildren.push_back(pid);
}

struct ProcessObject : HandleObject {
    ProcessObject(Kind objectKind, pid_t processId) : HandleObject(objectKind), pid(processId) {}
    ~ProcessObject() override {
        if (kind == Kind::Process) reapFinishedChildren();
    }
    pid_t pid;
};

// Starts hostProgram with argument (none when empty); FALSE with the
// device's error when it cannot be started.
BOOL spawnHostProgram(const std::string& hostProgram, const std::string& argument, pid_t& pid) {
    reapFinishedChildren();
    struct stat st;
    if (stat(hostProgram.c_str(), &st) != 0) {
        setErrorFor(errno, hostProgram);
        return FALSE;
    }
    if (!S_ISREG(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    std::string programArgument = hostProgram;
    std::string userArgument = argument;
    std::vector<char*> argv{&programArgument[0]};
    if (!userArgument.empty()) argv.push_back(&userArgument[0]);
    argv.push_back(nullptr);
    int result = posix_spawn(&pid, hostProgram.c_str(), nullptr, nullptr, argv.data(), environ);
    if (result != 0) {
        SetLastError(result == ENOEXEC ? ERROR_ACCESS_DENIED : deviceErrorFor(result, hostProgram));
        return FALSE;
    }
    rememberChild(pid);
    return TRUE;
}

bool isDeviceFile(const WCHAR* devicePath) {
    std::string hostPath;
    struct stat st;
    return hostPathFromDevice(devicePath, hostPath) && !hostPath.empty() &&
           stat(hostPath.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// The host's xdg-open as PATH finds it, or "" when there is none.
std::string findXdgOpen() {
    const char* searchPath = std::getenv("PATH");
    if (!searchPath) return std::string();
    std::string entries = searchPath;
    std::string::size_type start = 0;
    for (;;) {
        std::string::size_type end = entries.find(':', start);
        std::string folder = entries.substr(start, end == std::string::npos ? end : end - start);
        if (folder.empty()) folder = ".";
        std::string candidate = folder + "/xdg-open";
        struct stat st;
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return std::string();
}

BOOL startDeviceProgram(const WCHAR* program, const WCHAR* commandLine) {
    std::vector<WCHAR> line(commandLine, commandLine + wideLength(commandLine) + 1);
    PROCESS_INFORMATION info;
    if (!CreateProcessW(program, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        nullptr, &info))
        return FALSE;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return TRUE;
}

}  // namespace

BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, void* processAttributes,
                    void* threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    void* environment, LPCWSTR currentDirectory, void* startupInfo,
                    PROCESS_INFORMATION* processInformation) {
    if (processInformation) std::memset(processInformation, 0, sizeof *processInformation);
    if (!applicationName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string hostProgram;
    if (!hostPathForCall(applicationName, hostProgram)) return FALSE;
    std::string argument;
    if (commandLine && !utf16ToUtf8(std::u16string_view(commandLine, wideLength(commandLine)),
                                    argument)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return FALSE;
    }
    pid_t pid;
    if (!spawnHostProgram(hostProgram, argument, pid)) return FALSE;
    if (processInformation) {
        processInformation->hProcess =
            registerHandle(new ProcessObject(HandleObject::Kind::Process, pid));
        processInformation->hThread =
            registerHandle(new ProcessObject(HandleObject::Kind::Thread, pid));
        processInformation->dwProcessId = static_cast<DWORD>(pid);
        processInformation->dwThreadId = static_cast<DWORD>(pid);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

FileManager findFileManager() {
    if (isDeviceFile(kDeviceExplorer)) return FileManager::DeviceExplorer;
    if (isDeviceFile(kDeviceIaManager)) return FileManager::DeviceIaManager;
    if (!findXdgOpen().empty()) return FileManager::HostDesktop;
    return FileManager::None;
}

BOOL openFolderInFileManager(LPCWSTR folder) {
    if (!folder) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    switch (findFileManager()) {
    case FileManager::DeviceExplorer:
        return startDeviceProgram(kDeviceExplorer, folder);
    case FileManager::DeviceIaManager:
        return startDeviceProgram(kDeviceIaManager, folder);
    case FileManager::HostDesktop: {
        // The desktop knows nothing of the device root: it gets the host path.
        std::string hostFolder;
        if (!hostPathForCall(folder, hostFolder)) return FALSE;
        pid_t pid;
        return spawnHostProgram(findXdgOpen(), hostFolder, pid);
    }
    case FileManager::None:
        break;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    if (!fileName && size > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char target[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", target, sizeof target - 1);
    if (length <= 0) {
        SetLastError(ERROR_GEN_FAILURE);
        return 0;
    }
    std::string hostPath(target, static_cast<std::size_t>(length));

    // Under the device root the program has a device path; elsewhere the
    // device has no name for it and the host path stands in.
    std::string root = deviceRootDirectory();
    if (!root.empty()) {
        char resolved[PATH_MAX];
        if (realpath(root.c_str(), resolved)) root = resolved;
        while (!root.empty() && root.back() == '/') root.pop_back();
    }
    std::string path = hostPath;
    if (root.empty() || (hostPath.compare(0, root.size(), root) == 0 &&
                         hostPath.size() > root.size() && hostPath[root.size()] == '/')) {
        path = hostPath.substr(root.size());
        std::replace(path.begin(), path.end(), '/', '\\');
    }
    std::u16string wide;
    if (!utf8ToUtf16(path, wide)) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too long: cut, terminated, and the full size returned, as the device does.
    if (wide.size() >= size) {
        std::memcpy(fileName, wide.data(), (size - 1) * sizeof(WCHAR));
        fileName[size - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(fileName, wide.data(), wide.size() * sizeof(WCHAR));
    fileName[wide.size()] = 0;
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(wide.size());
}
