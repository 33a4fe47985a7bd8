#include "host/scan/detectors.h"

#include "host/check/check.h"
#include "host/report/diagnostics.h"
#include "host/scan/filters.h"
#include "host/signs/signs_output.h"

namespace {

bool IsJpegPlugin(const std::string& name) {
    return name == kJpegPluginName || name == "jpeghound";
}

}  // namespace

std::unique_ptr<LoadedDetectors> LoadDetectors(const DetectorSettings& settings, Diagnostics& diag) {
    auto loaded = std::make_unique<LoadedDetectors>();
    if (!settings.signs.empty()) {
        std::string error;
        if (!loaded->signs_folder.Prepare(settings.signs, settings.plugin_dir, settings.order, &error)) {
            diag.Error(error);
            return nullptr;
        }
    }
    const std::string& dir = loaded->signs_folder.path().empty() ? settings.plugin_dir : loaded->signs_folder.path();
    PluginSet& plugins = loaded->plugins;
    plugins.Load(dir, settings.order, diag);
    if (plugins.plugins().empty()) return nullptr;
    // hound's copy of a plug-in's rules must be what the plug-in itself read.
    KnownFilters filters;
    for (const Plugin& plugin : plugins.plugins()) filters.ReadBeforeInitialize(plugin.name, plugin.handle);
    // What markhound's loader will pass over, told before its Initialize.
    for (const Plugin& plugin : plugins.plugins()) {
        if (plugin.name != kSignaturePluginName) continue;
        const std::string signs = plugin.path.substr(0, plugin.path.find_last_of('/')) + "/signs.ini";
        for (const std::string& line : SignsScanProblems(signs)) diag.Note(plugin.name + ": " + line);
    }
    plugins.Initialize(diag);
    for (const Plugin& plugin : plugins.plugins()) filters.ReadAfterInitialize(plugin.name, plugin.handle);
    for (const Plugin& plugin : plugins.plugins()) {
        const auto index = static_cast<uint32_t>(loaded->plugin_names.size());
        loaded->plugin_names.push_back(plugin.name);
        loaded->plugin_states.push_back(plugin.name + "  " + plugin.path + "  " +
                                        (plugin.active ? "asked" : "not asked: Initialize answered 0"));
        if (!plugin.active) continue;
        loaded->detectors.emplace_back(plugin.record, index,
                                       settings.exhaustive ? CandidateFilter() : filters.For(plugin.name));
        // The JPEG plug-ins answer at the position asked, with an item that the
        // JPEG checker reads: where its header cannot be read, no yes survives.
        if (IsJpegPlugin(plugin.name)) loaded->detectors.back().may_start = JpegMayStart;
        // markhound's items start where it is asked unless a signature says
        // otherwise: a damaged archive's entries need not cost it a search each.
        if (plugin.name == kSignaturePluginName && filters.For(plugin.name).items_at_position) {
            loaded->detectors.back().may_start = ZipMayStart;
        }
    }
    if (loaded->detectors.empty()) {
        diag.Error("no plug-in is ready to detect anything: nothing scanned");
        return nullptr;
    }
    return loaded;
}
