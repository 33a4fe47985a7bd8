// Loading a built plug-in as a host does: dlopen, the one export, the record.
#pragma once
#include <string>

#include "kx_plugin.h"

// A fresh temporary folder, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes a file below the folder (creating subfolders); returns its path.
    std::string Write(const std::string& relative, const std::string& content) const;

private:
    std::string path_;
};

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
