// Stopping on SIGINT, SIGTERM and SIGHUP.
#include "host/base/interrupt.h"

#include <signal.h>

#include <initializer_list>

namespace {

StopFlag g_stop{0};

// Async-signal-safe: one lock-free store, no allocation, no I/O. The first
// signal is kept, so the report names the one that started the stop.
void OnStopSignal(int signal) {
    int none = 0;
    g_stop.compare_exchange_strong(none, signal);
}

}  // namespace

void InstallStopHandlers() {
    struct sigaction action = {};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call returns EINTR and its loop sees the flag.
    action.sa_flags = SA_RESETHAND;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

const StopFlag& StopRequested() { return g_stop; }

const char* StopSignalName(int signal) {
    switch (signal) {
        case SIGINT: return "SIGINT";
        case SIGTERM: return "SIGTERM";
        case SIGHUP: return "SIGHUP";
        default: return "a signal";
    }
}

int StopExitCode(int signal) { return 128 + signal; }

bool StopRequest::AskedWhile(const std::string& doing) {
    if (signal() == 0) return false;
    if (during_.empty()) during_ = doing;
    return true;
}

std::string StopRequest::Line() const {
    // A stop leaves no report that could pass for a finished run.
    return "stopped by " + std::string(StopSignalName(signal())) + (during_.empty() ? "" : " " + during_) +
           "; nothing further reported or written";
}
