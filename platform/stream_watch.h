// Watching file activity while a request runs: a stream that calls back
// after every write, and how far this process has read into a file.
#pragma once

#include <cstdio>

#include "platform/win_types.h"

// Wraps an open stream: the returned stream writes, reads and seeks on the
// same file and calls watcher(context) after every write that reached the
// file; closing it closes stream as well. On failure returns stream
// itself, unwatched.
std::FILE* watchStreamWrites(std::FILE* stream, void (*watcher)(void*), void* context);

// The furthest current position among this process's open descriptors on
// the file at path (the same file, whatever name opened it), or -1 when
// none is open or the file cannot be found.
long long openFileReadPosition(LPCWSTR path);
// The file's size in bytes, or -1 when it cannot be found.
long long deviceFileSize(LPCWSTR path);
