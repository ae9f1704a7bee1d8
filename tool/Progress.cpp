// The progress count of listings: drawn over itself on one line of standard error.
#include "Progress.h"

#include <chrono>
#include <cstdio>

#include "ConsoleOutput.h"
#include "RunSettings.h"

namespace {

int64_t steadyMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

zdMillisClock currentClock = steadyMillis;

}  // namespace

void setProgressClock(zdMillisClock clock) {
    currentClock = clock ? clock : steadyMillis;
}

bool progressWanted() {
    return nVerbose == 2 && isTerminalStream(stderr);
}

// A listing that arrives within the first interval shows nothing at all.
zdProgressCount::zdProgressCount(bool enabled) : enabled_(enabled) {
    if (enabled_) next_ = currentClock() + kUpdateMillis;
}

void zdProgressCount::Update() {
    const int64_t now = currentClock();
    if (now < next_) return;
    next_ = now + kUpdateMillis;
    char text[48];
    std::snprintf(text, sizeof text, "%llu records received",
                  static_cast<unsigned long long>(count_));
    zdShowStatus(text);
}

void zdProgressCount::Finish() {
    if (enabled_) zdClearStatus();
    enabled_ = false;
}
