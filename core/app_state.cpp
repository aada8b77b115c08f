#include "core/app_state.h"

#include <new>

#include "core/format_handler.h"

AppState appState;

bool allocateSniffBuffer() {
    if (appState.sniffBuffer) return true;
    appState.sniffBuffer = new (std::nothrow) std::uint8_t[kSniffBufferSize];
    return appState.sniffBuffer != nullptr;
}

void releaseSniffBuffer() {
    delete[] appState.sniffBuffer;
    appState.sniffBuffer = nullptr;
}

void destroyHandlerList() {
    delete appState.handlerListHead;
    appState.handlerListHead = nullptr;
}
