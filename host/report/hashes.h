// Digests of reported items (SHA-256 by default; MD5, SHA-1, SHA-512 on
// request), computed with OpenSSL's libcrypto.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/base/reader.h"

constexpr const char* kDefaultHashes = "sha256";

struct Digest {
    std::string type;  // "md5", "sha1", "sha256" or "sha512"
    std::string hex;   // lower-case hexadecimal
};

// True for a digest that HashBytes computes: md5, sha1, sha256, sha512.
bool IsHashName(const std::string& name);

// The digests of size bytes of data, one per name, in the order given. When
// stop is given and becomes non-zero, the result is empty. after_block, when
// given, is called after each block (at most 8 MiB) with the bytes hashed so
// far, so that a caller can let mapped pages go.
// The digests of bytes in parts (a fragmented file's runs); after_block,
// when given, hears each piece's bytes hashed so far after each block.
using PieceFn = std::function<void(const Piece& piece, uint64_t done)>;
std::vector<Digest> HashPieces(const std::vector<std::string>& names, const std::vector<Piece>& pieces,
                               const std::atomic<int>* stop = nullptr, const PieceFn& after_block = {});

std::vector<Digest> HashBytes(const std::vector<std::string>& names, const uint8_t* data,
                              uint64_t size, const std::atomic<int>* stop = nullptr,
                              const std::function<void(uint64_t done)>& after_block = {});
