// MPEG audio and ADTS rows: frame chains of known lengths, tags before and
// behind them, and the chains that must give no item.
#include <algorithm>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A frame of length bytes behind the header FF b1 b2 b3.
Bytes Frame(uint8_t b1, uint8_t b2, uint8_t b3, size_t length) {
    Bytes frame(length, 0);
    frame[0] = 0xFF;
    frame[1] = b1;
    frame[2] = b2;
    frame[3] = b3;
    return frame;
}

Bytes Repeat(const Bytes& part, int count) {
    Bytes out;
    for (int i = 0; i < count; ++i) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// An ADTS frame: MPEG-4 AAC LC, 44.1 kHz, two channels (channels for
// another configuration), of length bytes.
Bytes Adts(uint32_t length, uint8_t channels = 2) {
    Bytes frame = Frame(0xF1, 0x50, static_cast<uint8_t>(channels << 6 | length >> 11), length);
    frame[4] = static_cast<uint8_t>(length >> 3);
    frame[5] = static_cast<uint8_t>((length & 7) << 5 | 0x1F);
    frame[6] = 0xFC;
    return frame;
}

// An APE tag block: "APETAGEX", version 2000, size, item count, flags.
Bytes ApeBlock(uint32_t size, uint32_t items, uint32_t flags) {
    return Cat({Text("APETAGEX"), Le32(2000), Le32(size), Le32(items), Le32(flags), Bytes(8, 0)});
}

}  // namespace

std::vector<Case> MpegAudioCases() {
    // MPEG 1 layer III, 128 kbit/s, 48 kHz: 384 bytes a frame.
    const Bytes l3 = Frame(0xFB, 0x94, 0x44, 384);
    const Bytes four = Repeat(l3, 4);
    const Bytes id3v1 = Cat({Text("TAG"), Bytes(125, 0)});
    // One item "Title" = "x" of 15 bytes; the footer's size counts it and itself.
    const Bytes ape_item = Cat({Le32(1), Le32(0), Text("Title"), Bytes(1, 0), Text("x")});
    const Bytes ape = Cat({ApeBlock(47, 1, 0xA0000000), ape_item, ApeBlock(47, 1, 0x80000000)});
    // Lyrics3 v2: the size counts "LYRICSBEGIN" and the field, 11 + 13 bytes.
    const Bytes lyrics = Cat({Text("LYRICSBEGIN"), Text("LYR00005hello"), Text("000024LYRICS200")});
    // ID3v2.4 of 20 bytes with its footer.
    const Bytes size20 = {0, 0, 0, 20};
    const Bytes id3v2 = Cat({Text("ID3"), {4, 0, 0x10}, size20, Bytes(20, 0), Text("3DI"), {4, 0, 0x10}, size20});
    // A first frame with an Info header: frames behind it, bytes in all.
    const auto info = [&l3](uint32_t frames, uint32_t bytes) {
        Bytes frame = l3;
        const Bytes counts = Cat({Text("Info"), Be32(3), Be32(frames), Be32(bytes)});
        std::copy(counts.begin(), counts.end(), frame.begin() + 36);
        return frame;
    };
    const Bytes after = Text("after the audio");
    return {
        {"MPEG 1 layer III frames", Cat({four, after}), 4 * 384, "mp3"},
        {"three frames are too few", Cat({Repeat(l3, 3), after}), 0, ""},
        // 128 kbit/s at 44.1 kHz: 417 bytes, 418 with padding.
        {"padded frames", Cat({Repeat(Cat({Frame(0xFB, 0x90, 0x44, 417), Frame(0xFB, 0x92, 0x44, 418)}), 2), after}),
         2 * (417 + 418), "mp3"},
        // Layer II, 192 kbit/s at 48 kHz: 576 bytes.
        {"MPEG 1 layer II", Repeat(Frame(0xFD, 0xA4, 0x44, 576), 4), 4 * 576, "mp2"},
        // Layer I, 384 kbit/s at 48 kHz: 96 slots of 4 bytes.
        {"MPEG 1 layer I", Repeat(Frame(0xFF, 0xC4, 0x44, 384), 4), 4 * 384, "mp1"},
        // MPEG 2.5 layer III, 8 kbit/s at 8 kHz, mono: 72 bytes.
        {"MPEG 2.5 layer III", Cat({Repeat(Frame(0xE3, 0x18, 0xC4, 72), 5), after}), 5 * 72, "mp3"},
        // MPEG 2.5 has no layer II: 144-byte frames that would be one.
        {"MPEG 2.5 layer II", Repeat(Frame(0xE5, 0x18, 0xC4, 144), 5), 0, ""},
        {"second header of another sampling rate", Cat({l3, Frame(0xFB, 0x90, 0x44, 417), Repeat(l3, 3)}), 0, ""},
        {"last frame cut short", Cat({four, Bytes(l3.begin(), l3.begin() + 300)}), 4 * 384, "mp3"},
        {"ID3v2 with footer, two frames", Cat({id3v2, l3, l3, after}), 40 + 2 * 384, "mp3"},
        {"ID3v2 footer missing", Cat({Bytes(id3v2.begin(), id3v2.end() - 10), Repeat(l3, 2)}), 0, ""},
        {"APE tag with header, ID3v1", Cat({four, ape, id3v1, after}), 4 * 384 + 79 + 128, "mp3"},
        {"APE tag without header", Cat({four, ape_item, ApeBlock(47, 1, 0), after}), 4 * 384 + 47, "mp3"},
        {"APE footer of another count", Cat({four, ape_item, ApeBlock(47, 2, 0)}), 4 * 384, "mp3"},
        {"Lyrics3 v2, ID3v1", Cat({four, lyrics, id3v1}), 4 * 384 + 39 + 128, "mp3"},
        {"Lyrics3 without ID3v1", Cat({four, lyrics, after}), 4 * 384, "mp3"},
        {"Info counts end the stream", Cat({info(2, 3 * 384), Repeat(l3, 4)}), 3 * 384, "mp3"},
        {"Info counts confirm two frames", Cat({info(1, 2 * 384), l3, after}), 2 * 384, "mp3"},
        {"Info counts not met", Cat({info(2, 3 * 384), l3, after}), 0, ""},
        {"ADTS", Cat({Repeat(Adts(100), 4), Adts(90), id3v1}), 4 * 100 + 90 + 128, "aac"},
        {"ID3v2 then ADTS", Cat({id3v2, Adts(100), Adts(100), Adts(7)}), 40 + 2 * 100, "aac"},
        {"ADTS channels change", Cat({Adts(100), Adts(100, 1), Repeat(Adts(100), 3)}), 0, ""},
    };
}

}  // namespace formathound_test
