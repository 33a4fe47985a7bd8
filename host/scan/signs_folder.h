// hound scan --signs FILE: a private folder in which markhound reads FILE.
//
// markhound reads the signs.ini beside its module, and finds its module by
// the resolved path of its dlopen handle, so a symbolic link to the module
// would lead it back to its own folder. The folder therefore holds copies of
// the plug-in modules and a signs.ini whose one section includes FILE by its
// absolute path: FILE's own includes are then looked for relative to FILE's
// folder, as when FILE is read in place.
#pragma once
#include <string>
#include <vector>

class SignsFolder {
public:
    SignsFolder() = default;
    ~SignsFolder();  // removes the folder
    SignsFolder(const SignsFolder&) = delete;
    SignsFolder& operator=(const SignsFolder&) = delete;

    // Makes the folder with the modules of names found in plugin_dir. False
    // with one line in *error.
    // reader: the plug-in that reads signature files, for the texts.
    bool Prepare(const std::string& signs_file, const std::string& reader, const std::string& plugin_dir,
                 const std::vector<std::string>& names, std::string* error);
    const std::string& path() const { return path_; }

private:
    std::string path_;  // empty until prepared
};
