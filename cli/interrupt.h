// Ctrl-C during a batch: the first one asks the batch to stop after the device it is on, the
// second ends the process at once. On Windows the console's control handler does the same.
#pragma once

#include <atomic>

namespace corvane::cli {

// While it lives, the first interrupt sets stopRequested(); the handling before it comes back
// when it goes.
class InterruptStop {
public:
    InterruptStop();
    ~InterruptStop();
    InterruptStop(const InterruptStop&) = delete;
    InterruptStop& operator=(const InterruptStop&) = delete;

    // The flag the batch reads between devices.
    const std::atomic<bool>& stopRequested() const;
};

}  // namespace corvane::cli
