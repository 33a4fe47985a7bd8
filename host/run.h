// "hound scan": loads the plug-ins, scans each input, reports and extracts.
#pragma once
#include <atomic>
#include <iosfwd>
#include <string>

#include "host/options.h"

struct Environment {
    std::string default_plugin_dir;  // the folder of the hound executable
    // The hound executable, which reads an evidence image's file systems in
    // a process of its own; empty: a copy of this process reads them.
    std::string self;
    bool terminal = false;           // stderr is a terminal: a progress bar may show
    // Set to a signal number when the user asks hound to stop (see interrupt.h).
    const std::atomic<int>* stop = nullptr;
};

// Runs the scan; returns the exit code. Results go to out, messages to err.
int RunScan(const Options& options, const Environment& environment, std::ostream& out,
            std::ostream& err);
