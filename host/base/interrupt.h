// Stopping on SIGINT, SIGTERM and SIGHUP: the handler only records which
// signal came; the scan loop and the extraction look at the record and stop
// at the next position or the next block written.
#pragma once
#include <atomic>
#include <string>

// The number of the first stop signal received, 0 while none has come.
using StopFlag = std::atomic<int>;
static_assert(StopFlag::is_always_lock_free, "the signal handler stores into it");

// Installs the handlers. Each handles one signal: a second signal of the
// same kind ends the process at once, for a user who will not wait.
void InstallStopHandlers();

// The flag that the handlers set.
const StopFlag& StopRequested();

// "SIGINT", "SIGTERM", "SIGHUP", or "a signal" for any other.
const char* StopSignalName(int signal);

// The exit code of a run stopped by signal: 128 + its number, as shells
// report a process that the signal ended.
int StopExitCode(int signal);

// A run's view of the flag: asked in one place by every stage, and what was
// under way when a stage first saw it, for the one line that tells the stop.
class StopRequest {
public:
    explicit StopRequest(const StopFlag* flag) : flag_(flag) {}
    const StopFlag* flag() const { return flag_; }
    int signal() const { return flag_ != nullptr ? flag_->load() : 0; }
    // True when a stop is asked; the first call that sees it records doing
    // ("while writing ...").
    bool AskedWhile(const std::string& doing);
    // "stopped by SIGINT while ...; nothing further reported or written"
    std::string Line() const;

private:
    const StopFlag* flag_;
    std::string during_;
};
