// The marker walk: what it accepts, where the image ends, and at which byte
// each rejection happens.
#include <gtest/gtest.h>

#include <string>

#include "photohound/walk.h"
#include "tests/photohound/detect_run.h"

namespace {

constexpr uint64_t kBase = 1000;

// data is served at kBase; the walk must read exactly its first `reads`
// bytes. An accepted row's image is those bytes.
struct WalkRow {
    std::string label;
    Bytes data;
    uint32_t answer;
    size_t reads;
};

WalkRow Accept(std::string label, const Bytes& image) {
    // Bytes behind the image that would change the outcome if they were read.
    const Bytes after = {0xFF, 0xD9, 0xFF, 0xC4, 0x00, 0x00};
    return {std::move(label), Cat({image, after}), 1, image.size()};
}

WalkRow Reject(std::string label, const Bytes& read, const Bytes& unread) {
    return {std::move(label), Cat({read, unread}), 0, read.size()};
}

Bytes Take(const Bytes& bytes, size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }
Bytes Drop(const Bytes& bytes, size_t count) { return Bytes(bytes.begin() + count, bytes.end()); }

// What follows the part a row tests: a frame, a scan and its data, EOI.
Bytes Tail() { return Cat({Sof0(), Sos(), EntropyData(), Eoi()}); }

// A frame header whose P of 1 fails: shows that the search saw it.
Bytes BadFrame() { return FrameHeader(kSOF0, 11, 1, 1, 1, 1); }

void CheckRows(const std::vector<WalkRow>& rows) {
    for (const WalkRow& row : rows) {
        SCOPED_TRACE(row.label);
        const DetectRun run = RunDetect(row.data, kBase, kBase);
        EXPECT_EQ(run.answer, row.answer);
        EXPECT_EQ(run.reads, Positions(kBase, row.reads));
        if (row.answer == 1) {
            EXPECT_EQ(run.item.offset, kBase);
            EXPECT_EQ(run.item.size, row.reads);
        } else {
            EXPECT_TRUE(SameItem(run.item, PoisonedItem()));
        }
    }
}

std::string Hex(uint8_t code) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[code >> 4], digits[code & 15]};
}

TEST(BaselineWalk, SpanEndsWithTheEoiMarker) {
    CheckRows({
        Accept("baseline", BaselineImage()),
        Accept("three components", Cat({Soi(), Sof0(3), Sos(3), EntropyData(), Eoi()})),
        Accept("fill bytes and stray bytes between segments",
               Cat({Soi(), {0x00, 0x12, 0xFF, 0x00, 0x34, 0xFF, 0xFF}, Sof0(),
                    {0xFF, 0xFF, 0xFF}, Sos(), EntropyData(), Eoi()})),
        Accept("SOI again as the first marker", Cat({Soi(), Soi(), Sos(), EntropyData(), Eoi()})),
    });
}

TEST(BaselineWalk, NoScanEndsAtTheMarkerThatEndedTheSearch) {
    CheckRows({
        Accept("SOF0 then EOI", Cat({Soi(), Sof0(), Eoi()})),
        {"second SOF0 is not tested", Cat({Soi(), Sof0(), FrameHeader(kSOF0, 0, 0, 0, 0, 0)}), 1,
         2 + 13 + 2},
        Accept("SOF2 after SOF0", Cat({Soi(), Sof0(), Marker(kSOF2)})),
        Accept("SOI followed by EOI, then a stray EOI",
               Cat({Soi(), Eoi(), {0x00, 0x11}, Eoi()})),
        Accept("SOI followed by EOI, then SOF0", Cat({Soi(), Eoi(), Marker(kSOF0)})),
        Reject("first of two SOF0s is tested", Cat({Soi(), Take(BadFrame(), 10)}),
               Cat({Drop(BadFrame(), 10), Sof0(), Eoi()})),
    });
}

TEST(BaselineWalk, SoiFollowedByEoiStillFollowsAScan) {
    CheckRows({
        Accept("scan after EOI", Cat({Soi(), Eoi(), Sos(), EntropyData(), Eoi()})),
        Reject("restart marker in that scan", Cat({Soi(), Eoi(), Sos(), {0x12, 0xFF, kRST0}}),
               Eoi()),
    });
}

