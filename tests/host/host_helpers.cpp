// Running the built hound binary, and building images with probe items.
#include "tests/host/host_helpers.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/module/module_helpers.h"

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int Shell(const std::string& command, std::string* out) {
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("popen failed: " + command);
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    const int status = pclose(pipe);
    if (out != nullptr) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

static std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

HoundRun RunHound(const std::vector<std::string>& args, const std::string& prefix) {
    TempDir capture;
    const std::string out = capture.path() + "/out", err = capture.path() + "/err";
    std::string command = prefix + " " + ShellQuote(HOUND_BINARY);
    for (const std::string& arg : args) command += " " + ShellQuote(arg);
    command += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    HoundRun run;
    run.exit_code = Shell(command);
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

std::vector<uint8_t> ProbeItem(uint64_t size, const std::string& extension, size_t length) {
    if (extension.size() >= 32) throw std::invalid_argument("probe extensions are < 32 bytes");
    std::vector<uint8_t> bytes = {'P', 'R', 'B', '!'};
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(size >> (8 * i)));
    bytes.push_back(static_cast<uint8_t>(extension.size()));
    bytes.insert(bytes.end(), extension.begin(), extension.end());
    if (length > bytes.size()) bytes.resize(length, 0x11);
    return bytes;
}

void Image::Put(size_t offset, const std::vector<uint8_t>& bytes) {
    if (offset + bytes.size() > bytes_.size()) bytes_.resize(offset + bytes.size());
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

std::string Image::Save(const std::string& path) const {
    WriteBytes(path, bytes_);
    return path;
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length) {
    const size_t end = std::min(bytes.size(), offset + length);
    return std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

std::string ProbeModule(const std::string& name) {
    return (fs::path(HOUND_PROBE_DIR) / (name + ".so")).string();
}

std::string PluginFolder(const std::string& folder, const std::vector<std::string>& names) {
    fs::create_directories(folder);
    for (const std::string& name : names) {
        const std::string built = BuiltPlugin(name + ".so");
        CopyFile(fs::exists(built) ? built : ProbeModule(name), folder + "/" + name + ".so");
    }
    return folder;
}

void CopySignatureLibrary(const std::string& folder) {
    CopyFile(BuiltPlugin("signs.ini"), folder + "/signs.ini");
    const fs::path library = BuiltPlugin("library");
    for (const auto& entry : fs::directory_iterator(library)) {
        CopyFile(entry.path().string(), folder + "/library/" + entry.path().filename().string());
    }
}

std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), root).string();
        // The gallery page and its files are tested on their own; an
        // unfinished file of theirs is still listed.
        const std::string path = "/" + name;
        const bool gallery = entry.path().filename() == "index.html" || path.find("/gallery/") != std::string::npos;
        if (!gallery || name.find(".part-") != std::string::npos) files.push_back(name);
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}
