// Detect's frame: the SOI gate, the reading primitives, the item it fills,
// positions across 2^32 and the bound on how far one walk reads.
#include <gtest/gtest.h>

#include <cstring>

#include "photohound/walk.h"
#include "tests/photohound/detect_run.h"

namespace {

constexpr uint64_t k4G = uint64_t{1} << 32;

void ExpectItem(const DetectRun& run, uint64_t offset, uint64_t size) {
    ASSERT_EQ(run.answer, 1u);
    EXPECT_EQ(run.item.offset, offset);
    EXPECT_EQ(run.item.size, size);
    EXPECT_STREQ(run.item.extension, "jpg");
    EXPECT_STREQ(run.item.description, "JPG image");
}

void ExpectRejected(const DetectRun& run) {
    EXPECT_EQ(run.answer, 0u);
    EXPECT_TRUE(SameItem(run.item, PoisonedItem()));
}

TEST(SoiGate, WrongStartCostsExactlyTwoReads) {
    const struct {
        Bytes start;
    } rows[] = {
        {{0xFF, 0xFF, 0xD8}},  // a fill byte before SOI is not allowed here
        {{0x00, 0xD8}}, {{0xD8, 0xFF}}, {{0xFF, 0xD9}}, {{0xFF, 0x00}}, {{0x7F, 0xD8}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.start));
        const Bytes data = Cat({row.start, TinyImage()});
        const DetectRun run = RunDetect(data, 500, 500);
        ExpectRejected(run);
        EXPECT_EQ(run.reads, Positions(500, 2));
        EXPECT_EQ(run.other_calls, 0u);
    }
}

TEST(SoiGate, BothBytesAreReadBeforeEitherIsTested) {
    const DetectRun run = RunDetect({0x00, 0x00, 0x00});
    ExpectRejected(run);
    EXPECT_EQ(run.reads, Positions(0, 2));
}

TEST(DetectItem, SeventeenByteStreamIsOneImage) {
    const uint64_t s = 12345;
    const DetectRun run = RunDetect(Cat({TinyImage(), {0xAB, 0xCD}}), s, s);
    ExpectItem(run, s, 17);
    EXPECT_EQ(run.reads, Positions(s, 17));
    EXPECT_EQ(run.other_calls, 0u);
}

TEST(DetectItem, TextsAreThePluginsConstants) {
    const DetectRun first = RunDetect(TinyImage());
    const DetectRun second = RunDetect(TinyImage(), 40, 40);
    ASSERT_EQ(first.answer, 1u);
    ASSERT_EQ(second.answer, 1u);
    EXPECT_EQ(first.item.extension, kJpegExtension);
    EXPECT_EQ(first.item.description, kJpegDescription);
    EXPECT_EQ(second.item.extension, first.item.extension);
    EXPECT_EQ(second.item.description, first.item.description);
}

TEST(DetectItem, DeepRejectionLeavesItemUntouched) {
    // A DRI of length 5 fails well after the SOI gate.
    const Bytes data = Cat({Soi(), SegmentWithLength(0xDD, 5, {0, 1, 2}), Sof0(), Eoi()});
    const DetectRun run = RunDetect(data, 7, 7);
    ExpectRejected(run);
    EXPECT_EQ(run.reads, Positions(7, 6));  // SOI, FF DD, the length
}

TEST(DetectItem, DetectKeepsNothingBetweenCalls) {
    FakeReader reader(Cat({TinyImage(), Bytes{0x00, 0xFF, 0xD8}, TinyImage()}));
    FoundItem item = PoisonedItem();
    EXPECT_EQ(Detect(reader.reader(), 0, &item), 1u);
    EXPECT_EQ(Detect(reader.reader(), 17, &item, kTestWalkBytes), 0u);
    EXPECT_EQ(item.offset, 0u);
    EXPECT_EQ(item.size, 17u);
    EXPECT_EQ(Detect(reader.reader(), 20, &item), 1u);
    EXPECT_EQ(item.offset, 20u);
    EXPECT_EQ(item.size, 17u);
}

TEST(Cursor, WalkCrossesTwoToThe32) {
    const DetectRun run = RunDetect(TinyImage(), k4G - 2, k4G - 2);
    ExpectItem(run, k4G - 2, 17);
    EXPECT_EQ(run.reads, Positions(k4G - 2, 17));
    EXPECT_EQ(run.reads[2], k4G);
}

