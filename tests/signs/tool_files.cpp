// Runs the format tools for the signature library tests.
#include "tests/signs/tool_files.h"

#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace

ToolOutput MakeWithTool(const std::string& folder, const std::string& tool,
                        const std::string& package, const std::string& command,
                        const std::string& output) {
    ToolOutput result;
    const std::string install_hint =
        " (Debian package '" + package + "'; scripts/setup.sh installs it)";
    if (Run("command -v " + Quoted(tool) + " >/dev/null 2>&1") != 0) {
        result.message = "the tool '" + tool + "' is not installed" + install_hint;
        return result;
    }
    const std::string log = folder + "/tool.log";
    const int code = Run("cd " + Quoted(folder) + " && (" + command + ") >" + Quoted(log) + " 2>&1");
    std::vector<uint8_t> log_bytes;
    ReadWhole(log, log_bytes);
    const std::string said(log_bytes.begin(), log_bytes.end());
    if (code != 0) {
        std::ostringstream text;
        text << "'" << command << "' failed with exit code " << code << install_hint << ": " << said;
        result.message = text.str();
        return result;
    }
    if (!ReadWhole(folder + "/" + output, result.bytes) || result.bytes.empty()) {
        result.message = "'" + command + "' made no file " + output + install_hint + ": " + said;
        return result;
    }
    result.ok = true;
    return result;
}
