#include "ui/progress_display.h"

#include "platform/win/window_system.h"

RequestProgressDisplay::RequestProgressDisplay() { setProgressListener(this); }

RequestProgressDisplay::~RequestProgressDisplay() { setProgressListener(nullptr); }

void RequestProgressDisplay::outputCreated(LPCWSTR path) {
    outputPath_ = path;
    ++filesSoFar_;
    window_system::showProgress(outputPath_, filesSoFar_, percent_);
}

void RequestProgressDisplay::archiveRead(int percent) {
    percent_ = percent;
    window_system::showProgress(outputPath_, filesSoFar_, percent_);
}
