// The demuxing check that media checkers share: libavformat's demuxer of the
// checker's choice reads an item's bytes from memory and every packet it
// finds in them; nothing is decoded. The checker finds the item's end by
// the container's own sizes first: the demuxer sees those bytes and no more.
#pragma once
#include <cstdint>

#include "host/check/check.h"

// What the demuxer made of the bytes. The codes from kCannotOpen on are
// consecutive, so that a checker keeps their texts (HOUND_DEMUX_REASONS) as
// a run of its own reasons.
enum class Demuxed : uint8_t {
    kWhole,           // opened, and every packet read up to the end
    kCannotOpen,      // the demuxer rejects the headers
    kNoStreams,
    kNoPackets,
    kReadError,       // a packet read failed before the end
    kCorruptPacket,   // a packet the demuxer flags corrupt: cut short by the end, or damaged
    kPacketsMissing,  // a stream gave fewer packets than its index holds
    // Limits and gaps of the library, not faults of the data: unchecked.
    kNotSupported,
    kNoMemory,
    kTimeLimit,
    kPacketLimit,
};

// The codes from kCannotOpen on, and their texts in that order.
constexpr uint8_t kDemuxReasonCount = static_cast<uint8_t>(Demuxed::kPacketLimit);
#define HOUND_DEMUX_REASONS                                                                     \
    "demuxer cannot open", "no streams", "no packets", "packet read error", "corrupt packet", \
        "packets missing from the index", "not supported by the demuxer", "no memory", "time limit", "packet limit"

// Demuxes bytes [data, data + size) with the libavformat demuxer of that
// name ("mov", "avi").
Demuxed Demux(const uint8_t* data, uint64_t size, const char* demuxer);

// The verdict for a checker whose reason first_reason holds the text of
// kCannotOpen: valid with end when whole, else invalid, or unchecked for a
// limit.
CheckResult DemuxResult(Demuxed demuxed, uint8_t first_reason, uint64_t end);
