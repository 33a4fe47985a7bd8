// Fuzz target: the signature file loader over a tree of up to four files cut
// from the input at each 0x1E byte (signs.ini, a.ini, sub\b.ini, sub\c.ini).
// Checks the list's invariants, that an observer changes nothing, that a
// load survives refused allocations, and asks the loaded signatures.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_files.h"
#include "fuzz/fuzz_support.h"
#include "markhound/database/loader.h"
#include "markhound/signatures/signature_list.h"
#include "markhound/support/memory.h"

namespace {

constexpr uint8_t kFileSeparator = 0x1E;
const char* const kFiles[] = {"signs.ini", "a.ini", "sub/b.ini", "sub/c.ini"};
constexpr uint32_t kMaxPatternElements = 130;  // a value of 260 characters

void CheckText(const SignatureText& text) {
    FUZZ_CHECK(text.length <= SignatureText::kMaxLength);
    FUZZ_CHECK(std::strlen(text.text) == text.length);
}

// What a finished load guarantees for every signature in the list.
void CheckList(const SignatureList& list) {
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* signature = list.Signature(i);
        FUZZ_CHECK(signature != nullptr);
        FUZZ_CHECK(signature->pattern.Count() >= 1);
        FUZZ_CHECK(signature->pattern.Count() <= static_cast<int32_t>(kMaxPatternElements));
        CheckText(signature->name);
        CheckText(signature->ext);
        if (const auto* bounded = dynamic_cast<const BoundedSignature*>(signature)) {
            FUZZ_CHECK(bounded->end_pattern.Count() <= static_cast<int32_t>(kMaxPatternElements));
        } else {
            FUZZ_CHECK(signature->size_width == 1 || signature->size_width == 2 ||
                       signature->size_width == 4);
        }
    }
}

std::string Pattern(const PatternArray& pattern) {
    std::string text;
    for (int32_t i = 0; i < pattern.Count(); ++i) {
        const auto* element = static_cast<const PatternByte*>(pattern.At(i));
        text += element->exact ? static_cast<char>(element->value) : '?';
        text += element->exact ? '=' : '*';
    }
    return text;
}

std::string Describe(const SignatureList& list) {
    std::string text;
    for (int32_t i = 0; i < list.Count(); ++i) {
        const SizedSignature* s = list.Signature(i);
        text += std::string(s->name.text) + "|" + s->ext.text + "|" + Pattern(s->pattern) + "|" +
                std::to_string(s->size_offset) + "," + std::to_string(s->size_width) + "," +
                std::to_string(s->size_addon);
        if (const auto* b = dynamic_cast<const BoundedSignature*>(s)) {
            text += "|" + Pattern(b->end_pattern) + "|" + std::to_string(b->start_offset) + "," +
                    std::to_string(b->end_offset);
        }
        text += "\n";
    }
    return text;
}

// Every event names its file, and every text it carries is a proper text.
class CheckingObserver : public LoadObserver {
public:
    void OnLoadEvent(const LoadReport& report) override {
        FUZZ_CHECK(report.file != nullptr);
        FUZZ_CHECK(std::strlen(report.file) <= 260);
        for (const char* text : {report.section, report.key, report.text, report.text2}) {
            if (text != nullptr) (void)std::strlen(text);
        }
        if (report.event == LoadEvent::kFileRead) FUZZ_CHECK(report.number <= kMaxIncludeDepth);
        ++events;
    }
    uint64_t events = 0;
};

uint32_t g_requests = 0;
uint32_t g_refuse_at = 0;
bool Refuse(std::size_t) { return ++g_requests >= g_refuse_at; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const uint8_t mode = input.Byte();
    const uint8_t refuse_at = input.Byte();
    const uint8_t* rest = input.Rest();
    const size_t rest_size = input.RestSize();

    // Up to four files; the last one takes whatever follows its separator.
    size_t begin = 0;
    size_t file = 0;
    for (; file < 4 && begin <= rest_size; ++file) {
        const void* found = file < 3 ? std::memchr(rest + begin, kFileSeparator, rest_size - begin) : nullptr;
        const size_t end = found ? static_cast<const uint8_t*>(found) - rest : rest_size;
        FuzzWrite(kFiles[file], rest + begin, end - begin);
        begin = end + 1;
    }
    for (; file < 4; ++file) FuzzRemove(kFiles[file]);
    const std::string top = FuzzWindows("signs.ini");

    if ((mode & 2) != 0) {
        // Refused allocations from the chosen request on: the list may come
        // out short, but whatever it holds is complete.
        SignatureList list;
        g_requests = 0;
        g_refuse_at = 1 + refuse_at;
        MemSetFailureHook(&Refuse);
        LoadSignatureFile(top.c_str(), list);
        MemSetFailureHook(nullptr);
        CheckList(list);
        return 0;
    }

    SignatureList list;
    LoadSignatureFile(top.c_str(), list);
    CheckList(list);
    if ((mode & 1) != 0) {
        SignatureList observed;
        CheckingObserver observer;
        LoadSignatureFile(top.c_str(), observed, &observer);
        FUZZ_CHECK(Describe(observed) == Describe(list));
        FUZZ_CHECK(observer.events >= 1);
    }

    // Ask the loaded signatures over the input itself.
    RecordingReader reader(data, size, 0, {0xFF, 0xC4}, size, 0);
    reader.set_log_limit(0);
    for (uint64_t position = 0; position < size && position < 64; ++position) {
        const FoundItem before = PoisonedItem();
        FoundItem item = before;
        if (DetectWithList(list, reader.reader(), position, &item) == 0) {
            FUZZ_CHECK(SameBytes(item, before));
        } else {
            FUZZ_CHECK(item.extension != nullptr && item.description != nullptr);
        }
    }
    return 0;
}
