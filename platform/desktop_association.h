// The host desktop's side of a file type association: what makes a file
// manager start the program on a file of a registered type.
//
// Registering a type adds it to the program's desktop entry
// ($XDG_DATA_HOME/applications/tovrin-unpacker.desktop, Exec with the file
// path), puts that entry first among the defaults for the type's MIME type in
// $XDG_CONFIG_HOME/mimeapps.list, and, for a type the desktop knows no MIME
// type for, declares one in $XDG_DATA_HOME/mime/packages/. Unregistering
// takes away exactly these additions; other programs' entries stay as they
// were, so a type the program took over falls back to its former default.
#pragma once

#include <string>

#include "platform/win_types.h"

// extension with its dot (".zip"); description names a declared MIME type.
// False when a file could not be written.
bool desktopRegisterType(LPCWSTR extension, LPCWSTR description);
void desktopUnregisterType(LPCWSTR extension);

// The MIME type the desktop uses for files with the extension: the host's
// shared MIME database first, the program's own declaration otherwise.
std::string desktopMimeTypeOf(LPCWSTR extension);
// The program's desktop entry file, and the name and icon it shows; the same
// as those of the entry the package installs (data/tovrin-unpacker.desktop).
constexpr const char kDesktopEntryName[] = "tovrin-unpacker.desktop";
constexpr const char kDesktopProgramName[] = "Tovrin UnPacker";
constexpr const char kDesktopIconName[] = "tovrin-unpacker";
