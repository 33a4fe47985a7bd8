// Plug-in loading and temporary folders for the module tests.
#include "tests/module/module_helpers.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

std::string BuiltPlugin(const std::string& file_name) {
    return (fs::path(HOUND_PLUGIN_DIR) / file_name).string();
}

std::string CopyFile(const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    return to;
}

LoadedPlugin::LoadedPlugin(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    query_ = reinterpret_cast<KX_QueryInterfaceFn>(dlsym(handle_, KX_QUERY_INTERFACE_NAME));
    if (query_ == nullptr) throw std::runtime_error("no KX_QueryInterface in " + path);
}

LoadedPlugin::~LoadedPlugin() {
    if (handle_ != nullptr) dlclose(handle_);
}
