// The walks: each follows one family's structure from the candidate
// position to the item's own end, through the Source alone, and accepts
// only a structure that walks cleanly to that end.
#pragma once
#include <cstdint>

#include "formathound/source.h"

namespace formathound {

// What an accepting walk found: the item's exact size from the candidate
// position, and the texts chosen by its content (constants).
struct Found {
    uint64_t size;
    const char* extension;
    const char* description;
};

using WalkFn = bool (*)(Source& source, Found* found);

bool WalkIsoMedia(Source& source, Found* found);
bool WalkOgg(Source& source, Found* found);
bool WalkMatroska(Source& source, Found* found);
bool WalkFlac(Source& source, Found* found);
bool WalkAvi(Source& source, Found* found);
bool WalkAiff(Source& source, Found* found);
bool WalkMidi(Source& source, Found* found);
bool WalkFlv(Source& source, Found* found);
bool WalkAsf(Source& source, Found* found);
bool WalkMpegPs(Source& source, Found* found);
bool WalkMpegTs(Source& source, Found* found);
bool WalkMpegAudio(Source& source, Found* found);
bool WalkOle2(Source& source, Found* found);
bool WalkSqlite(Source& source, Found* found);
bool WalkPe(Source& source, Found* found);
bool WalkElf(Source& source, Found* found);
bool WalkMachO(Source& source, Found* found);
bool WalkSevenZip(Source& source, Found* found);
bool WalkRar(Source& source, Found* found);
bool WalkXz(Source& source, Found* found);
bool WalkZstd(Source& source, Found* found);
bool WalkLz4(Source& source, Found* found);
bool WalkGzip(Source& source, Found* found);
bool WalkBzip2(Source& source, Found* found);
bool WalkTar(Source& source, Found* found);
bool WalkCpio(Source& source, Found* found);
bool WalkAr(Source& source, Found* found);
bool WalkIso9660(Source& source, Found* found);
bool WalkTiff(Source& source, Found* found);
bool WalkPsd(Source& source, Found* found);
bool WalkIco(Source& source, Found* found);
bool WalkNetpbm(Source& source, Found* found);
bool WalkTga(Source& source, Found* found);
bool WalkXcf(Source& source, Found* found);
bool WalkText(Source& source, Found* found);

}  // namespace formathound
