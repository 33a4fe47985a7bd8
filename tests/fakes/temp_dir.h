// A fresh temporary folder for tests that write files, removed with all it
// holds at destruction; paths handed to markhound are in Windows form.
#pragma once
#include <string>

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Native path of the folder.
    const std::string& path() const { return path_; }
    // Writes content to a file below the folder, creating subfolders;
    // relative may use / as separator. Gives the native path.
    std::string Write(const std::string& relative, const std::string& content) const;
    // Native path of a file below the folder.
    std::string Native(const std::string& relative) const;
    // The Windows-form path markhound uses for a file below the folder
    // (Z:\... on POSIX, as Wine presents it).
    std::string Windows(const std::string& relative) const;

private:
    std::string path_;
};

// The Windows form of a native absolute path.
std::string WindowsPath(const std::string& native);
