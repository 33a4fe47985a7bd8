// The first stage of a scan: the plug-ins loaded and initialised, each with
// its filter and pre-checks from the known plug-ins table.
#include "host/detectors.h"

#include <sstream>

#include "host/base/diagnostics.h"
#include "host/base/names.h"
#include "host/check/formats.h"
#include "host/known_plugins.h"
#include "host/scan/filters.h"
#include "host/signs/signs_output.h"

namespace {

// Empty when the file gives a signature, else what hound signs says of it.
std::string SignsProblem(const std::string& signs_file) {
    std::ostringstream out, err;
    const int code = RunSigns(signs_file, SignaturePluginName(), false, out, err);
    if (code == kSignsSome) return "";
    std::string text = code == kSignsNone ? out.str() : err.str();
    while (!text.empty() && text.back() == '\n') text.pop_back();
    text = text.substr(text.find_last_of('\n') + 1);
    if (code == kSignsNone) return "--signs " + Quoted(signs_file) + ": " + text;
    return text.rfind("hound: ", 0) == 0 ? text.substr(7) : text;
}

// The filter of a loaded plug-in by its row: everywhere for one that hound
// does not know.
CandidateFilter FilterOf(const KnownPlugin* known, const std::string& name, const SignatureFilters& signatures) {
    if (known == nullptr) return CandidateFilter();
    if (known->reads_signatures) return signatures.For(name);
    return known->gates != nullptr ? known->gates() : CandidateFilter();
}

}  // namespace

std::unique_ptr<LoadedDetectors> LoadDetectors(const DetectorSettings& settings, Diagnostics& diag) {
    auto loaded = std::make_unique<LoadedDetectors>();
    if (!settings.signs.empty()) {
        // A file without signatures, or unreadable, gets the line that hound
        // signs ends with or prints.
        std::string error = SignsProblem(settings.signs);
        if (!error.empty() || !loaded->signs_folder.Prepare(settings.signs, SignaturePluginName(), settings.plugin_dir, settings.order, &error)) {
            diag.Error(error);
            return nullptr;
        }
    }
    const std::string& dir = loaded->signs_folder.path().empty() ? settings.plugin_dir : loaded->signs_folder.path();
    PluginSet& plugins = loaded->plugins;
    plugins.Load(dir, settings.order, diag);
    if (plugins.plugins().empty()) return nullptr;
    // hound's copy of a plug-in's rules must be what the plug-in itself read.
    SignatureFilters signatures;
    auto reads_signatures = [](const Plugin& plugin) {
        const KnownPlugin* known = FindKnownPlugin(plugin.name);
        return known != nullptr && known->reads_signatures;
    };
    for (const Plugin& plugin : plugins.plugins()) {
        if (reads_signatures(plugin)) signatures.ReadBeforeInitialize(plugin.name, plugin.handle);
    }
    // What the signature loader will pass over, told before Initialize.
    for (const Plugin& plugin : plugins.plugins()) {
        if (!reads_signatures(plugin)) continue;
        const std::string signs = plugin.path.substr(0, plugin.path.find_last_of('/')) + "/signs.ini";
        for (const std::string& line : SignsScanProblems(signs, plugin.name)) diag.Note(plugin.name + ": " + line);
    }
    plugins.Initialize(diag);
    for (const Plugin& plugin : plugins.plugins()) {
        if (reads_signatures(plugin)) signatures.ReadAfterInitialize(plugin.name, plugin.handle);
    }
    for (const Plugin& plugin : plugins.plugins()) {
        const auto index = static_cast<uint32_t>(loaded->plugin_names.size());
        loaded->plugin_names.push_back(plugin.name);
        loaded->plugin_states.push_back(plugin.name + "  " + plugin.path + "  " +
                                        (plugin.active ? "asked" : "not asked: Initialize answered 0"));
        if (!plugin.active) continue;
        const KnownPlugin* known = FindKnownPlugin(plugin.name);
        const CandidateFilter filter = FilterOf(known, plugin.name, signatures);
        loaded->detectors.emplace_back(plugin.record, index, settings.exhaustive ? CandidateFilter() : filter);
        if (known != nullptr && known->reads_signatures) loaded->detectors.back().answers = signatures.Answers(plugin.name);
        // Where its items start at the position asked, a format's pre-check
        // that finds no item of its format can start there speaks for them:
        // the check of any such item would find it invalid.
        if (known == nullptr || !filter.items_at_position) continue;
        for (const char* format : known->pre_checks) {
            loaded->detectors.back().pre_checks.push_back({FormatMayStart, FindFormat(format)});
        }
    }
    if (loaded->detectors.empty()) {
        diag.Error("no plug-in is ready to detect anything: nothing scanned");
        return nullptr;
    }
    std::vector<CandidateFilter> filters;
    for (const Detector& detector : loaded->detectors) filters.push_back(detector.filter);
    loaded->matcher = CandidateSearch::MatcherFor(filters);
    return loaded;
}
