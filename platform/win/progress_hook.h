// Called by the file services whenever an output file is created, so that a
// running request can show which member it is writing.
#pragma once

#include "platform/win_types.h"

void reportOutputCreated(LPCWSTR path);
