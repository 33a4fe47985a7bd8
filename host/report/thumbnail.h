// Small pictures of extracted pictures, for the gallery page of an --out
// folder: the item's bytes decoded by the format's own library (at a
// reduced scale where the decoder can), shrunk to fit a square and written
// as a JPEG. Bounded in pixels and memory whatever the header claims.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The longest side of a thumbnail, in pixels.
constexpr int kThumbnailSide = 160;

// True when the extension names a picture that thumbnails are made of.
bool HasThumbnail(const std::string& extension);

// The JPEG thumbnail of the picture in data[0, size), whose kind the
// extension names; false when it cannot be decoded or is over the limits.
bool MakeThumbnail(const uint8_t* data, uint64_t size, const std::string& extension, std::vector<uint8_t>* jpeg);
