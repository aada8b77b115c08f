// The Reg* calls over the registry file: handles name a key by its path, and
// every call loads or modifies the store as registry_file does it.

#include "platform/registry.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/registry_file.h"

using registry::findKey;
using registry::kMaxDepth;
using registry::kMaxValueBytes;
using registry::loadStore;
using registry::modifyStore;
using registry::Node;
using registry::Store;
using registry::Value;
using registry::writableName;

struct RegistryKey {
    int root;                           // index into registry::kRootNames
    std::vector<std::u16string> path;   // components below the root, as the caller spelled them
};

namespace {

RegistryKey classesRootKey{0, {}};
RegistryKey currentUserKey{1, {}};

std::u16string wideToString(LPCWSTR text) {
    std::u16string out;
    if (text) {
        while (*text) out += *text++;
    }
    return out;
}

// Splits a `\`-separated key path. Empty components (doubled or trailing
// separators) are skipped, as the device tolerates them.
bool splitKeyPath(LPCWSTR subKey, std::vector<std::u16string>& parts) {
    parts.clear();
    std::u16string current;
    for (const WCHAR* p = subKey; p && *p; ++p) {
        if (*p == u'\\') {
            if (!current.empty()) parts.push_back(std::move(current));
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) parts.push_back(std::move(current));
    for (const auto& part : parts)
        if (!writableName(part)) return false;
    return true;
}

std::mutex& handleMutex() {
    static std::mutex m;
    return m;
}

std::unordered_set<RegistryKey*>& liveHandles() {
    static std::unordered_set<RegistryKey*> handles;
    return handles;
}

bool isRoot(HKEY key) { return key == &classesRootKey || key == &currentUserKey; }

bool validHandle(HKEY key) {
    if (!key) return false;
    if (isRoot(key)) return true;
    std::lock_guard<std::mutex> guard(handleMutex());
    return liveHandles().count(key) != 0;
}

HKEY newHandle(int root, std::vector<std::u16string> path) {
    auto* key = new RegistryKey{root, std::move(path)};
    std::lock_guard<std::mutex> guard(handleMutex());
    liveHandles().insert(key);
    return key;
}

std::vector<std::u16string> joinPath(HKEY base, const std::vector<std::u16string>& sub) {
    std::vector<std::u16string> path = base->path;
    path.insert(path.end(), sub.begin(), sub.end());
    return path;
}

template <typename Body>
LONG guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_GEN_FAILURE;
    }
}


}  // namespace

HKEY const HKEY_CLASSES_ROOT = &classesRootKey;
HKEY const HKEY_CURRENT_USER = &currentUserKey;

LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, HKEY* result) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::u16string> path = joinPath(key, sub);
        Store store;
        LONG status = loadStore(store);
        if (status != ERROR_SUCCESS) return status;
        if (!findKey(store, key->root, path)) return ERROR_FILE_NOT_FOUND;
        *result = newHandle(key->root, std::move(path));
        return ERROR_SUCCESS;
    });
}

LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM desired, void* securityAttributes, HKEY* result, DWORD* disposition) {
    return guarded([&]() -> LONG {
        if (!result) return ERROR_INVALID_PARAMETER;
        *result = nullptr;
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_INVALID_NAME;
        std::vector<std::u16string> path = joinPath(key, sub);
        if (path.size() > kMaxDepth) return ERROR_INVALID_PARAMETER;
        bool created = false;
        LONG status = modifyStore([&](Store& store, bool& changed) -> LONG {
            // The handle's own key must still be there: a key that another
            // writer deleted is not brought back by creating below it.
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            for (const auto& part : sub) {
                if (!node->child(part)) created = true;
                node = &node->addChild(part);
            }
            changed = created;
            return ERROR_SUCCESS;
        });
        if (status != ERROR_SUCCESS) return status;
        if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        *result = newHandle(key->root, std::move(path));
        return ERROR_SUCCESS;
    });
}

LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (data && !dataSize) return ERROR_INVALID_PARAMETER;
        Store store;
        LONG status = loadStore(store);
        if (status != ERROR_SUCCESS) return status;
        Node* node = findKey(store, key->root, key->path);
        if (!node) return ERROR_FILE_NOT_FOUND;
        const Value* value = node->value(wideToString(valueName));
        if (!value) return ERROR_FILE_NOT_FOUND;
        // Values are capped well below 4 GiB, so the size fits a DWORD.
        DWORD size = static_cast<DWORD>(value->data.size());
        if (type) *type = value->type;
        if (data) {
            if (*dataSize < size) {
                *dataSize = size;
                return ERROR_MORE_DATA;
            }
            if (size) std::memcpy(data, value->data.data(), size);
        }
        if (dataSize) *dataSize = size;
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (!data && dataSize) return ERROR_INVALID_PARAMETER;
        if (dataSize > kMaxValueBytes) return ERROR_INVALID_PARAMETER;
        Value value;
        value.name = wideToString(valueName);
        if (!writableName(value.name)) return ERROR_INVALID_PARAMETER;
        value.type = type;
        if (dataSize) value.data.assign(data, data + dataSize);
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            // Writing to a key that was deleted meanwhile fails rather than
            // recreating it: the delete was somebody's deliberate change.
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            const Value* existing = node->value(value.name);
            changed = !existing || existing->type != value.type || existing->data != value.data;
            if (changed) node->putValue(std::move(value));
            return ERROR_SUCCESS;
        });
    });
}

LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        if (!subKey) return ERROR_INVALID_PARAMETER;
        std::vector<std::u16string> sub;
        if (!splitKeyPath(subKey, sub)) return ERROR_FILE_NOT_FOUND;
        std::vector<std::u16string> path = joinPath(key, sub);
        if (path.empty()) return ERROR_ACCESS_DENIED;  // a root is never deleted
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            std::vector<std::u16string> parentPath(path.begin(), path.end() - 1);
            Node* parent = findKey(store, key->root, parentPath);
            if (!parent) return ERROR_FILE_NOT_FOUND;
            changed = parent->removeChild(path.back());
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegDeleteValueW(HKEY key, LPCWSTR valueName) {
    return guarded([&]() -> LONG {
        if (!validHandle(key)) return ERROR_INVALID_HANDLE;
        std::u16string name = wideToString(valueName);
        return modifyStore([&](Store& store, bool& changed) -> LONG {
            Node* node = findKey(store, key->root, key->path);
            if (!node) return ERROR_FILE_NOT_FOUND;
            changed = node->removeValue(name);
            return changed ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        });
    });
}

LONG RegCloseKey(HKEY key) {
    return guarded([&]() -> LONG {
        if (!key) return ERROR_INVALID_HANDLE;
        if (isRoot(key)) return ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> guard(handleMutex());
            if (liveHandles().erase(key) == 0) return ERROR_INVALID_HANDLE;
        }
        delete key;
        return ERROR_SUCCESS;
    });
}
