// hound: the command-line host of the detector plug-ins.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "host/scan/interrupt.h"
#include "host/options.h"
#include "host/run.h"
#include "host/signs/signs_output.h"

int main(int argc, char** argv) {
    Options options;
    const int parsed = ParseCommandLine(argc, argv, &options, std::cout, std::cerr);
    if (parsed >= 0) return parsed;
    if (options.command == "signs") {
        return RunSigns(options.signs_file, options.json, std::cout, std::cerr);
    }

    Environment environment;
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    environment.default_plugin_dir = failure ? "." : self.parent_path().string();
    environment.terminal = isatty(STDERR_FILENO) != 0;
    InstallStopHandlers();
    // A file-size limit then fails the write (EFBIG), which is told and
    // cleaned up like a full disk, instead of killing hound.
    signal(SIGXFSZ, SIG_IGN);
    environment.stop = &StopRequested();
    try {
        return RunScan(options, environment, std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "hound: " << e.what() << '\n';
        return kExitErrors;
    }
}
