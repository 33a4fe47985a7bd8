// The private plug-in folder of hound scan --signs.
#include "host/scan/signs_folder.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "host/base/names.h"
#include "host/scan/plugins.h"
#include "markhound/database/reload.h"
#include "markhound/platform/posix_paths.h"

namespace fs = std::filesystem;

SignsFolder::~SignsFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
}

bool SignsFolder::Prepare(const std::string& signs_file, const std::string& reader, const std::string& plugin_dir,
                          const std::vector<std::string>& names, std::string* error) {
    std::error_code failure;
    const std::string absolute = fs::absolute(signs_file, failure).lexically_normal().string();
    char drive_form[kMaxPath + 1];
    if (failure || !DriveFormFromNative(absolute.c_str(), drive_form, sizeof drive_form) ||
        absolute.size() + 2 >= sizeof drive_form) {
        *error = "--signs " + Quoted(signs_file) + ": the path is longer than " + reader + " reads (" +
                 std::to_string(kMaxPath) + " characters)";
        return false;
    }
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string temp = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    std::string folder = temp + "/" + kSignsFolderPrefix + "XXXXXX";
    if (mkdtemp(folder.data()) == nullptr) {
        *error = "cannot make a folder for --signs in " + Quoted(temp) + ": " + std::strerror(errno);
        return false;
    }
    path_ = folder;
    for (const std::string& name : names) {
        const fs::path module = fs::path(plugin_dir) / (name + kPluginSuffix);
        if (!fs::exists(module, failure)) continue;  // the loader reports it missing
        fs::copy_file(module, fs::path(path_) / module.filename(), failure);
        if (failure) {
            *error = "cannot copy " + Quoted(module.string()) + " for --signs: " + failure.message();
            return false;
        }
    }
    std::ofstream signs(fs::path(path_) / kSignsFileName);
    signs << "; Written by hound scan --signs for this run: " << reader << " reads the file below.\n"
          << "[hound --signs]\nInclude=" << drive_form << '\n';
    signs.close();
    if (!signs) {
        *error = "cannot write the signs.ini for --signs in " + Quoted(path_);
        return false;
    }
    return true;
}
