// CPIO rows: newc alignment of names and data, the block padding only when
// whole, crc sums, odc, and entries damaged, unnamed or without a trailer.
#include <cstdio>

#include "tests/formathound/cases.h"

namespace formathound_test {

namespace {

// A newc ("070701") or crc ("070702") entry of a regular file, or of the
// trailer when name is "TRAILER!!!".
Bytes Hex(const char* magic, const std::string& name, const Bytes& data, uint32_t check = 0) {
    const uint32_t mode = name == "TRAILER!!!" ? 0 : 0100644;
    char header[111];
    std::snprintf(header, sizeof(header), "%s%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X%08X", magic, 7u, mode,
                  0u, 0u, 1u, 0u, static_cast<uint32_t>(data.size()), 0u, 0u, 0u, 0u,
                  static_cast<uint32_t>(name.size() + 1), check);
    Bytes entry = Cat({Text(header), Text(name), {0}});
    entry.resize((entry.size() + 3) / 4 * 4, 0);
    entry.insert(entry.end(), data.begin(), data.end());
    entry.resize((entry.size() + 3) / 4 * 4, 0);
    return entry;
}

Bytes Odc(const std::string& name, const Bytes& data) {
    const unsigned mode = name == "TRAILER!!!" ? 0 : 0100644;
    char header[77];
    std::snprintf(header, sizeof(header), "070707%06o%06o%06o%06o%06o%06o%06o%011o%06o%011o", 0u, 7u, mode, 0u, 0u,
                  1u, 0u, 0u, static_cast<unsigned>(name.size() + 1), static_cast<unsigned>(data.size()));
    return Cat({Text(header), Text(name), {0}, data});
}

}  // namespace

std::vector<Case> CpioCases() {
    const Bytes data = Text("hello");  // byte sum 532
    const Bytes newc = Cat({Hex("070701", "ab", data), Hex("070701", "TRAILER!!!", {})});
    const Bytes padded = Cat({newc, Bytes(512 - newc.size(), 0)});
    const Bytes crc = Cat({Hex("070702", "ab", data, 532), Hex("070702", "TRAILER!!!", {})});
    const Bytes odc = Cat({Odc("abc", data), Odc("TRAILER!!!", {})});
    Bytes unnamed = newc;
    unnamed[110 + 2] = 'x';  // the name's NUL
    return {
        {"CPIO newc", Cat({newc, Text("after")}), newc.size(), "cpio"},
        {"CPIO newc block padding", Cat({padded, Text("after")}), padded.size(), "cpio"},
        {"CPIO newc padding not whole", Cat({newc, Bytes(100, 0)}), newc.size(), "cpio"},
        {"CPIO crc", crc, crc.size(), "cpio"},
        {"CPIO crc sum wrong", Cat({Hex("070702", "ab", data, 531), Hex("070702", "TRAILER!!!", {})}), 0, ""},
        {"CPIO newc with a check", Cat({Hex("070701", "ab", data, 532), Hex("070701", "TRAILER!!!", {})}), 0, ""},
        {"CPIO odc", Cat({odc, Text("after")}), odc.size(), "cpio"},
        {"CPIO odc cut", Bytes(odc.begin(), odc.end() - 1), 0, ""},
        {"CPIO name without its NUL", unnamed, 0, ""},
        {"CPIO without trailer", Cat({Hex("070701", "ab", data), Text("after the entry")}), 0, ""},
    };
}

}  // namespace formathound_test
