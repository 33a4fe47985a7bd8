// Fuzz target: every checker over hostile bytes. The first input byte picks
// a magic of the format table that is put in (at its offset), so that each
// checker sees deep inputs. Checked: a valid item's end lies within the
// bytes and does not depend on the bytes behind it; an invalid or unchecked
// one names its reason; where a pre-check rules a position out, the full
// check finds the item invalid.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/check/formats.h"

namespace {

// Every magic of the format table, and none: the first byte of the input
// picks one.
std::vector<Magic> AllMagics() {
    std::vector<Magic> magics = {{0, ""}};
    for (const Format& format : Formats()) magics.insert(magics.end(), format.magics.begin(), format.magics.end());
    return magics;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<Magic> magics = AllMagics();
    if (size == 0) return 0;
    const Magic& magic = magics[data[0] % magics.size()];
    // The magic at its offset, the input's bytes around it.
    std::vector<uint8_t> bytes(data + 1, data + size);
    if (bytes.size() < magic.offset) bytes.resize(magic.offset, 0);
    std::copy(magic.bytes.begin(), magic.bytes.end(),
              std::inserter(bytes, bytes.begin() + magic.offset));

    const CheckBytes all = {bytes.data(), bytes.size()};
    const CheckResult result = CheckItem(all);
    FUZZ_CHECK(FormatName(result.format) != nullptr && ReasonText(result.format, result.reason) != nullptr);
    FUZZ_CHECK(result.state == CheckState::kValid || result.format == kNoFormat || result.reason != 0);
    if (result.state == CheckState::kValid) {
        FUZZ_CHECK(result.end <= bytes.size());
        if (result.end > 0) {
            const CheckResult again = CheckItem({bytes.data(), result.end});
            FUZZ_CHECK(again.state == CheckState::kValid && again.end == result.end);
        }
    }
    // Where a format's pre-check rules an item out, the full check finds it invalid.
    if (result.format != kNoFormat && !FormatMayStart(result.format, all)) {
        FUZZ_CHECK(result.state == CheckState::kInvalid);
    }
    return 0;
}
