#include "core/request_outcome.h"

RequestOutcome outcomeOf(const AppState& state) {
    if (state.notFoundCount != 0) return RequestOutcome::NotFound;
    if (state.unsupportedCount != 0) return RequestOutcome::Unsupported;
    if (state.failedCount != 0) return RequestOutcome::Failed;
    return RequestOutcome::Succeeded;
}

unsigned messageIdFor(RequestOutcome outcome) {
    switch (outcome) {
    case RequestOutcome::NotFound: return 40009;
    case RequestOutcome::Unsupported: return 40010;
    case RequestOutcome::Failed: return 40011;
    case RequestOutcome::Succeeded: break;
    }
    return 0;
}

int exitStatusFor(RequestOutcome outcome) {
    switch (outcome) {
    case RequestOutcome::NotFound: return 2;
    case RequestOutcome::Unsupported: return 3;
    case RequestOutcome::Failed: return 4;
    case RequestOutcome::Succeeded: break;
    }
    return 0;
}

void clearRequestCounters(AppState& state) {
    state.notFoundCount = 0;
    state.unsupportedCount = 0;
    state.failedCount = 0;
}
