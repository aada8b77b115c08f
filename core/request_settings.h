// What a request reads of the user's settings: the extraction folder and the
// two options. The settings store in ui/ provides them; the program installs
// its source once at start-up.
#pragma once

#include <cstddef>

struct RequestSettings {
    // The extraction folder in narrow text; empty for the root, for a missing
    // value or one that cannot be converted or does not fit.
    void (*readExtractPath)(char* buffer, std::size_t capacity);
    bool (*readCreateFolder)();
    bool (*readOpenFolder)();
};

// Installs the source (not owned); nullptr removes it. Without a source a
// request reads an empty folder and both options off.
void useRequestSettings(const RequestSettings* settings);
const RequestSettings* requestSettings();
