// formathound's table of magics: the bytes that must stand at a position for
// one of its walks to start there. Header-only and plain data, so that the
// host builds its candidate gates from the same rows that Detect tests.
#pragma once
#include <cstddef>
#include <cstdint>

namespace formathound {

// The walks, one per format family (formathound/<family>.cpp).
enum class WalkId : uint8_t {
    kIsoMedia,  // ISO base media: MP4, MOV, 3GP, HEIF, AVIF, CR3
    kOgg,       // Ogg: Vorbis, Opus, Theora, Speex, FLAC
    kMatroska,  // Matroska, WebM
    kFlac,      // FLAC
    kCount,
};

// The byte at position + offset must equal value.
struct MagicTest {
    uint16_t offset;
    uint8_t value;
};

// A walk may start where all tests of one of its magics hold.
struct Magic {
    static constexpr uint32_t kMaxTests = 4;
    WalkId walk;
    uint8_t count;
    MagicTest tests[kMaxTests];
};

// A magic of up to four consecutive bytes at offset (text without its NUL).
template <size_t N>
constexpr Magic Text(WalkId walk, uint16_t offset, const char (&text)[N]) {
    static_assert(N >= 2 && N - 1 <= Magic::kMaxTests, "one to four bytes");
    Magic magic{walk, static_cast<uint8_t>(N - 1), {}};
    for (size_t i = 0; i + 1 < N; ++i) {
        magic.tests[i] = {static_cast<uint16_t>(offset + i), static_cast<uint8_t>(text[i])};
    }
    return magic;
}

// Rows in the order Detect tries them; the first walk that accepts answers.
inline constexpr Magic kMagics[] = {
    // A box type at offset 4: with ftyp, or the top-level boxes that old
    // QuickTime files and some cameras begin with.
    Text(WalkId::kIsoMedia, 4, "ftyp"),
    Text(WalkId::kIsoMedia, 4, "moov"),
    Text(WalkId::kIsoMedia, 4, "mdat"),
    Text(WalkId::kIsoMedia, 4, "wide"),
    Text(WalkId::kIsoMedia, 4, "free"),
    Text(WalkId::kIsoMedia, 4, "skip"),
    // An Ogg page of version 0 that begins a stream.
    {WalkId::kOgg, 4, {{0, 'O'}, {1, 'g'}, {4, 0}, {5, 0x02}}},
    // The EBML header's ID.
    Text(WalkId::kMatroska, 0, "\x1A\x45\xDF\xA3"),
    Text(WalkId::kFlac, 0, "fLaC"),
};

inline constexpr size_t kMagicCount = sizeof(kMagics) / sizeof(kMagics[0]);

}  // namespace formathound
