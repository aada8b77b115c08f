// The registry: keys and typed values, kept in one text file in .reg export
// syntax at $XDG_CONFIG_HOME/tovrin-unpacker/registry.reg
// (~/.config/... when the variable is unset). Every write re-reads the file
// and replaces it atomically under an exclusive lock, so concurrent writers
// lose nothing; a file that cannot be parsed is kept aside under a new name
// and the store starts empty. Key and value names compare case-insensitively.
#pragma once

#include <string>

#include "platform/win_types.h"

struct RegistryKey;
using HKEY = RegistryKey*;
using REGSAM = DWORD;

extern HKEY const HKEY_CLASSES_ROOT;
extern HKEY const HKEY_CURRENT_USER;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;

constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// All return ERROR_SUCCESS or an error code (ERROR_FILE_NOT_FOUND for a
// missing key or value, ERROR_MORE_DATA when the data does not fit, and so
// on). A null or empty value name is the key's default value.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM desired, HKEY* result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                     REGSAM desired, void* securityAttributes, HKEY* result, DWORD* disposition);
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD dataSize);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);  // removes subkeys too
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
LONG RegCloseKey(HKEY key);

// Where the store lives now (reads XDG_CONFIG_HOME and HOME at every call).
std::string registryFilePath();
