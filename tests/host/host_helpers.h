// Running the built hound binary, and building images with probe items.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct HoundRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs hound with the arguments (each quoted for the shell); prefix is shell
// text put before the command, e.g. "ulimit -f 4;".
HoundRun RunHound(const std::vector<std::string>& args, const std::string& prefix = "");

// Runs a shell command; its exit code, and its stdout in *out when given.
int Shell(const std::string& command, std::string* out = nullptr);
std::string ShellQuote(const std::string& text);

// The bytes of a probe item (see probe_plugin.cpp) that reports size and
// extension; padded with 0x11 bytes to length bytes when length is larger
// than its header.
std::vector<uint8_t> ProbeItem(uint64_t size, const std::string& extension, size_t length = 0);

// Builds an image from filler bytes and items at chosen offsets.
class Image {
public:
    explicit Image(size_t size, uint8_t filler = 0x20) : bytes_(size, filler) {}
    // Writes bytes at offset, growing the image when needed.
    void Put(size_t offset, const std::vector<uint8_t>& bytes);
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::string Save(const std::string& path) const;

private:
    std::vector<uint8_t> bytes_;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);
std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t offset, size_t length);

// Path of a built probe module, e.g. ProbeModule("probe_alt").
std::string ProbeModule(const std::string& name);
// Makes folder and copies the named modules into it ("probe" finds
// probe.so among the probes, "markhound" among the built plug-ins).
std::string PluginFolder(const std::string& folder, const std::vector<std::string>& names);

// Copies the built default signature library (signs.ini and library/)
// into folder.
void CopySignatureLibrary(const std::string& folder);

// The regular files below root, by their paths from it, in order; the gallery page
// (index.html, gallery/) only for its unfinished files.
std::vector<std::string> FilesBelow(const std::string& root);
// Lines of text, without their line ends.
std::vector<std::string> Lines(const std::string& text);
