// hound: the command-line host of the detector plug-ins.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <string>

#include "host/base/interrupt.h"
#include "host/known_plugins.h"
#include "host/options.h"
#include "host/scan/plugins.h"
#include "host/report/join.h"
#include "host/report/output_paths.h"
#include "host/filesystem/apart.h"
#include "host/run.h"
#include "host/signs/signs_output.h"

namespace {

// Where the plug-ins are when --plugins does not say: beside the executable
// (the build folder, a Windows-style unpacked folder), else ../lib/hound
// relative to it (an installed tree: bin/hound, lib/hound/*.so).
std::string DefaultPluginDir() {
    std::error_code failure;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
    if (failure) return ".";
    const std::filesystem::path beside = self.parent_path();
    for (const KnownPlugin& plugin : KnownPlugins()) {
        if (std::filesystem::exists(beside / (std::string(plugin.name) + kPluginSuffix), failure)) {
            return beside.string();
        }
    }
    const std::filesystem::path installed = beside.parent_path() / "lib" / "hound";
    if (std::filesystem::is_directory(installed, failure)) return installed.string();
    return beside.string();
}

}  // namespace

int main(int argc, char** argv) {
    // The file-system reader's own process (host/filesystem/apart.h).
    if (argc >= 3 && std::string(argv[1]) == kListFileSystemsCommand) {
        return ListFileSystems(argv[2], argc >= 4 && std::string(argv[3]) == "--raw");
    }
    Options options;
    const int parsed = ParseCommandLine(argc, argv, &options, std::cout, std::cerr);
    if (parsed >= 0) return parsed;
    // A message must not land in what is read: "2>> disk.img".
    const bool scan = options.command == Command::kScan;
    const std::vector<std::string> signs = {options.command == Command::kSigns ? options.signs_file : options.scan_signs};
    if ((options.command != Command::kSigns &&
         RefuseStandardErrorOn(options.files, scan ? "the input" : "the part", std::cout)) ||
        RefuseStandardErrorOn(signs, "the signature file", std::cout)) {
        return kExitErrors;
    }
    switch (options.command) {
    case Command::kSigns: {
        const std::vector<std::string> refused = CheckOutputPaths("", "", {}, options.signs_file);
        for (const std::string& line : refused) std::cerr << "hound: " << line << '\n';
        if (!refused.empty()) return kExitErrors;
        return RunSigns(options.signs_file, SignaturePluginName(), options.json, std::cout, std::cerr);
    }
    case Command::kJoin: return RunJoin(options, std::cout, std::cerr);
    case Command::kScan: break;
    }

    Environment environment;
    environment.default_plugin_dir = DefaultPluginDir();
    std::error_code failure;
    environment.self = std::filesystem::read_symlink("/proc/self/exe", failure).string();
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
