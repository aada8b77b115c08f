// Progress of the running request, for whoever shows it. The window that
// runs a request installs a listener for its duration; with none installed
// (the keyed command line) nothing is measured and streams stay plain.
#pragma once

#include <cstdio>

#include "platform/win_types.h"

class ProgressListener {
public:
    virtual ~ProgressListener() = default;
    // An output file (device path) was created.
    virtual void outputCreated(LPCWSTR path) = 0;
    // How much of the archive has been read, 0 to 100. Never smaller than
    // the value before, at most once every 50 ms, and 100 last when the
    // handler finished its work.
    virtual void archiveRead(int percent) = 0;
};

// Installs listener (not owned) for the requests that follow; nullptr removes it.
void setProgressListener(ProgressListener* listener);

// Called exactly once for every output file a request creates.
void reportOutputCreated(LPCWSTR path);

// The driver brackets a handler's extract call with these: the archive
// whose reading is measured, and whether the handler ran to its end.
void beginArchiveProgress(const char* archivePath);
void endArchiveProgress(bool completed);

// Bytes went to an output of the running request: with a listener
// installed, the archive is measured (at most every 50 ms) and reported.
void reportOutputWritten();

// An output stream of the running request: with a listener installed, every
// write to it measures the archive (at most every 50 ms) and reports.
std::FILE* watchOutputStream(std::FILE* stream);
