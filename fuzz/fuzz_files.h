// Files for the fuzz targets that read signature files: one temporary folder
// per process, removed at exit, and the Windows form of paths below it.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// The process's own folder below the system's temporary folder. Held by a
// pointer that is never freed, so that it outlives the exit handler that
// removes the folder.
inline const std::string& FuzzFolder() {
    static const std::string* const folder = [] {
        auto* path = new std::string(
            (std::filesystem::temp_directory_path() / "hound-fuzz-XXXXXX").string());
        if (mkdtemp(path->data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(FuzzFolder(), ignored);
        });
        return path;
    }();
    return *folder;
}

// Native path of relative (with / separators) below the folder.
inline std::string FuzzNative(const std::string& relative) { return FuzzFolder() + "/" + relative; }

// The drive form markhound uses on POSIX: Z: and backslashes.
inline std::string FuzzWindows(const std::string& relative) {
    std::string path = "Z:" + FuzzNative(relative);
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// Writes bytes to the file, creating its folder; aborts when it cannot.
inline void FuzzWrite(const std::string& relative, const void* data, size_t size) {
    const std::filesystem::path file = FuzzNative(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        std::abort();
    }
}

inline void FuzzRemove(const std::string& relative) { unlink(FuzzNative(relative).c_str()); }
