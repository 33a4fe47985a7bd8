// Detector plug-ins loaded at run time.
#include "host/scan/plugins.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdio>

#include "host/base/diagnostics.h"
#include "host/base/names.h"

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

bool IsFolder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

}  // namespace

std::string CheckRecord(const PluginInterface* record) {
    if (record == nullptr) return "KX_QueryInterface returned no record";
    if (record->magic[0] != KX_INTERFACE_MAGIC0 || record->magic[1] != KX_INTERFACE_MAGIC1) {
        return "wrong magic " + Quoted(std::string(record->magic, 2)) + " in its record (expected 'KX')";
    }
    if (record->version != KX_INTERFACE_VERSION) {
        return "interface version " + Hex(record->version) + " in its record (expected " +
               Hex(KX_INTERFACE_VERSION) + ")";
    }
    if (record->Initialize == nullptr) return "its record has no Initialize";
    if (record->Finalize == nullptr) return "its record has no Finalize";
    if (record->Detect == nullptr) return "its record has no Detect";
    return "";
}

PluginSet::~PluginSet() { Unload(); }

void PluginSet::Load(const std::string& dir, const std::vector<std::string>& names,
                     Diagnostics& diag) {
    if (names.empty()) return;
    if (!IsFolder(dir)) {
        diag.Error("plug-in folder " + Quoted(dir) + " does not exist");
        return;
    }
    std::vector<std::string> missing;
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name + kPluginSuffix;
        if (!Exists(path)) {
            missing.push_back(name);
            continue;
        }
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            diag.Error("cannot load plug-in " + Quoted(path) + ": " + Printable(why ? why : "?"));
            continue;
        }
        auto query = reinterpret_cast<KX_QueryInterfaceFn>(dlsym(handle, KX_QUERY_INTERFACE_NAME));
        if (query == nullptr) {
            diag.Error("plug-in " + Quoted(path) + " does not export " KX_QUERY_INTERFACE_NAME);
            dlclose(handle);
            continue;
        }
        // The plug-in's own handle: markhound finds its signs.ini through it.
        const PluginInterface* record = query(handle);
        const std::string problem = CheckRecord(record);
        if (!problem.empty()) {
            diag.Error("plug-in " + Quoted(path) + ": " + problem);
            dlclose(handle);
            continue;
        }
        Plugin plugin;
        plugin.name = name;
        plugin.path = path;
        plugin.handle = handle;
        plugin.record = record;
        plugins_.push_back(plugin);
    }
    if (missing.size() == names.size()) {
        diag.Error("no plug-ins in " + Quoted(dir) + " (looked for " + Printable(names.front()) +
                   kPluginSuffix + (names.size() > 1 ? " and others)" : ")"));
        return;
    }
    for (const std::string& name : missing) {
        diag.Error("plug-in " + Quoted(name) + " not found: no " +
                   Quoted(dir + "/" + name + kPluginSuffix));
    }
}

void PluginSet::Initialize(Diagnostics& diag) {
    for (Plugin& plugin : plugins_) {
        if (plugin.initialized) continue;
        plugin.initialized = true;
        plugin.active = plugin.record->Initialize(0, 0) != 0;
        if (!plugin.active) {
            diag.Note(plugin.name + " answered Initialize with 0 (nothing to detect with); it is not asked");
        }
    }
}

void PluginSet::Unload() {
    for (Plugin& plugin : plugins_) {
        if (plugin.initialized) plugin.record->Finalize(0);
        dlclose(plugin.handle);
    }
    plugins_.clear();
}

size_t PluginSet::ActiveCount() const {
    size_t count = 0;
    for (const Plugin& plugin : plugins_) count += plugin.active;
    return count;
}
