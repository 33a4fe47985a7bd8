// Netpbm rows: binary and plain rasters, comments in the header, samples
// over the largest value, several images back to back, PAM headers.
#include "tests/formathound/cases.h"

namespace formathound_test {

std::vector<Case> NetpbmCases() {
    const Bytes pgm = Cat({Text("P5\n# made by hand\n3 2\n255\n"), Bytes(6, 0xFF)});
    const Bytes ppm = Cat({Text("P6 1 2 15\n"), Bytes(6, 15)});
    const Bytes plain_gray = Text("P2\n3 2\n9\n0 1 2\n9 8 7\n");
    const Bytes plain_bits = Text("P1\n5 2\n01010\n1 0 1 0 1\n");
    const Bytes pam = Cat({Text("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n"),
                           Bytes(16, 0xEE)});
    return {
        {"PGM with a comment", Cat({pgm, Text("after")}), pgm.size(), "pgm"},
        {"PPM of 15 levels", Cat({ppm, Text("after")}), ppm.size(), "ppm"},
        {"PPM sample over the largest value", Cat({Text("P6 1 2 15\n"), Bytes(5, 15), {16}}), 0, ""},
        {"PPM three images", Cat({ppm, ppm, ppm, Text("P6 1")}), 3 * ppm.size(), "ppm"},
        {"PGM then a cut image", Cat({pgm, Text("P5\n3 2\n255\n"), Bytes(5, 0)}), pgm.size(), "pgm"},
        {"PBM cut short", Cat({Text("P4\n9 3\n"), Bytes(5, 0)}), 0, ""},
        {"PBM plain, digits touching", Cat({plain_bits, Text("x")}), plain_bits.size(), "pbm"},
        {"PGM plain", Cat({plain_gray, Text("after")}), plain_gray.size(), "pgm"},
        {"PGM plain, a sample short", Text("P2\n3 2\n9\n0 1 2\n9 8\n"), 0, ""},
        {"PPM plain sample over the largest value", Text("P3 1 1 9 1 10 2\n"), 0, ""},
        {"PGM of largest value 0", Cat({Text("P5 1 1 0\n"), {0}}), 0, ""},
        {"PAM", Cat({pam, Text("after")}), pam.size(), "pam"},
        {"PAM without DEPTH", Cat({Text("P7\nWIDTH 2\nHEIGHT 1\nMAXVAL 255\nENDHDR\n"), Bytes(8, 0)}), 0, ""},
        {"PAM of an unknown field", Cat({Text("P7\nWIDTH 2\nHEIGHT 1\nDEPTH 1\nMAXVAL 255\nCOLOR 1\nENDHDR\n"),
                                         Bytes(8, 0)}),
         0, ""},
    };
}

}  // namespace formathound_test
