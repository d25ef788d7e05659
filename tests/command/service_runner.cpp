// Runs the tool's HTTP service alone, for the browser test and the benchmark:
//   corvane-service-runner PORT [--quiet]
// Prints "ready" on standard error once it listens; stops on SIGTERM or SIGINT.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command/http_server.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [--quiet]\n", argv[0]);
        return 2;
    }
    // The service logs every event; a load test does not want them on a terminal.
    if (argc > 2 && std::strcmp(argv[2], "--quiet") == 0 &&
        std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;

    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);  // the service thread inherits it

    if (start_http_service(static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10))) != 0)
        return 1;
    std::fprintf(stderr, "ready\n");
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    stop_http_service();
    return 0;
}
