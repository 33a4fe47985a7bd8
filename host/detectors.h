// The first stage of a scan: the plug-ins named in the order, loaded and
// initialised, each with the filter and pre-check that decide where it is
// asked.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "host/scan/candidates.h"
#include "host/scan/plugins.h"
#include "host/scan/scan.h"
#include "host/scan/signs_folder.h"

class Diagnostics;

struct DetectorSettings {
    std::string plugin_dir;
    std::vector<std::string> order;
    std::string signs;        // --signs: markhound reads this file instead of its own
    bool exhaustive = false;  // every plug-in asked at every position
};

// What loading made. The plug-ins stay loaded until Unload or destruction.
struct LoadedDetectors {
    SignsFolder signs_folder;  // with --signs, the folder the plug-ins are loaded from
    PluginSet plugins;
    std::vector<Detector> detectors;         // the plug-ins to ask, in order
    std::shared_ptr<const GateMatcher> matcher;  // their gates, compiled once for every input
    std::vector<std::string> plugin_names;   // every plug-in loaded; Item::plugin indexes it
    std::vector<std::string> plugin_states;  // one line per plug-in, for the audit
};

// nullptr, after one line or more in diag, when no plug-in is ready to be
// asked. Notes what markhound's loader passes over in its signature file.
std::unique_ptr<LoadedDetectors> LoadDetectors(const DetectorSettings& settings, Diagnostics& diag);
