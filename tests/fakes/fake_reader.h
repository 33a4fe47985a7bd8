// A host reader for tests: serves bytes from memory at any 64-bit base
// position, answers past its data with a repeating fill pattern, and records
// every call with its arguments.
#pragma once
#include <cstdint>
#include <vector>

#include "contract/kx_plugin.h"

class FakeReader {
public:
    enum class Kind { ReadByte, ReadBlock, GetSize };
    struct Call {
        Kind kind;
        uint64_t position;  // 0 for GetSize
        uint64_t count;     // bytes asked by ReadBlock, 1 for ReadByte, 0 for GetSize
    };

    // data is served at positions base .. base + data.size() - 1; every other
    // position reads as fill[(position - base) % fill.size()] (0 when fill is empty).
    explicit FakeReader(std::vector<uint8_t> data, uint64_t base = 0,
                        std::vector<uint8_t> fill = {});

    const HostReader* reader() const { return &reader_; }
    // The length GetSize reports: base + data size unless set otherwise.
    void set_length(uint64_t length) { length_ = length; }
    uint64_t length() const { return length_; }
    // ReadBlock then copies only the bytes below length() and leaves the rest
    // of the buffer as it was, like a host that cannot serve them.
    void set_short_blocks(bool on) { short_blocks_ = on; }

    uint8_t ByteAt(uint64_t position) const;
    const std::vector<Call>& calls() const { return calls_; }
    void ClearCalls() { calls_.clear(); }
    size_t Count(Kind kind) const;
    // Positions of the ReadByte calls, in call order.
    std::vector<uint64_t> BytePositions() const;

private:
    static uint32_t KX_CALL ReadByteThunk(void* context, uint64_t position);
    static uint32_t KX_CALL ReadBlockThunk(void* context, void* buffer, uint64_t position,
                                           uint64_t count);
    static uint64_t KX_CALL GetSizeThunk(void* context);

    std::vector<uint8_t> data_;
    uint64_t base_;
    std::vector<uint8_t> fill_;
    uint64_t length_;
    bool short_blocks_ = false;
    std::vector<Call> calls_;
    HostReader reader_;
};

// An item record filled with a recognisable pattern, to show it was left alone.
FoundItem PoisonedItem();
bool SameItem(const FoundItem& a, const FoundItem& b);
