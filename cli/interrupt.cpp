#include "cli/interrupt.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

namespace corvane::cli {

namespace {

// Touched by the handler: lock-free atomics only, so the handler stays async-signal-safe.
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<bool> stop_requested{false};

constexpr char kStopping[] =
    "\nstopping after the device being loaded; Ctrl-C again ends at once\n";

#ifdef _WIN32
BOOL WINAPI onControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    if (stop_requested.exchange(true)) {
        return FALSE;  // the default handler ends the process
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kStopping, DWORD(sizeof kStopping - 1), &written,
              nullptr);
    return TRUE;
}
#else
struct sigaction previous;

void onInterrupt(int) {
    if (stop_requested.exchange(true)) {
        // 128 + SIGINT, as a shell reports a program an interrupt ended.
        _exit(130);
    }
    [[maybe_unused]] const ssize_t n = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
}
#endif

}  // namespace

InterruptStop::InterruptStop() {
    stop_requested = false;
#ifdef _WIN32
    SetConsoleCtrlHandler(onControl, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // Blocking calls (a socket wait) come back and go on; the batch reads the flag after them.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previous);
#endif
}

InterruptStop::~InterruptStop() {
#ifdef _WIN32
    SetConsoleCtrlHandler(onControl, FALSE);
#else
    sigaction(SIGINT, &previous, nullptr);
#endif
}

const std::atomic<bool>& InterruptStop::stopRequested() const {
    return stop_requested;
}

}  // namespace corvane::cli