TEST(EntropyCodedData, OnlyStuffedZerosAndEoiPass) {
    const Bytes head = Cat({Soi(), Sof0(), Sos(), {0x12, 0xFF, 0x00}});
    std::vector<WalkRow> rows = {Accept("FF 00 then EOI", Cat({head, Eoi()}))};
    for (uint8_t code : {kRST0, kRST1, kRST2, kRST3, kRST4, kRST5, kRST6, kRST7, kMarkerPrefix,
                         kDHT, kSOS, kSOI, kTEM, kDQT, kDRI, kCOM, kAPP0, kSOF0}) {
        rows.push_back(Reject("FF " + Hex(code), Cat({head, {0x34, 0xFF, code}}), Eoi()));
    }
    CheckRows(rows);
}

TEST(EntropyCodedData, RestartIntervalImageIsRejectedAtTheFirstRst) {
    const Bytes head = Cat({Soi(), Segment(kDRI, Word(1)), Sof0(), Sos()});
    CheckRows({
        Reject("DRI and RST0", Cat({head, {0x12, 0x34, 0xFF, kRST0}}),
               Cat({{0x56, 0xFF, kRST1, 0x78}, Eoi()})),
        Accept("DRI without RST in the data", Cat({head, EntropyData(), Eoi()})),
    });
}

TEST(EntropyCodedData, ProgressiveImageIsRejectedAtTheNextScan) {
    const Bytes frame = FrameHeader(kSOF2, 11, 8, 16, 16, 1);
    const Bytes head = Cat({Soi(), frame, Segment(kDHT, HuffmanTable(0x00, CodeCounts(4))),
                            ScanHeader(8, 1), EntropyData()});
    const Bytes next_scan = Cat({Drop(Segment(kDHT, HuffmanTable(0x10, CodeCounts(4))), 2),
                                 Sos(), EntropyData(), Eoi()});
    CheckRows({
        Reject("next DHT", Cat({head, Marker(kDHT)}), next_scan),
        Reject("next SOS", Cat({head, Marker(kSOS)}), Drop(Sos(), 2)),
    });
}

TEST(EntropyCodedData, UntestedFrameMarkersPassWithAnyHeader) {
    std::vector<WalkRow> rows;
    for (uint8_t code : {kSOF2, kSOF5, kSOF6, kSOF7, kJPG, kSOF9, kSOF10, kSOF11, kSOF13,
                         kSOF14, kSOF15}) {
        rows.push_back(Accept("zero length after " + Hex(code),
                              Cat({Soi(), Marker(code), Word(0), Sos(), EntropyData(), Eoi()})));
        rows.push_back(Accept("P 0, Y 0 after " + Hex(code),
                              Cat({Soi(), FrameHeader(code, 5, 0, 0, 0, 0), Sos(),
                                   EntropyData(), Eoi()})));
    }
    CheckRows(rows);
}

TEST(HuffmanTables, CountsThDestinationsAndLengths) {
    const Bytes table5 = HuffmanTable(0x00, CodeCounts(5));
    const Bytes counts257 = Cat({Marker(kDHT), Word(2 + 17 + 257), {0x00}, CodeCounts(257)});
    const Bytes short_by_3 = Cat({Soi(), SegmentWithLength(kDHT, 2 + 22 + 3, table5), Tail()});
    CheckRows({
        Accept("256 symbols", Cat({Soi(), Segment(kDHT, HuffmanTable(0x00, CodeCounts(256))),
                                   Tail()})),
        Reject("257 symbols: fails before the symbols", Cat({Soi(), counts257}),
               Cat({Bytes(257, 0x01), Tail()})),
        Accept("Th 3", Cat({Soi(), Segment(kDHT, HuffmanTable(0x03, CodeCounts(5))), Tail()})),
        Reject("Th 4: fails after the symbols",
               Cat({Soi(), Segment(kDHT, HuffmanTable(0x04, CodeCounts(5)))}), Tail()),
        Reject("Th 15", Cat({Soi(), Segment(kDHT, HuffmanTable(0x1F, CodeCounts(0)))}), Tail()),
        Accept("Tc 1", Cat({Soi(), Segment(kDHT, HuffmanTable(0x11, CodeCounts(5))), Tail()})),
        Accept("Tc 15", Cat({Soi(), Segment(kDHT, HuffmanTable(0xF2, CodeCounts(5))), Tail()})),
        Accept("Lh 2 holds no table", Cat({Soi(), Segment(kDHT, {}), Tail()})),
        Accept("two tables", Cat({Soi(), Segment(kDHT, Cat({table5, HuffmanTable(
                                                                        0x11, CodeCounts(200))})),
                                  Tail()})),
        Reject("second of two tables has Th 4",
               Cat({Soi(), Segment(kDHT, Cat({table5, HuffmanTable(0x14, CodeCounts(2))}))}),
               Tail()),
        Reject("table runs one byte past Lh",
               Cat({Soi(), SegmentWithLength(kDHT, 2 + 22 - 1, table5)}), Tail()),
        Reject("Lh 0", Cat({Soi(), SegmentWithLength(kDHT, 0, table5)}), Tail()),
        Reject("Lh 1", Cat({Soi(), SegmentWithLength(kDHT, 1, table5)}), Tail()),
        // Three bytes left after the first table: the next table is read from
        // the frame header and its counts add up to more than 256.
        Reject("Lh 3 bytes longer than the table", Take(short_by_3, 2 + 26 + 17),
               Drop(short_by_3, 2 + 26 + 17)),
    });
}

