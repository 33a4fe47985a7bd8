// Prints everything the signature loader can learn from a signature file
// through the platform layer: the section-name block, each section's keys as
// text and as integer, and the signatures the loader builds from it. Built
// natively (POSIX profile reader) and for Windows (the real profile
// functions); the two outputs for the same file must be identical.
//
// Usage: profile_dump [--key=NAME]... FILE...
//          FILEs in drive form (Z:\tmp\a.ini); each --key is asked in every
//          section after the loader's own keys.
//        profile_dump --upper
//          the upper case of every character code.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "markhound/database/loader.h"
#include "markhound/platform/platform.h"
#include "markhound/signatures/signature.h"
#include "markhound/signatures/signature_list.h"

namespace {

constexpr uint32_t kNameBlockSize = 1024;  // the loader's section-name block
constexpr uint32_t kValueSize = 261;       // the loader's value buffer
constexpr char kUnwritten = '\x7F';        // marks bytes no call has written

const char* const kLoaderKeys[] = {"Include",   "Signature",  "SignatureStart", "SignatureEnd",
                                   "Ext",       "SizeOff",    "SizeSize",       "SizeAddon",
                                   "LimitSize", "StartOffset", "EndOffset"};

// Bytes outside printable ASCII, and the quote, as escapes.
std::string Escaped(const char* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c > 0x7E || c == '"') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string Escaped(const char* text) { return Escaped(text, std::strlen(text)); }

// The names in the block as the loader walks them: each ends at its NUL, the
// list ends at an empty name. A list that runs to the end of the block
// without its closing NUL is reported.
std::vector<std::string> DumpSectionNames(const char* path) {
    char block[kNameBlockSize];
    std::memset(block, kUnwritten, sizeof block);
    PlatformProfileSectionNames(block, sizeof block, path);
    std::vector<std::string> names;
    uint32_t at = 0;
    while (at < kNameBlockSize && block[at] != '\0') {
        const void* end = std::memchr(block + at, '\0', kNameBlockSize - at);
        if (end == nullptr) {
            std::printf("section block: no NUL after byte %u\n", at);
            break;
        }
        names.emplace_back(block + at);
        at += static_cast<uint32_t>(names.back().size()) + 1;
    }
    if (at >= kNameBlockSize) std::printf("section block: no closing NUL\n");
    std::printf("sections: %u, block used: %u bytes\n", static_cast<unsigned>(names.size()),
                at + 1);
    return names;
}

void DumpKey(const char* path, const char* section, const char* key) {
    char value[kValueSize];
    std::memset(value, kUnwritten, sizeof value);
    const uint32_t copied = PlatformProfileString(section, key, "", value, sizeof value, path);
    const void* end = std::memchr(value, '\0', sizeof value);
    const std::string text = end == nullptr ? "<no NUL>" : Escaped(value);
    const uint32_t number = PlatformProfileInt(section, key, 0, path);
    if (copied == 0 && text.empty() && number == 0) return;  // absent or empty: as the loader sees it
    std::printf("    %s: copied %" PRIu32 " \"%s\" int %" PRIu32 "\n", key, copied, text.c_str(),
                number);
}

void DumpPattern(const char* label, const PatternArray& pattern) {
    std::printf("    %s:", label);
    for (int32_t i = 0; i < pattern.Count(); ++i) {
        const auto* element = static_cast<const PatternByte*>(pattern.Item(i));
        if (element->exact) {
            std::printf(" %02X", element->value);
        } else {
            std::printf(" ??");
        }
    }
    std::printf("\n");
}

void DumpSignatures(const char* path) {
    SignatureList list;
    LoadSignatureFile(path, list);
    std::printf("signatures: %d\n", list.Count());
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        const auto* bounded = dynamic_cast<const BoundedSignature*>(signature);
        std::printf("  %s \"%s\" ext \"%s\"\n", bounded ? "bounded" : "sized",
                    Escaped(signature->name.text).c_str(), Escaped(signature->ext.text).c_str());
        DumpPattern("pattern", signature->pattern);
        if (bounded != nullptr) {
            DumpPattern("end", bounded->end_pattern);
            std::printf("    limit %" PRIu64 " start_offset %" PRIu32 " end_offset %" PRIu32 "\n",
                        bounded->limit_size(), bounded->start_offset, bounded->end_offset);
        } else {
            std::printf("    size_offset %" PRIu64 " size_width %" PRIu64 " size_addon %" PRIu64 "\n",
                        signature->size_offset, signature->size_width, signature->size_addon);
        }
    }
}

// The one-character upper case of all 256 character codes, 16 to a line.
void DumpUpperCase() {
    for (int c = 0; c < 256; ++c) {
        const auto upper = static_cast<unsigned char>(PlatformCharUpper(static_cast<char>(c)));
        std::printf("%02X%c", upper, c % 16 == 15 ? '\n' : ' ');
    }
}

void DumpFile(const char* path, const std::vector<const char*>& extra_keys) {
    std::printf("file: %s\n", Escaped(path).c_str());
    std::printf("exists: %s\n", PlatformAccess(path, 0) == 0 ? "yes" : "no");
    const std::vector<std::string> sections = DumpSectionNames(path);
    for (const std::string& section : sections) {
        std::printf("  [%s]\n", Escaped(section.c_str()).c_str());
        for (const char* key : kLoaderKeys) DumpKey(path, section.c_str(), key);
        for (const char* key : extra_keys) DumpKey(path, section.c_str(), key);
    }
    DumpSignatures(path);
}

}  // namespace

int main(int argc, char** argv) {
    constexpr char kKeyOption[] = "--key=";
    std::vector<const char*> extra_keys;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--upper") == 0) {
            DumpUpperCase();
        } else if (std::strncmp(argv[i], kKeyOption, sizeof kKeyOption - 1) == 0) {
            extra_keys.push_back(argv[i] + sizeof kKeyOption - 1);
        } else {
            files.push_back(argv[i]);
        }
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: profile_dump [--key=NAME]... FILE... | profile_dump --upper\n");
        return 2;
    }
    for (const char* file : files) DumpFile(file, extra_keys);
    return 0;
}
