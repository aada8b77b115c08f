// Shows a running request's progress in the window: the output being
// written and how much of the archive has been read. Installed for the
// duration of one request run from the dialog.
#pragma once

#include <string>

#include "core/progress.h"

class RequestProgressDisplay : public ProgressListener {
public:
    RequestProgressDisplay();
    ~RequestProgressDisplay() override;
    RequestProgressDisplay(const RequestProgressDisplay&) = delete;
    RequestProgressDisplay& operator=(const RequestProgressDisplay&) = delete;

    void outputCreated(LPCWSTR path) override;
    void archiveRead(int percent) override;

private:
    std::u16string outputPath_;
    unsigned filesSoFar_ = 0;
    int percent_ = -1;
};
