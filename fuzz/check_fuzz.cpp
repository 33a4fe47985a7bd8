// Fuzz target: every checker over hostile bytes. The first input byte picks
// a magic of the format table that is put in (at its offset), or a finder's
// extension that names a format without magic, so that each checker sees
// deep inputs. Checked: a valid item's end lies within the
// bytes and does not depend on the bytes behind it; an invalid or unchecked
// one names its reason; where a pre-check rules a position out, the full
// check finds the item invalid.
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/check/formats.h"

namespace {

// A magic to put in, or an extension to check with.
struct Pick {
    Magic magic;
    std::string extension;
};

// Every magic and extension of the format table, and none: the first byte
// of the input picks one.
std::vector<Pick> AllPicks() {
    std::vector<Pick> picks = {{{0, ""}, ""}};
    for (const Format& format : Formats()) {
        for (const Magic& magic : format.magics) picks.push_back({magic, ""});
        for (std::string_view extension : format.extensions) picks.push_back({{0, ""}, std::string(extension)});
    }
    return picks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::vector<Pick> picks = AllPicks();
    if (size == 0) return 0;
    const Pick& pick = picks[data[0] % picks.size()];
    const Magic& magic = pick.magic;
    // The magic at its offset, the input's bytes around it.
    std::vector<uint8_t> bytes(data + 1, data + size);
    if (bytes.size() < magic.offset) bytes.resize(magic.offset, 0);
    std::copy(magic.bytes.begin(), magic.bytes.end(),
              std::inserter(bytes, bytes.begin() + magic.offset));

    const CheckBytes all = {bytes.data(), bytes.size(), nullptr, pick.extension.c_str()};
    const CheckResult result = CheckItem(all);
    FUZZ_CHECK(FormatName(result.format) != nullptr && ReasonText(result.format, result.reason) != nullptr);
    FUZZ_CHECK(result.state == CheckState::kValid || result.format == kNoFormat || result.reason != 0);
    if (result.state == CheckState::kValid) {
        FUZZ_CHECK(result.end <= bytes.size());
        if (result.end > 0) {
            const CheckResult again = CheckItem({bytes.data(), result.end, nullptr, pick.extension.c_str()});
            FUZZ_CHECK(again.state == CheckState::kValid && again.end == result.end);
        }
    }
    // Where a format's pre-check rules an item out, the full check finds it invalid.
    if (result.format != kNoFormat && !FormatMayStart(result.format, all)) {
        FUZZ_CHECK(result.state == CheckState::kInvalid);
    }
    return 0;
}
