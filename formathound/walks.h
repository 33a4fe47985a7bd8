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

}  // namespace formathound
