#include "platform/handles.h"

#include <mutex>
#include <unordered_set>

namespace {

std::mutex tableLock;

std::unordered_set<HandleObject*>& liveHandles() {
    static auto* table = new std::unordered_set<HandleObject*>();
    return *table;
}

HandleObject* find(HANDLE handle) {
    if (!handle || handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* object = static_cast<HandleObject*>(handle);
    return liveHandles().count(object) ? object : nullptr;
}

template <typename Accept>
BOOL destroyIf(HANDLE handle, Accept accept) {
    HandleObject* object;
    {
        std::lock_guard<std::mutex> guard(tableLock);
        object = find(handle);
        if (!object || !accept(object->kind)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        liveHandles().erase(object);
    }
    delete object;
    return TRUE;
}

}  // namespace

HANDLE registerHandle(HandleObject* object) {
    std::lock_guard<std::mutex> guard(tableLock);
    liveHandles().insert(object);
    return object;
}

HandleObject* lookupHandle(HANDLE handle, HandleObject::Kind kind) {
    std::lock_guard<std::mutex> guard(tableLock);
    HandleObject* object = find(handle);
    if (!object || object->kind != kind) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

BOOL destroyHandle(HANDLE handle, HandleObject::Kind kind) {
    return destroyIf(handle, [kind](HandleObject::Kind actual) { return actual == kind; });
}

BOOL destroyClosableHandle(HANDLE handle) {
    // Searches are closed with FindClose only, as on the device.
    return destroyIf(handle, [](HandleObject::Kind actual) { return actual != HandleObject::Kind::Find; });
}
