// Fuzz target: every checker over hostile bytes. The first input byte picks
// a format whose magic is put before the rest, so that each checker sees
// deep inputs. Checked: a valid item's end lies within the bytes and does
// not depend on the bytes behind it; where the JPEG pre-check rules a
// position out, the full check finds the item invalid.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/check/check.h"

namespace {

const char* const kMagic[] = {
    "",  "\xFF\xD8\xFF", "\x89PNG\r\n\x1A\n", "GIF89a", "GIF87a", "PK\x03\x04", "BM", "RIFF", "%PDF-1.4",
    "MSCF",
};
constexpr size_t kMagicCount = sizeof kMagic / sizeof kMagic[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* magic = kMagic[data[0] % kMagicCount];
    std::vector<uint8_t> bytes(magic, magic + std::strlen(magic));
    bytes.insert(bytes.end(), data + 1, data + size);

    const CheckBytes all = {bytes.data(), bytes.size()};
    const CheckResult result = CheckItem(all);
    FUZZ_CHECK(result.format != nullptr && result.reason != nullptr);
    if (result.state == CheckState::kValid) {
        FUZZ_CHECK(result.end <= bytes.size());
        if (result.end > 0) {
            const CheckResult again = CheckItem({bytes.data(), result.end});
            FUZZ_CHECK(again.state == CheckState::kValid && again.end == result.end);
        }
    }
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xD8 && !JpegMayStart(all)) {
        FUZZ_CHECK(result.state == CheckState::kInvalid);
    }
    return 0;
}
