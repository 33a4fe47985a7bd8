// The plug-ins that hound knows, one row each: what it says of them in its
// help, whether they are in the default order, where they may answer yes
// (their gates) and which formats' pre-checks speak for their items. No
// plug-in name is written anywhere else in the host; a plug-in that is not
// in this table is asked everywhere and without pre-checks.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "host/scan/filters.h"

struct KnownPlugin {
    const char* name;
    const char* finds;  // for --help: "<name> for <finds>"
    // In the default order (rows in table order); else why not, for --help.
    bool in_default_order;
    const char* left_out_because;
    // Fixed gates; null for a plug-in whose gates come from its signature
    // file (read_signatures).
    CandidateFilter (*gates)();
    // Its gates are those of the signs.ini it reads beside its module, read
    // with its own loader before and after its Initialize.
    bool reads_signatures;
    // Formats (host/check/formats.h) whose pre-checks speak for its items;
    // used only while its gates say that its items start where it is asked.
    std::vector<const char*> pre_checks;
};

const std::vector<KnownPlugin>& KnownPlugins();

// The row of that name, or nullptr.
const KnownPlugin* FindKnownPlugin(std::string_view name);

// The names of the rows in the default order, comma-separated.
std::string DefaultOrder();

// The name of the plug-in that reads signature files (--signs is its file).
std::string SignaturePluginName();
