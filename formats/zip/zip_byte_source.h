// minizip's seekable byte source on the device's file handles. The
// "file name" minizip passes to the open callback is a UTF-16 device path.
#pragma once

#include <ioapi.h>

void fillZipByteSource(zlib_filefunc64_def* functions);
