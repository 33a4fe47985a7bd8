// Loading a built plug-in as a host does: dlopen, the one export, the record.
#pragma once
#include <string>

#include "contract/kx_plugin.h"
#include "tests/fakes/temp_dir.h"

// Path of a plug-in file in the build's output folder, e.g. "markhound.so".
std::string BuiltPlugin(const std::string& file_name);

// Copies a file; returns the destination path.
std::string CopyFile(const std::string& from, const std::string& to);

class LoadedPlugin {
public:
    explicit LoadedPlugin(const std::string& path);
    ~LoadedPlugin();
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;

    void* handle() const { return handle_; }
    KX_QueryInterfaceFn query() const { return query_; }
    // KX_QueryInterface called with the module's own handle.
    const PluginInterface* Record() const { return query_(handle_); }

private:
    void* handle_ = nullptr;
    KX_QueryInterfaceFn query_ = nullptr;
};
