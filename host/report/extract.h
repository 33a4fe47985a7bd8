// Files written whole or not at all: data goes to a temporary file in the
// target's folder, which is renamed to the target only once complete.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/base/reader.h"

// Writes size bytes of data to path. On any failure the temporary file is
// removed, path is left as it was, and *error holds a one-line reason. When
// stop is given and becomes non-zero, the write ends the same way before its
// next block (*error then says so). after_block, when given, is called after
// each block (at most 8 MiB) with the bytes written so far.
bool WriteFileAtomically(const std::string& path, const void* data, uint64_t size,
                         std::string* error, const std::atomic<int>* stop = nullptr,
                         const std::function<void(uint64_t done)>& after_block = {});

// The same with the bytes in parts (a fragmented file's runs); after_block,
// when given, hears each piece's bytes written so far after each block.
bool WritePiecesAtomically(const std::string& path, const std::vector<Piece>& pieces, std::string* error,
                           const std::atomic<int>* stop = nullptr,
                           const std::function<void(const Piece& piece, uint64_t done)>& after_block = {});

// A report file: written like WriteFileAtomically, except that a device or
// pipe at path (such as /dev/stdout) is written in place, never replaced.
bool WriteReportFile(const std::string& path, const std::string& text, std::string* error);
// The same with the bytes written by fill into the file descriptor it is
// given; fill returns false with errno set when a write fails.
bool WriteReportWith(const std::string& path, std::string* error,
                     const std::function<bool(int fd)>& fill);
