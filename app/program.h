// The program: start-up, the start-up action chosen by the command line, and
// shut-down. Returns the exit status for scripts: 0 success, 1 a dialog was
// needed but cannot be shown, 2 file not found, 3 format not supported,
// 4 extraction failed.
#pragma once

#include "platform/win_types.h"

int runProgram(const WCHAR* commandLine);
