// TIFF and TIFF-based camera raw rows: both byte orders, the highest byte in
// an EXIF IFD, raws named by header, DNGVersion and Make, an EXIF block
// without an image, and offsets that run past the data or loop.
#include <algorithm>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

struct Entry {
    uint32_t tag, type, count;
    uint32_t value;  // one SHORT or LONG, or the offset of the values
};

// A classic TIFF built block by block, every offset from its header.
struct Tiff {
    bool big;
    Bytes bytes;

    Tiff(bool big_endian, uint32_t magic) : big(big_endian), bytes(Cat({Text(big ? "MM" : "II"), U16(magic), U32(0)})) {}
    Bytes U16(uint32_t v) const { return big ? Be16(v) : Le16(v); }
    Bytes U32(uint32_t v) const { return big ? Be32(v) : Le32(v); }
    uint32_t Add(const Bytes& data) {
        const auto at = static_cast<uint32_t>(bytes.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        return at;
    }
    void Set(uint32_t at, uint32_t v) {
        const Bytes field = U32(v);
        std::copy(field.begin(), field.end(), bytes.begin() + at);
    }
    uint32_t Ifd(const std::vector<Entry>& entries, uint32_t next = 0) {
        Bytes ifd = U16(static_cast<uint32_t>(entries.size()));
        for (const Entry& e : entries) {
            const Bytes value = e.type == 3 && e.count == 1 ? Cat({U16(e.value), U16(0)}) : U32(e.value);
            ifd = Cat({ifd, U16(e.tag), U16(e.type), U32(e.count), value});
        }
        return Add(Cat({ifd, U32(next)}));
    }
    // An IFD of an image of 4 by 2 pixels in one strip, with more entries.
    uint32_t Image(std::vector<Entry> more = {}, uint32_t next = 0) {
        const uint32_t strip = Add(Bytes(8, 0x77));
        more.insert(more.begin(), {{256, 3, 1, 4}, {257, 3, 1, 2}, {273, 4, 1, strip}, {279, 4, 1, 8}});
        return Ifd(more, next);
    }
};

Bytes Simple(bool big_endian, uint32_t magic = 42, std::vector<Entry> more = {}) {
    Tiff tiff(big_endian, magic);
    tiff.Set(4, tiff.Image(more));
    return tiff.bytes;
}

// An IFD0 thumbnail by make, and a SubIFD image: of the sensor's colour
// filter array or not.
Bytes Camera(const std::string& make, bool sensor = true) {
    Tiff tiff(false, 42);
    const uint32_t name = tiff.Add(Cat({Text(make), Bytes(8 - make.size() % 8, 0)}));
    const uint32_t sub = tiff.Image({{262, 3, 1, sensor ? 32803u : 2u}});
    tiff.Set(4, tiff.Image({{271, 2, static_cast<uint32_t>(make.size() + 1), name}, {330, 4, 1, sub}}));
    return tiff.bytes;
}

}  // namespace

std::vector<Case> TiffCases() {
    const Bytes le = Simple(false), be = Simple(true), nef = Camera("NIKON CORPORATION");
    const Bytes arw = Camera("SONY"), pef = Camera("PENTAX Corporation"), nikon = Camera("NIKON", false);
    // The EXIF IFD's maker note is the highest byte.
    Tiff exif(true, 42);
    const uint32_t exif_ifd = exif.Ifd({{37500, 7, 40, 0}});
    exif.Set(exif_ifd + 2 + 8, exif.Add(Bytes(40, 0x4E)));
    exif.Set(4, exif.Image({{34665, 4, 1, exif_ifd}}));
    // A JPEG file's EXIF block: IFD0 with no image, IFD1 with a thumbnail.
    Tiff jpeg_exif(false, 42);
    const uint32_t thumbnail = jpeg_exif.Add({0xFF, 0xD8, 0xFF, 0xD9});
    const uint32_t ifd1 = jpeg_exif.Ifd({{513, 4, 1, thumbnail}, {514, 4, 1, 4}});
    jpeg_exif.Set(4, jpeg_exif.Ifd({{274, 3, 1, 1}}, ifd1));
    Tiff cr2(false, 42);
    cr2.Add(Cat({Text("CR"), {2, 0}, Le32(0)}));
    cr2.Set(4, cr2.Image());
    // Panasonic's sizes, and raw data of no told length behind the IFD.
    Tiff rw2(false, 0x55);
    rw2.Set(4, rw2.Ifd({{2, 3, 1, 4}, {3, 3, 1, 2}, {273, 4, 1, 8 + 42}}));
    rw2.Add(Bytes(16, 0x33));
    Tiff looped(false, 42);
    looped.Set(4, looped.Image({}, 8 + 8));  // its next IFD is itself
    Tiff strip_past(false, 42);
    strip_past.Set(4, strip_past.Ifd({{256, 3, 1, 4}, {257, 3, 1, 2}, {273, 4, 1, 60}, {279, 4, 1, 8}}));
    Bytes ifd_past = le;
    ifd_past[4] = 0xF0;
    return {
        {"TIFF little-endian", Cat({le, Text("after")}), le.size(), "tif"},
        {"TIFF big-endian", Cat({be, Text("after")}), be.size(), "tif"},
        {"TIFF ends with its EXIF maker note", Cat({exif.bytes, Text("after")}), exif.bytes.size(), "tif"},
        {"EXIF block without an image", jpeg_exif.bytes, 0, ""},
        {"CR2 header", cr2.bytes, cr2.bytes.size(), "cr2"},
        {"DNGVersion", Simple(false, 42, {{50706, 1, 4, 0x00000401}}), le.size() + 12, "dng"},
        {"ORF header", Simple(false, 0x4F52), le.size(), "orf"},
        {"RW2 header, raw data start alone", rw2.bytes, 8 + 42, "rw2"},
        {"NEF: Nikon with CFA in a SubIFD", Cat({nef, Text("after")}), nef.size(), "nef"},
        {"ARW: Sony with CFA", arw, arw.size(), "arw"},
        {"PEF: Pentax with CFA", pef, pef.size(), "pef"},
        {"Nikon without sensor data", nikon, nikon.size(), "tif"},
        {"TIFF cut short", Bytes(le.begin(), le.end() - 1), 0, ""},
        {"IFD offset past the end", ifd_past, 0, ""},
        {"IFD chain loop", looped.bytes, 0, ""},
        {"strip past the end", strip_past.bytes, 0, ""},
        {"LONG8 in classic TIFF", Simple(false, 42, {{270, 16, 1, 8}}), 0, ""},  // 8 bytes at 8 would fit
        {"field type 14", Simple(true, 42, {{270, 14, 1, 0}}), 0, ""},
    };
}

}  // namespace formathound_test
