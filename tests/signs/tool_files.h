// Files made at test time by the Debian tools that write each format, so that
// the signature library is checked against real output, not hand-made bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct ToolOutput {
    bool ok = false;
    std::string message;  // why no file came out, fit for a test failure
    std::vector<uint8_t> bytes;
};

// Runs command through the shell in folder; it must leave the file output
// there. tool is the program the command starts and package the Debian
// package that brings it, both named in the message when the tool is missing.
ToolOutput MakeWithTool(const std::string& folder, const std::string& tool,
                        const std::string& package, const std::string& command,
                        const std::string& output);
