#include "formathound/detect.h"

#include "formathound/magics.h"
#include "formathound/walks.h"

namespace formathound {

namespace {

// The walk of each WalkId, in its order.
constexpr WalkFn kWalks[] = {
    &WalkIsoMedia, &WalkOgg,       &WalkMatroska, &WalkFlac,   &WalkAvi,
    &WalkAiff,     &WalkMidi,      &WalkFlv,      &WalkAsf,    &WalkMpegPs,
    &WalkMpegTs,   &WalkMpegAudio, &WalkOle2,     &WalkSqlite, &WalkPe,
    &WalkElf,      &WalkMachO,     &WalkSevenZip, &WalkRar,    &WalkXz,
    &WalkZstd,     &WalkLz4,       &WalkGzip,     &WalkBzip2,  &WalkTar,
    &WalkCpio,     &WalkAr,        &WalkIso9660,  &WalkTiff,   &WalkPsd,
    &WalkIco,      &WalkNetpbm,    &WalkTga,      &WalkXcf,    &WalkText,
};
static_assert(sizeof(kWalks) / sizeof(kWalks[0]) ==
                  static_cast<size_t>(WalkId::kCount),
              "one walk per WalkId");

// head holds the first head_size bytes, which most rows test; a row that
// tests farther (tar at 257, ISO 9660 at 32769) reads those bytes alone,
// so that the window stays at the position for the rows after it.
bool Matches(Source &source, const uint8_t *head, uint64_t head_size,
             const Magic &magic) {
  for (uint32_t i = 0; i < magic.count; ++i) {
    const MagicTest &test = magic.tests[i];
    uint8_t byte = 0;
    if (test.offset < head_size) {
      byte = head[test.offset];
    } else if (!source.Byte(test.offset, &byte)) {
      return false;
    }
    if (!test.Holds(byte))
      return false;
  }
  return true;
}

// Whether a magic can hold where the first byte is first: each of its
// tests of offset 0 holds for that byte.
constexpr bool MayHold(const Magic &magic, uint8_t first) {
  for (uint32_t i = 0; i < magic.count; ++i) {
    if (magic.tests[i].offset == 0 && !magic.tests[i].Holds(first))
      return false;
  }
  return true;
}

constexpr size_t MostRowsForAByte() {
  size_t most = 0;
  for (uint32_t first = 0; first < 256; ++first) {
    size_t rows = 0;
    for (const Magic &magic : kMagics)
      rows += MayHold(magic, static_cast<uint8_t>(first));
    most = rows > most ? rows : most;
  }
  return most;
}

// For each first byte, the rows that may hold there, in table order: Detect
// tries only those (a run of FF bytes then wakes the few rows that begin
// with FF, not every row).
struct RowsByFirstByte {
  uint16_t count[256];
  uint16_t rows[256][MostRowsForAByte()];
};

constexpr RowsByFirstByte MakeRowsByFirstByte() {
  RowsByFirstByte index{};
  for (uint32_t first = 0; first < 256; ++first) {
    for (size_t row = 0; row < kMagicCount; ++row) {
      if (MayHold(kMagics[row], static_cast<uint8_t>(first)))
        index.rows[first][index.count[first]++] = static_cast<uint16_t>(row);
    }
  }
  return index;
}

constexpr RowsByFirstByte kRowsByFirstByte = MakeRowsByFirstByte();

} // namespace

uint32_t Detect(const HostReader *reader, uint64_t position, FoundItem *item) {
  if (reader == nullptr || item == nullptr)
    return 0;
  Source source(reader, position);
  const uint64_t head_size =
      source.size() < kFirstFillBytes ? source.size() : kFirstFillBytes;
  const uint8_t *head = source.Peek(0, static_cast<uint32_t>(head_size));
  uint64_t held = head != nullptr ? head_size : 0;
  uint8_t first = 0;
  if (held > 0)
    first = head[0];
  else if (!source.Byte(0, &first))
    return 0;  // not even the first byte: no row holds
  bool tried[static_cast<size_t>(WalkId::kCount)] = {};
  for (uint16_t k = 0; k < kRowsByFirstByte.count[first]; ++k) {
    const Magic &magic = kMagics[kRowsByFirstByte.rows[first][k]];
    const auto walk = static_cast<size_t>(magic.walk);
    if (tried[walk] || !Matches(source, head, held, magic))
      continue;
    tried[walk] = true;
    // Each walk starts with a fresh step count and read budget, and
    // reuses the bytes that the magic tests already read.
    source.Restart();
    Found found{0, "", ""};
    if (kWalks[walk](source, &found) && found.size > 0) {
      item->offset = position;
      item->size = found.size;
      item->extension = found.extension;
      item->description = found.description;
      return 1;
    }
    // The walk moved the window: the first bytes again, for the next rows.
    head = source.Peek(0, static_cast<uint32_t>(head_size));
    held = head != nullptr ? head_size : 0;
  }
  return 0;
}

} // namespace formathound