TEST(HuffmanTables, FfC4AmongQuantisationValuesIsTakenForDht) {
    // DQT is searched, not skipped: FF C4 00 13 among its values starts a
    // DHT segment whose table has Th 5.
    Bytes values(65, 0x10);
    values[0] = 0x00;
    const Bytes plain = Cat({Soi(), Segment(kDQT, values), Tail()});
    const Bytes dht = {0xFF, kDHT, 0x00, 0x13, 0x05};
    std::copy(dht.begin(), dht.end(), values.begin() + 11);
    std::fill(values.begin() + 16, values.begin() + 32, 0x01);
    const Bytes with_dht = Cat({Soi(), Segment(kDQT, values), Tail()});
    const size_t fail_at = 2 + 4 + 11 + 5 + 16 + 16;  // through the 16 symbols
    CheckRows({
        Accept("plain DQT", plain),
        Reject("FF C4 inside DQT", Take(with_dht, fail_at), Drop(with_dht, fail_at)),
    });
}

TEST(RestartInterval, LengthMustBeFour) {
    CheckRows({
        Accept("length 4", Cat({Soi(), Segment(kDRI, Word(16)), Tail()})),
        Reject("length 3", Cat({Soi(), Marker(kDRI), Word(3)}), Cat({Word(16), Tail()})),
        Reject("length 5", Cat({Soi(), Marker(kDRI), Word(5)}), Cat({Word(16), {0}, Tail()})),
        Reject("length 0", Cat({Soi(), Marker(kDRI), Word(0)}), Tail()),
    });
}

TEST(SkippedSegments, ShortLengthsSkipNothingMore) {
    std::vector<WalkRow> rows;
    for (uint8_t code : {uint8_t{0x02}, uint8_t{0x10}, uint8_t{0xBF}, kDAC, kDNL, kDHP, kEXP,
                         kAPP0, uint8_t{0xE1}, kAPP15, kJPG0, kJPG13, kCOM}) {
        for (uint16_t length : {0, 1, 2}) {
            // The bad frame right behind the length is found and tested.
            rows.push_back(Reject(Hex(code) + " length " + std::to_string(length),
                                  Cat({Soi(), Marker(code), Word(length), Take(BadFrame(), 10)}),
                                  Cat({Drop(BadFrame(), 10), Tail()})));
        }
        // Markers inside a segment's declared length are not looked at.
        rows.push_back(Accept(Hex(code) + " hides markers",
                              Cat({Soi(), Segment(code, Cat({BadFrame(), Eoi(), Marker(kSOS)})),
                                   Tail()})));
    }
    rows.push_back(Accept("long APP1", Cat({Soi(), Segment(0xE1, Bytes(5000, 0xFF)), Tail()})));
    CheckRows(rows);
}

TEST(SkippedSegments, IgnoredMarkersLeaveTheirBytesToTheSearch) {
    std::vector<WalkRow> rows;
    for (uint8_t code : {kTEM, kRST0, kRST3, kRST7, kDQT}) {
        rows.push_back(Reject(Hex(code), Cat({Soi(), Marker(code), Take(BadFrame(), 10)}),
                              Cat({Drop(BadFrame(), 10), Tail()})));
        rows.push_back(Accept(Hex(code) + " before a good frame",
                              Cat({Soi(), Marker(code), Word(4), Tail()})));
    }
    CheckRows(rows);
}

