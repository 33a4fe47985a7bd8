// A temporary folder for profile files, removed with its contents at the
// end; paths are handed to the platform layer in drive form (Z:\...).
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "markhound/platform/posix_paths.h"

class ProfileFolder {
public:
    ProfileFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "profile-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) native_ = pattern;
        EXPECT_FALSE(native_.empty()) << "no temporary folder";
    }
    ~ProfileFolder() {
        std::error_code ignored;
        if (!native_.empty()) std::filesystem::remove_all(native_, ignored);
    }
    ProfileFolder(const ProfileFolder&) = delete;
    ProfileFolder& operator=(const ProfileFolder&) = delete;

    std::string Native(const std::string& name) const { return native_ + "/" + name; }

    std::string DriveForm(const std::string& name) const {
        char path[4096];
        EXPECT_TRUE(DriveFormFromNative(Native(name).c_str(), path, sizeof path));
        return path;
    }

    // Writes the bytes in place (the file keeps its inode); gives the drive-form path.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::ofstream out(Native(name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << name;
        return DriveForm(name);
    }

private:
    std::string native_;
};
