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

bool Matches(Source &source, const Magic &magic) {
  for (uint32_t i = 0; i < magic.count; ++i) {
    const uint8_t *byte = source.Peek(magic.tests[i].offset, 1);
    if (byte == nullptr || *byte != magic.tests[i].value)
      return false;
  }
  return true;
}

} // namespace

uint32_t Detect(const HostReader *reader, uint64_t position, FoundItem *item) {
  if (reader == nullptr || item == nullptr)
    return 0;
  Source source(reader, position);
  bool tried[static_cast<size_t>(WalkId::kCount)] = {};
  for (const Magic &magic : kMagics) {
    const auto walk = static_cast<size_t>(magic.walk);
    if (tried[walk] || !Matches(source, magic))
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
  }
  return 0;
}

} // namespace formathound
