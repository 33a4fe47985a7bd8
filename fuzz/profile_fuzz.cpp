// Fuzz target: the POSIX profile reader over a file made of the input. Every
// answer must be a proper text within its buffer, and a file rewritten in
// place must read exactly as the same bytes under a path never read before
// (a cached answer for the old contents would differ).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "fuzz/fuzz_support.h"
#include "markhound/platform/platform.h"

namespace {

const char* const kKeys[] = {"Include",   "Signature",   "SignatureStart", "SignatureEnd",
                             "Ext",       "SizeOff",     "SizeSize",       "SizeAddon",
                             "LimitSize", "StartOffset", "EndOffset"};

// The section names of a block: each ended by a NUL, the list by one more.
std::vector<std::string> Names(const char* block, uint32_t size) {
    std::vector<std::string> names;
    uint32_t at = 0;
    while (at < size && block[at] != '\0') {
        const void* end = std::memchr(block + at, '\0', size - at);
        FUZZ_CHECK(end != nullptr);
        names.emplace_back(block + at);
        at += static_cast<uint32_t>(names.back().size()) + 1;
    }
    FUZZ_CHECK(at < size);  // the closing NUL lies within the block
    return names;
}

// Everything the loader could ask of one file, as texts to compare.
std::vector<std::string> ReadAll(const std::string& path, uint32_t small_size, uint32_t value_size,
                                 const std::string& extra_key) {
    std::vector<std::string> answers;
    // A block of exactly the asked size, so that ASan sees any write past it.
    std::vector<char> block(1024, '\x7F');
    PlatformProfileSectionNames(block.data(), 1024, path.c_str());
    const std::vector<std::string> names = Names(block.data(), 1024);
    char* small = new char[small_size];
    std::memset(small, 0x7F, small_size);
    PlatformProfileSectionNames(small, small_size, path.c_str());
    if (small_size >= 2) Names(small, small_size);
    delete[] small;

    std::vector<std::string> keys(std::begin(kKeys), std::end(kKeys));
    keys.push_back(extra_key);
    for (const std::string& name : names) {
        answers.push_back("[" + name + "]");
        for (const std::string& key : keys) {
            char* value = new char[value_size];
            std::memset(value, 0x7F, value_size);
            const uint32_t copied =
                PlatformProfileString(name.c_str(), key.c_str(), "", value, value_size, path.c_str());
            FUZZ_CHECK(std::memchr(value, '\0', value_size) != nullptr);
            FUZZ_CHECK(copied == std::strlen(value));
            answers.push_back(key + "=" + value);
            delete[] value;
            answers.push_back(std::to_string(PlatformProfileInt(name.c_str(), key.c_str(), 0, path.c_str())));
        }
    }
    // A section that is not there answers the default.
    char missing[8];
    const uint32_t copied =
        PlatformProfileString("\x01 no such section", "Ext", "dflt", missing, sizeof missing, path.c_str());
    FUZZ_CHECK(copied == 4 && std::strcmp(missing, "dflt") == 0);
    FUZZ_CHECK(PlatformProfileInt("\x01 no such section", "SizeSize", 77, path.c_str()) == 77);
    return answers;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint32_t small_size = 1 + input.Byte() % 64;
    // Mostly the loader's 261 bytes; sometimes a small buffer or one more byte.
    const uint8_t value_choice = input.Byte();
    const uint32_t value_size = value_choice < 128 ? 1u + value_choice : (value_choice < 250 ? 261u : 262u);
    // A key of the input's own: the text before the first '=' of its last line.
    const std::string text(reinterpret_cast<const char*>(input.Rest()), input.RestSize());
    std::string extra_key = text.substr(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    extra_key = extra_key.substr(0, extra_key.find('='));
    extra_key = extra_key.substr(0, extra_key.find('\0'));

    static uint64_t serial = 0;
    const std::string fresh = "fresh-" + std::to_string(serial++) + ".ini";
    FuzzWrite("reused.ini", input.Rest(), input.RestSize());
    FuzzWrite(fresh, input.Rest(), input.RestSize());
    const std::vector<std::string> reused_answers =
        ReadAll(FuzzWindows("reused.ini"), small_size, value_size, extra_key);
    const std::vector<std::string> fresh_answers =
        ReadAll(FuzzWindows(fresh), small_size, value_size, extra_key);
    FuzzRemove(fresh);
    FUZZ_CHECK(reused_answers == fresh_answers);
    return 0;
}
