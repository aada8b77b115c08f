// The program's global state record, shared by every subsystem. Plain data,
// used by one request at a time on the one UI thread. The window's own state
// (its handle, menu bar and activation record) lives with the window in ui/.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

class FormatHandler;

constexpr std::size_t kSniffBufferSize = 1048576;
constexpr std::size_t kPasswordBufferSize = 256;  // 255 bytes of text + NUL

struct AppState {
    HINSTANCE moduleInstance = nullptr;
    std::uint8_t* sniffBuffer = nullptr;
    FormatHandler* handlerListHead = nullptr;
    const WCHAR* commandLine = nullptr;
    WCHAR archivePathWide[MAX_PATH] = {};
    char archivePathNarrow[MAX_PATH] = {};
    char password[kPasswordBufferSize] = {};
    WCHAR commandLineFile[MAX_PATH] = {};
    std::uint8_t optionOpenFolder = 0;
    std::uint8_t optionCreateFolder = 0;
    std::uint32_t notFoundCount = 0;
    std::uint32_t unsupportedCount = 0;
    std::uint32_t failedCount = 0;
};

extern AppState appState;

// SniffBuffer lifetime: allocated before the HandlerList is built, released
// after it is destroyed.
bool allocateSniffBuffer();
void releaseSniffBuffer();

// Destroys the HandlerList (every handler) and forgets its head.
void destroyHandlerList();
