// The objects behind HANDLE values: open files, searches and started
// programs. A handle is a pointer to one of these, but every use goes through
// the table of live handles first, so a stale, closed or foreign value is
// refused with ERROR_INVALID_HANDLE instead of being dereferenced.
#pragma once

#include "platform/win_types.h"

struct HandleObject {
    enum class Kind { File, Find, Process, Thread };

    explicit HandleObject(Kind objectKind) : kind(objectKind) {}
    virtual ~HandleObject() = default;
    HandleObject(const HandleObject&) = delete;
    HandleObject& operator=(const HandleObject&) = delete;

    const Kind kind;
};

// Takes ownership of object and returns its handle.
HANDLE registerHandle(HandleObject* object);

// The live object behind handle if it is of the given kind; nullptr (with
// ERROR_INVALID_HANDLE set) otherwise.
HandleObject* lookupHandle(HANDLE handle, HandleObject::Kind kind);

// Removes a live handle of the given kind from the table and destroys its
// object. FALSE with ERROR_INVALID_HANDLE when there is no such handle.
BOOL destroyHandle(HANDLE handle, HandleObject::Kind kind);
// The same for any of the kinds CloseHandle accepts (files and programs).
BOOL destroyClosableHandle(HANDLE handle);
