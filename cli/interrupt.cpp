#include "interrupt.h"

#include <csignal>

namespace qv::cli {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read blocked on a pipe returns EINTR so the run can stop. SA_RESETHAND:
    // a second Ctrl-C ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

bool InterruptRequested() { return gInterrupted != 0; }

void SetInterruptRequested(bool requested) { gInterrupted = requested ? 1 : 0; }

}  // namespace qv::cli
