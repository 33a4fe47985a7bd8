// Detector plug-ins loaded at run time: dlopen, the one export, the record
// check, Initialize once, Finalize and unload at the end.
#pragma once
#include <string>
#include <vector>

#include "contract/kx_plugin.h"

class Diagnostics;

// The file-name suffix of a plug-in module on this platform.
constexpr const char* kPluginSuffix = ".so";

// Why a record cannot be used ("" when it can): null, wrong magic or
// version, or an empty Initialize, Finalize or Detect slot.
std::string CheckRecord(const PluginInterface* record);

struct Plugin {
    std::string name;  // as given in the order, e.g. "markhound"
    std::string path;
    void* handle = nullptr;
    const PluginInterface* record = nullptr;
    bool initialized = false;
    bool active = false;  // Initialize answered non-zero: asked by the scan
};

class PluginSet {
public:
    PluginSet() = default;
    ~PluginSet();
    PluginSet(const PluginSet&) = delete;
    PluginSet& operator=(const PluginSet&) = delete;

    // Loads "<dir>/<name><kPluginSuffix>" for each name, in order. Each
    // plug-in that cannot be used gets one error line; the others stay.
    void Load(const std::string& dir, const std::vector<std::string>& names, Diagnostics& diag);
    // Calls Initialize of each loaded plug-in once. One that answers 0 gets
    // a note and is not asked during the scan.
    void Initialize(Diagnostics& diag);
    // Calls Finalize of each initialised plug-in, then unloads all of them.
    void Unload();

    const std::vector<Plugin>& plugins() const { return plugins_; }
    size_t ActiveCount() const;

private:
    std::vector<Plugin> plugins_;
};
