// The strict syntax walk: one row per header rule, each saying why a stream
// is rejected, and what the walk asks of the reader.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/jpeghound/strict_run.h"

namespace {

using jpeghound::JpegReject;
using R = JpegReject;

std::vector<uint64_t> Positions(uint64_t first, uint64_t count) {
    std::vector<uint64_t> positions;
    for (uint64_t i = 0; i < count; ++i) positions.push_back(first + i);
    return positions;
}

// DQT with one table of 8-bit (precision 0) or 16-bit values, all 1.
Bytes Dqt(uint8_t pq_tq) {
    Bytes body = {pq_tq};
    const int bytes = (pq_tq >> 4) == 1 ? 128 : 64;
    for (int i = 0; i < bytes; ++i) body.push_back((pq_tq >> 4) == 1 ? (i % 2) : 1);
    return Segment(0xDB, body);
}
// DHT with one table of two codes of length 2.
Bytes Dht(uint8_t tc_th) {
    Bytes body = {tc_th, 0, 2};
    body.resize(17, 0);
    body.insert(body.end(), {0x00, 0x01});
    return Segment(0xC4, body);
}
// Frame header: code, P, Y, X, then (id, HV, Tq) per component.
Bytes Frame(uint8_t code, uint8_t p, uint16_t y, const Bytes& specs) {
    const uint8_t nf = static_cast<uint8_t>(specs.size() / 3);
    return Segment(code, Cat({{p}, Word(y), Word(16), {nf}, specs}));
}
// Scan header: (Cs, TdTa) pairs, then Ss, Se, AhAl.
Bytes Scan(const Bytes& selectors, uint8_t ss, uint8_t se, uint8_t ah_al) {
    return Segment(0xDA, Cat({{static_cast<uint8_t>(selectors.size() / 2)}, selectors,
                              {ss, se, ah_al}}));
}
Bytes Dri(uint16_t interval) { return Segment(0xDD, Word(interval)); }
Bytes Data() { return EntropyData(); }

// A baseline image in parts; a row changes one of them.
struct Parts {
    Bytes tables = Cat({Dqt(0x00), Dht(0x00), Dht(0x10)});
    Bytes frame = Frame(0xC0, 8, 16, {1, 0x11, 0});
    Bytes before_scan;
    Bytes scan = Scan({1, 0x00}, 0, 63, 0);
    Bytes data = Data();
    Bytes end = Eoi();
    Bytes Image() const { return Cat({Soi(), tables, frame, before_scan, scan, data, end}); }
};

struct RuleRow {
    std::string label;
    std::function<void(Parts&)> change;
    JpegReject reason;
};

TEST(StrictWalk, HeaderRulesByTable) {
    const Bytes three = {1, 0x22, 0, 2, 0x11, 0, 3, 0x11, 0};  // Y, Cb, Cr: 4 + 1 + 1 blocks
    const std::vector<RuleRow> rows = {
        {"baseline", [](Parts&) {}, R::kAccepted},
        {"APPn and COM skipped, fill bytes before a marker",
         [](Parts& p) { p.tables = Cat({Segment(0xE1, {0xFF, 0xD9}), Segment(0xFE, {}),
                                        {0xFF, 0xFF}, p.tables}); }, R::kAccepted},
        {"three components interleaved",
         [&](Parts& p) { p.frame = Frame(0xC0, 8, 16, three);
                         p.scan = Scan({1, 0, 2, 0, 3, 0}, 0, 63, 0); }, R::kAccepted},
        {"extended, 12-bit with 16-bit table",
         [](Parts& p) { p.tables = Cat({Dqt(0x10), Dht(0x02), Dht(0x13)});
                        p.frame = Frame(0xC1, 12, 16, {1, 0x11, 0});
                        p.scan = Scan({1, 0x23}, 0, 63, 0); }, R::kAccepted},
        {"progressive DC, refinement and AC scans",
         [&](Parts& p) { p.frame = Frame(0xC2, 8, 16, three);
                         p.scan = Scan({1, 0, 2, 0, 3, 0}, 0, 0, 0x01);
                         p.end = Cat({Scan({1, 0, 2, 0, 3, 0}, 0, 0, 0x10), Data(),
                                      Scan({2, 0}, 1, 63, 0), Data(), Eoi()}); }, R::kAccepted},
        {"arithmetic, no Huffman tables, DAC",
         [](Parts& p) { p.tables = Cat({Dqt(0x00), Segment(0xCC, {0x00, 0x10, 0x10, 0x05})});
                        p.frame = Frame(0xC9, 8, 16, {1, 0x11, 0}); }, R::kAccepted},
        {"lossless, predictor 1",
         [](Parts& p) { p.tables = Dht(0x00); p.frame = Frame(0xC3, 16, 16, {1, 0x11, 0});
                        p.scan = Scan({1, 0x00}, 1, 0, 0x02); }, R::kAccepted},
        {"restart markers in order",
         [](Parts& p) { p.before_scan = Dri(1);
                        p.data = Cat({Data(), Marker(0xD0), Data(), Marker(0xD1), Data()}); }, R::kAccepted},
        {"Y of 0 with DNL after the first scan",
         [](Parts& p) { p.frame = Frame(0xC0, 8, 0, {1, 0x11, 0});
                        p.end = Cat({Segment(0xDC, Word(16)), Eoi()}); }, R::kAccepted},

        {"DQT Pq 2", [](Parts& p) { p.tables = Dqt(0x20); }, R::kQuantizationTable},
        {"DQT Tq 4", [](Parts& p) { p.tables = Dqt(0x04); }, R::kQuantizationTable},
        {"DQT value 0", [](Parts& p) { p.tables[5] = 0; }, R::kQuantizationTable},
        {"DQT length one past its table",
         [](Parts& p) { Bytes t = Dqt(0); t[3] += 1; t.push_back(0);
                        p.tables = Cat({t, Dht(0x00), Dht(0x10)}); }, R::kQuantizationTable},
        {"DHT Tc 2", [](Parts& p) { p.tables = Cat({Dqt(0), Dht(0x20), Dht(0x10)}); }, R::kHuffmanTable},
        {"DHT Th 4", [](Parts& p) { p.tables = Cat({Dqt(0), Dht(0x04), Dht(0x10)}); }, R::kHuffmanTable},
        {"DHT codes overfill length 1",
         [](Parts& p) { Bytes t = Dht(0x00); t[5] = 2; t[6] = 0; p.tables = Cat({Dqt(0), t, Dht(0x10)}); },
         R::kHuffmanTable},
        {"DHT length one past its table",
         [](Parts& p) { Bytes t = Dht(0x00); t[3] += 1; t.push_back(0);
                        p.tables = Cat({Dqt(0), t, Dht(0x10)}); }, R::kHuffmanTable},
        {"DAC Tc 2", [](Parts& p) { p.before_scan = Segment(0xCC, {0x20, 0x10}); }, R::kConditioning},
        {"DAC AC value 0", [](Parts& p) { p.before_scan = Segment(0xCC, {0x10, 0x00}); }, R::kConditioning},
        {"DAC DC L above U", [](Parts& p) { p.before_scan = Segment(0xCC, {0x00, 0x12}); }, R::kConditioning},
        {"DRI length 5", [](Parts& p) { p.before_scan = Segment(0xDD, {0, 1, 0}); }, R::kRestartInterval},
        {"APP length 1", [](Parts& p) { p.before_scan = SegmentWithLength(0xE0, 1, {}); }, R::kSegmentLength},

        {"SOF0 with P 12", [](Parts& p) { p.frame = Frame(0xC0, 12, 16, {1, 0x11, 0}); }, R::kFrameHeader},
        {"SOF3 with P 1", [](Parts& p) { p.frame = Frame(0xC3, 1, 16, {1, 0x11, 0}); }, R::kFrameHeader},
        {"X of 0", [](Parts& p) { p.frame[8] = 0; }, R::kFrameHeader},
        {"Nf of 0", [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {}); }, R::kFrameHeader},
        {"Lf one more than 8 + 3 Nf", [](Parts& p) { p.frame[3] += 1; p.frame.push_back(0); }, R::kFrameHeader},
        {"identifiers repeated", [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {1, 0x11, 0, 1, 0x11, 0}); }, R::kFrameHeader},
        {"sampling factor 5", [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {1, 0x51, 0}); }, R::kFrameHeader},
        {"sampling factor 0", [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {1, 0x10, 0}); }, R::kFrameHeader},
        {"frame Tq 4", [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {1, 0x11, 4}); }, R::kFrameHeader},
        {"progressive with 5 components",
         [](Parts& p) { p.frame = Frame(0xC2, 8, 16, {1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0, 4, 0x11, 0, 5, 0x11, 0}); },
         R::kFrameHeader},
        {"second frame", [](Parts& p) { p.before_scan = p.frame; }, R::kSecondFrame},
        {"differential frame", [](Parts& p) { p.frame[1] = 0xC5; }, R::kHierarchical},
        {"DHP", [](Parts& p) { p.before_scan = Segment(0xDE, {8, 0, 16, 0, 16, 1, 1, 0x11, 0}); }, R::kHierarchical},

        {"Ns of 0", [](Parts& p) { p.scan = Scan({}, 0, 63, 0); }, R::kScanHeader},
        {"Ns of 5", [](Parts& p) { p.scan = Scan({1, 0, 1, 0, 1, 0, 1, 0, 1, 0}, 0, 63, 0); }, R::kSegmentLength},
        {"Ls one more than 6 + 2 Ns", [](Parts& p) { p.scan[3] += 1; p.scan.push_back(0); }, R::kScanHeader},
        {"selector not in the frame", [](Parts& p) { p.scan = Scan({2, 0x00}, 0, 63, 0); }, R::kScanHeader},
        {"selectors out of frame order",
         [&](Parts& p) { p.frame = Frame(0xC0, 8, 16, three); p.scan = Scan({2, 0, 1, 0}, 0, 63, 0); }, R::kScanHeader},
        {"baseline Td 2", [](Parts& p) { p.scan = Scan({1, 0x20}, 0, 63, 0); }, R::kScanHeader},
        {"sequential Se 62", [](Parts& p) { p.scan = Scan({1, 0}, 0, 62, 0); }, R::kScanHeader},
        {"sequential Al 1", [](Parts& p) { p.scan = Scan({1, 0}, 0, 63, 1); }, R::kScanHeader},
        {"progressive AC band of two components",
         [&](Parts& p) { p.frame = Frame(0xC2, 8, 16, three); p.scan = Scan({1, 0, 2, 0}, 1, 5, 0); }, R::kScanHeader},
        {"progressive DC with Se 5",
         [](Parts& p) { p.frame = Frame(0xC2, 8, 16, {1, 0x11, 0}); p.scan = Scan({1, 0}, 0, 5, 0); }, R::kScanHeader},
        {"progressive Ah 14",
         [](Parts& p) { p.frame = Frame(0xC2, 8, 16, {1, 0x11, 0}); p.scan = Scan({1, 0}, 0, 0, 0xE0); }, R::kScanHeader},
        {"lossless predictor 0",
         [](Parts& p) { p.frame = Frame(0xC3, 8, 16, {1, 0x11, 0}); p.scan = Scan({1, 0}, 0, 0, 0); }, R::kScanHeader},
        {"more than 10 blocks in an MCU",
         [](Parts& p) { p.frame = Frame(0xC0, 8, 16, {1, 0x33, 0, 2, 0x22, 0});
                        p.scan = Scan({1, 0, 2, 0}, 0, 63, 0); }, R::kScanHeader},
        {"no AC table", [](Parts& p) { p.tables = Cat({Dqt(0), Dht(0x00)}); }, R::kTableMissing},
        {"no quantisation table", [](Parts& p) { p.tables = Cat({Dht(0x00), Dht(0x10)}); }, R::kTableMissing},
        {"table after the scan that uses it",
         [](Parts& p) { p.tables = Cat({Dqt(0), Dht(0x00)}); p.end = Cat({Dht(0x10), Eoi()}); }, R::kTableMissing},
        {"scan before the frame", [](Parts& p) { std::swap(p.frame, p.before_scan); p.tables = Cat({p.tables, p.scan}); }, R::kScanBeforeFrame},

        {"RST without DRI", [](Parts& p) { p.data = Cat({Data(), Marker(0xD0), Data()}); }, R::kRestartMarker},
        {"RST1 first",
         [](Parts& p) { p.before_scan = Dri(1); p.data = Cat({Data(), Marker(0xD1), Data()}); }, R::kRestartMarker},
        {"fill byte before a stuffed zero", [](Parts& p) { p.data = {0x12, 0xFF, 0xFF, 0x00, 0x34}; }, R::kFillBeforeZero},
        {"Y of 0 without DNL", [](Parts& p) { p.frame = Frame(0xC0, 8, 0, {1, 0x11, 0}); }, R::kNumberOfLines},
        {"DNL with Y set", [](Parts& p) { p.end = Cat({Segment(0xDC, Word(16)), Eoi()}); }, R::kNumberOfLines},
        {"EOI without a scan", [](Parts& p) { p.scan.clear(); p.data.clear(); }, R::kNoScan},
        {"a stray byte between segments", [](Parts& p) { p.before_scan = {0x00}; }, R::kNoMarker},
        {"FF 00 between segments", [](Parts& p) { p.before_scan = {0xFF, 0x00}; }, R::kStrayMarker},
        {"TEM", [](Parts& p) { p.before_scan = Marker(0x01); }, R::kStrayMarker},
        {"JPG", [](Parts& p) { p.before_scan = Segment(0xC8, {}); }, R::kStrayMarker},
        {"reserved 02", [](Parts& p) { p.before_scan = Segment(0x02, {}); }, R::kStrayMarker},
        {"SOI again", [](Parts& p) { p.before_scan = Soi(); }, R::kStrayMarker},
        {"cut before EOI", [](Parts& p) { p.end = {0xFF}; }, R::kPastDataEnd},
    };
    for (const RuleRow& row : rows) {
        SCOPED_TRACE(row.label);
        Parts parts;
        row.change(parts);
        const Bytes image = parts.Image();
        // Other bytes around the image; FF D9 behind it must not be read as its end.
        const Bytes data = Cat({{0x10, 0x20}, image, row.reason == R::kAccepted ? Bytes{0x00} : Bytes{}});
        const StrictRun run = RunStrict(data, 0, 2);
        EXPECT_EQ(static_cast<int>(run.reason), static_cast<int>(row.reason));
        if (row.reason == R::kAccepted) {
            EXPECT_EQ(run.answer, 1u);
            EXPECT_EQ(run.item.offset, 2u);
            EXPECT_EQ(run.item.size, image.size());
        } else {
            EXPECT_EQ(run.answer, 0u);
            EXPECT_TRUE(SameItem(run.item, PoisonedItem()));
        }
    }
}

