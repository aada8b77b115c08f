#include "core/progress.h"

#include <chrono>

#include "core/narrow_text.h"
#include "platform/stream_watch.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReportInterval = std::chrono::milliseconds(50);

// How far the running request has read its archive. The measure is the
// position of the descriptors this process holds open on the archive file,
// whichever handler, library or reader layer opened it, so every format is
// measured the same way; writes to outputs are the moments to look.
struct ArchiveProgress {
    ProgressListener* listener = nullptr;
    bool running = false;
    WCHAR archive[MAX_PATH] = {};
    long long size = 0;
    int reported = -1;
    Clock::time_point lastReport{};
};

ArchiveProgress progress;

void report(int percent) {
    if (percent <= progress.reported) return;
    progress.reported = percent;
    progress.lastReport = Clock::now();
    progress.listener->archiveRead(percent);
}

void measure(void*) {
    if (!progress.running || !progress.listener) return;
    if (Clock::now() - progress.lastReport < kReportInterval) return;
    long long position = openFileReadPosition(progress.archive);
    if (position < 0) return;
    if (position > progress.size) position = progress.size;
    // 100 is kept for the end: a handler that has read everything may still
    // be writing.
    int percent = static_cast<int>(position * 100 / progress.size);
    report(percent > 99 ? 99 : percent);
}

}  // namespace

void setProgressListener(ProgressListener* listener) {
    progress.listener = listener;
    progress.running = false;
}

void reportOutputCreated(LPCWSTR path) {
    if (!progress.listener || !path) return;
    progress.listener->outputCreated(path);
    measure(nullptr);
}

void beginArchiveProgress(const char* archivePath) {
    progress.running = false;
    if (!progress.listener || !toWide(archivePath, progress.archive, MAX_PATH)) return;
    progress.size = deviceFileSize(progress.archive);
    if (progress.size <= 0) return;
    progress.running = true;
    progress.reported = -1;
    progress.lastReport = Clock::time_point{};
    report(0);
}

void endArchiveProgress(bool completed) {
    if (!progress.running) return;
    progress.running = false;
    if (completed) report(100);
}

void reportOutputWritten() { measure(nullptr); }

std::FILE* watchOutputStream(std::FILE* stream) {
    if (!progress.running || !progress.listener) return stream;
    return watchStreamWrites(stream, measure, nullptr);
}
