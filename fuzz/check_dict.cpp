// Prints the check fuzz target's dictionary: every magic and every word of
// the format table, in libFuzzer's dictionary syntax.
#include <cstdio>
#include <string_view>

#include "host/check/formats.h"

namespace {

void Entry(const char* format, const char* kind, size_t n, std::string_view bytes) {
    std::printf("%s_%s%zu=\"", format, kind, n);
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            std::putchar(c);
        } else {
            std::printf("\\x%02x", c);
        }
    }
    std::printf("\"\n");
}

}  // namespace

int main() {
    std::printf("# Made from hound's format table: each format's magics and the words its checker reads.\n");
    for (const Format& format : Formats()) {
        for (size_t i = 0; i < format.magics.size(); ++i) Entry(format.name, "magic", i, format.magics[i].bytes);
        for (size_t i = 0; i < format.words.size(); ++i) Entry(format.name, "word", i, format.words[i]);
    }
    return 0;
}