TEST(FrameHeader, PrecisionSizeAndLength) {
    struct Case {
        const char* label;
        uint8_t code;
        uint16_t lf;
        uint8_t p;
        uint16_t y, x;
        uint8_t nf;
        bool passes;
    };
    const Case cases[] = {
        {"P 2", kSOF0, 11, 2, 1, 1, 1, true},
        {"P 8", kSOF0, 11, 8, 1, 1, 1, true},
        {"P 12", kSOF0, 11, 12, 1, 1, 1, true},
        {"P 16", kSOF0, 11, 16, 1, 1, 1, true},
        {"P 1", kSOF0, 11, 1, 1, 1, 1, false},
        {"P 17", kSOF0, 11, 17, 1, 1, 1, false},
        {"P 0", kSOF0, 11, 0, 1, 1, 1, false},
        {"Y 0", kSOF0, 11, 8, 0, 1, 1, false},
        {"X 0", kSOF0, 11, 8, 1, 0, 1, false},
        {"Nf 0", kSOF0, 8, 8, 1, 1, 0, false},
        {"Lf 11 Nf 1", kSOF0, 11, 8, 1, 1, 1, true},
        {"Lf 12 Nf 1", kSOF0, 12, 8, 1, 1, 1, false},
        {"Lf 10 Nf 1", kSOF0, 10, 8, 1, 1, 1, false},
        {"Lf 17 Nf 3", kSOF0, 17, 8, 1, 1, 3, true},
        {"Lf 608 Nf 200", kSOF0, 608, 8, 1, 1, 200, true},
        {"Y and X 65535", kSOF0, 11, 8, 65535, 65535, 1, true},
        {"SOF1 P 12", kSOF1, 11, 12, 1, 1, 1, true},
        {"SOF1 P 1", kSOF1, 11, 1, 1, 1, 1, false},
        {"SOF3 P 16", kSOF3, 11, 16, 1, 1, 1, true},
        {"SOF3 Lf 12", kSOF3, 12, 8, 1, 1, 1, false},
    };
    std::vector<WalkRow> rows;
    for (const Case& c : cases) {
        const Bytes frame = FrameHeader(c.code, c.lf, c.p, c.y, c.x, c.nf);
        const Bytes rest = Cat({Sos(), EntropyData(), Eoi()});
        rows.push_back(c.passes ? Accept(c.label, Cat({Soi(), frame, rest}))
                                : Reject(c.label, Cat({Soi(), Take(frame, 10)}),
                                         Cat({Drop(frame, 10), rest})));
    }
    CheckRows(rows);
}

TEST(ScanHeader, ComponentCountAndLength) {
    struct Case {
        const char* label;
        uint16_t ls;
        uint8_t ns;
        bool passes;
    };
    const Case cases[] = {
        {"Ns 1 Ls 8", 8, 1, true},   {"Ns 4 Ls 14", 14, 4, true},  {"Ns 5 Ls 16", 16, 5, false},
        {"Ns 0 Ls 6", 6, 0, false},  {"Ns 1 Ls 9", 9, 1, false},   {"Ns 2 Ls 8", 8, 2, false},
    };
    std::vector<WalkRow> rows;
    const Bytes head = Cat({Soi(), Sof0()});
    for (const Case& c : cases) {
        const Bytes scan = ScanHeader(c.ls, c.ns);
        const Bytes rest = Cat({EntropyData(), Eoi()});
        rows.push_back(c.passes ? Accept(c.label, Cat({head, scan, rest}))
                                : Reject(c.label, Cat({head, Take(scan, 5)}),
                                         Cat({Drop(scan, 5), rest})));
    }
    // Selectors and Ss, Se, Ah/Al are read but not tested.
    rows.push_back(Accept("any selectors", Cat({head, Marker(kSOS), Word(10),
                                                {2, 0xFF, 0xFF, 0xFF, 0xD9, 0xFF, 0xFF, 0xFF},
                                                EntropyData(), Eoi()})));
    CheckRows(rows);
}

}  // namespace
