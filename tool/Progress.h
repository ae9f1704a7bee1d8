// The count of records received that a listing shows on a terminal's standard error while it
// arrives, and the clock it reads.
#ifndef ZDTOOL_PROGRESS_H
#define ZDTOOL_PROGRESS_H

#include <cstdint>

// Milliseconds of a monotonic clock; tests put their own in place (null restores the real one).
using zdMillisClock = int64_t (*)();
void setProgressClock(zdMillisClock clock);

// Whether listings show the count: standard error is a terminal and the verbosity is the
// default, so nothing else is written beside it.
bool progressWanted();

class zdProgressCount {
public:
    // Records between two looks at the clock, and the time between two updates.
    static constexpr uint64_t kCheckEvery = 256;
    static constexpr int64_t kUpdateMillis = 250;

    explicit zdProgressCount(bool enabled);
    ~zdProgressCount() { Finish(); }
    zdProgressCount(const zdProgressCount&) = delete;
    zdProgressCount& operator=(const zdProgressCount&) = delete;

    void Record() {
        if (enabled_ && ++count_ % kCheckEvery == 0) Update();
    }
    // Erases the count, leaving the terminal as it was.
    void Finish();

private:
    void Update();

    bool enabled_;
    uint64_t count_ = 0;
    int64_t next_ = 0;  // when the count is next drawn
};

#endif