TEST(Cursor, NextByteAdvancesBeforeReadingAndCarries) {
    FakeReader reader({0x9A, 0x5B}, k4G - 1);
    JpegWalkState state{};
    state.reader = reader.reader();
    state.cursor = k4G - 1;
    state.walk_end = k4G + 100;
    EXPECT_EQ(NextByte(state), 0x9A);
    EXPECT_EQ(state.cursor, k4G);
    EXPECT_EQ(NextByte(state), 0x5B);
    EXPECT_EQ(state.cursor, k4G + 1);
    EXPECT_EQ(reader.BytePositions(), Positions(k4G - 1, 2));
}

TEST(Cursor, NextWordIsBigEndian) {
    FakeReader reader({0xFF, 0xC4, 0x01, 0x02});
    JpegWalkState state{};
    state.reader = reader.reader();
    state.walk_end = 100;
    EXPECT_EQ(NextWord(state), 0xFFC4);
    EXPECT_EQ(NextWord(state), 0x0102);
    EXPECT_EQ(state.cursor, 4u);
    EXPECT_EQ(reader.BytePositions(), Positions(0, 4));
}

TEST(WalkState, FieldsHoldWhatTheHeadersSay) {
    // Fields as the walk leaves them are not visible through Detect; the
    // parse functions are run on a state directly, within an error exit.
    const Bytes data = Cat({FrameHeader(0xC0, 17, 12, 0x1234, 0xFEDC, 3),
                            SegmentWithLength(0xDD, 4, {0xAB, 0xCD}), Marker(0xDA), Word(10),
                            {2, 1, 0, 2, 0, 5, 0x3F, 0x7A}});
    FakeReader reader(data);
    JpegWalkState state{};
    state.reader = reader.reader();
    state.cursor = 2;  // just past the SOF0 code byte
    state.walk_end = kTestWalkBytes;
    volatile int outcome = 0;  // 1: scan header read, 2: no scan, 3: failed
    if (setjmp(state.error_exit) == 0) {
        ParseFrameHeader(state);
        outcome = ParseScanHeader(state) ? 1 : 2;
    } else {
        outcome = 3;
    }
    ASSERT_EQ(outcome, 1);
    EXPECT_EQ(state.precision, 12);
    EXPECT_EQ(state.lines, 0x1234);
    EXPECT_EQ(state.samples_per_line, 0xFEDC);
    EXPECT_EQ(state.frame_components, 3);
    EXPECT_EQ(state.restart_interval, 0xABCD);
    EXPECT_EQ(state.scan_components, 2);
    EXPECT_EQ(state.spectral_start, 5);
    EXPECT_EQ(state.approx_low, 0x0A);
    EXPECT_EQ(state.cursor, data.size());
}

TEST(WalkBound, EndlessSearchStopsAtTheBound) {
    // Past SOI the reader answers zeros: a marker search that never ends.
    const DetectRun run = RunDetect(Soi(), 3, 3, 64);
    ExpectRejected(run);
    EXPECT_EQ(run.reads, Positions(3, 64));
}

TEST(WalkBound, EndlessEntropyDataStopsAtTheBound) {
    const Bytes head = Cat({Soi(), Sof0(), Sos()});
    const DetectRun run = RunDetect(head, k4G - 10, k4G - 10, 1000);
    ExpectRejected(run);
    EXPECT_EQ(run.reads, Positions(k4G - 10, 1000));
}

TEST(WalkBound, ImageOfExactlyTheBoundIsAccepted) {
    const Bytes image = BaselineImage();
    const struct {
        uint64_t max_walk_bytes;
        uint32_t answer;
    } rows[] = {
        {image.size(), 1}, {image.size() + 1, 1}, {image.size() - 1, 0}, {20, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.max_walk_bytes);
        const DetectRun run = RunDetect(image, 0, 0, row.max_walk_bytes);
        EXPECT_EQ(run.answer, row.answer);
        const uint64_t reads = row.answer ? image.size() : row.max_walk_bytes;
        EXPECT_EQ(run.reads, Positions(0, reads));
    }
}

TEST(WalkBound, SoiIsAlwaysReadInFull) {
    for (uint64_t bound : {0, 1, 2}) {
        SCOPED_TRACE(bound);
        const DetectRun good = RunDetect(TinyImage(), 0, 0, bound);
        ExpectRejected(good);
        EXPECT_EQ(good.reads, Positions(0, 2));
        const DetectRun bad = RunDetect({0xFF, 0xD7}, 0, 0, bound);
        ExpectRejected(bad);
        EXPECT_EQ(bad.reads, Positions(0, 2));
    }
}

TEST(WalkBound, BoundCountsFromTheCandidateAcrossTheTopOfTheRange) {
    const uint64_t start = ~uint64_t{0} - 1;
    const DetectRun run = RunDetect(Soi(), start, start, 10);
    ExpectRejected(run);
    EXPECT_EQ(run.reads, Positions(start, 10));
}

}  // namespace
