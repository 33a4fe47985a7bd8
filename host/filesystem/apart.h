// The file systems read in a process of their own. The Sleuth Kit parses
// metadata that damaged or hostile media controls; in a child process with
// bounded time and memory, a crash, an endless loop or a runaway allocation
// there costs only the names: the volume is then carved whole.
#pragma once
#include <string>

#include "host/filesystem/file_system.h"

// The hidden command that runs the child: "hound __list-file-systems INPUT [--raw]".
constexpr const char* kListFileSystemsCommand = "__list-file-systems";

// In the child: opens input as a scan would and writes its file systems
// (FileSystems::Save) to the standard output. Returns the exit code.
int ListFileSystems(const std::string& input, bool raw);

// In the scan: reads the file systems on data, the media of input, in a
// child process and takes its listing into *fs. A mapped file is read by a
// copy of this process; other media (read through a pager thread, which a
// copy would not have) by exe's hidden command, which opens input again.
// False when there is none; *problem is then empty where the input holds no
// file system, else why it could not be read ("its reader ended on signal
// 11", "... took longer than 600 s").
bool ReadFileSystemsApart(const std::string& exe, const std::string& input, bool raw, const MappedData& data,
                          FileSystems* fs, std::string* problem);
