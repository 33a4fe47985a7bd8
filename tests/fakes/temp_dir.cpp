// Temporary folders for tests.
#include "tests/fakes/temp_dir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path candidate = fs::temp_directory_path() /
                             ("hound-test-" + std::to_string(stamp) + "-" +
                              std::to_string(counter++));
        if (fs::create_directory(candidate)) {
            path_ = candidate.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::Native(const std::string& relative) const {
    return (fs::path(path_) / fs::path(relative).make_preferred()).string();
}

std::string TempDir::Write(const std::string& relative, const std::string& content) const {
    fs::path file = Native(relative);
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return file.string();
}

std::string TempDir::Windows(const std::string& relative) const { return WindowsPath(Native(relative)); }

std::string WindowsPath(const std::string& native) {
    std::string path = native;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
#ifndef _WIN32
    path = "Z:" + path;
#endif
    return path;
}
