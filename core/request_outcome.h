// The one place that turns the three result counters into an outcome, its
// message and the program's exit status.
#pragma once

#include "core/app_state.h"

enum class RequestOutcome { Succeeded, NotFound, Unsupported, Failed };

// Tested in order: not found, unsupported, failed.
RequestOutcome outcomeOf(const AppState& state);

// String-table ids: 40009 "File not exist!", 40010 "Format of file not
// supported!", 40011 "Unknown error!"; 0 for success.
unsigned messageIdFor(RequestOutcome outcome);

// 0 success, 2 not found, 3 not supported, 4 failed.
int exitStatusFor(RequestOutcome outcome);

// Clears the counters before a request.
void clearRequestCounters(AppState& state);