TEST(StrictFrame, APositionWithoutSoiCostsItsMismatchingRead) {
    const struct {
        Bytes data;
        size_t reads;
    } rows[] = {{{0x00, 0xD8, 0xFF}, 1}, {{0xFF, 0xC4, 0xFF}, 2}, {{0xFF, 0xD8, 0xD9}, 3}};
    for (const auto& row : rows) {
        FakeReader reader(row.data, 0);
        FoundItem item = PoisonedItem();
        jpeghound::JpegReject reason = R::kAccepted;
        EXPECT_EQ(jpeghound::Detect(reader.reader(), 0, &item, jpeghound::kMaxWalkBytes, &reason), 0u);
        EXPECT_EQ(reason, R::kNoStartOfImage);
        EXPECT_EQ(reader.BytePositions(), Positions(0, row.reads));
        EXPECT_EQ(reader.Count(FakeReader::Kind::ReadBlock), 0u);
    }
}

// Past the three gate bytes everything comes through ReadBlock, never past
// the data's end; a walk across 2^32 reports the plain difference.
TEST(StrictFrame, BlocksStayInsideTheDataAndTheBound) {
    const Bytes image = Parts().Image();
    const uint64_t base = (uint64_t{1} << 32) - 20;
    FakeReader reader(image, base);
    FoundItem item = PoisonedItem();
    ASSERT_EQ(jpeghound::Detect(reader.reader(), base, &item), 1u);
    EXPECT_EQ(item.size, image.size());
    EXPECT_EQ(reader.BytePositions(), Positions(base, 3));
    for (const FakeReader::Call& call : reader.calls()) {
        if (call.kind != FakeReader::Kind::ReadBlock) continue;
        EXPECT_GE(call.position, base + 3);
        EXPECT_LE(call.position + call.count, base + image.size());
    }
    // The bound: the whole image passes, one byte less rejects.
    EXPECT_EQ(RunStrict(image, 0, 0, image.size()).answer, 1u);
    EXPECT_EQ(RunStrict(image, 0, 0, image.size() - 1).reason, R::kWalkBound);
}

}  // namespace
