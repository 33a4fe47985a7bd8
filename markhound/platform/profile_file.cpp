// Profile file parser and the answers of the three profile reads.
#include "markhound/platform/profile_file.h"

#include <cstring>

namespace {

constexpr uint32_t kNoValue = 0xFFFFFFFFu;  // value offset of an entry without "="
constexpr uint32_t kGrowBy = 64;

// Blank characters around lines, names and values.
bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == 0x1A;
}

bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

unsigned char FoldCase(unsigned char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Names compare without regard to ASCII letter case.
bool SameName(const char* a, const char* b, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

uint32_t NameHash(const char* name, uint32_t length) {
    uint32_t hash = 2166136261u;
    for (uint32_t i = 0; i < length; ++i) {
        hash ^= FoldCase(static_cast<unsigned char>(name[i]));
        hash *= 16777619u;
    }
    return hash;
}

struct Range {
    uint32_t begin;
    uint32_t end;
};

Range Trim(const char* text, Range r) {
    while (r.begin < r.end && IsBlank(static_cast<unsigned char>(text[r.begin]))) ++r.begin;
    while (r.end > r.begin && IsBlank(static_cast<unsigned char>(text[r.end - 1]))) --r.end;
    return r;
}

// A NUL ends a name or value; the blanks are taken off before it is looked for.
Range CutAtNul(const char* text, Range r) {
    const void* nul = std::memchr(text + r.begin, '\0', r.end - r.begin);
    if (nul != nullptr) r.end = static_cast<uint32_t>(static_cast<const char*>(nul) - text);
    return r;
}

// A query name without blanks around it.
const char* TrimQuery(const char* name, uint32_t* length) {
    std::size_t n = std::strlen(name);
    if (n > ProfileFile::kMaxLength) n = ProfileFile::kMaxLength;  // longer than any name
    Range r = Trim(name, Range{0, static_cast<uint32_t>(n)});
    *length = r.end - r.begin;
    return name + r.begin;
}

// Code page 1252 for a UTF-16 unit: -1 where the code page has none.
int AnsiChar(uint32_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<int>(unit);
    // The five bytes that the code page leaves undefined stand for themselves.
    if (unit == 0x81 || unit == 0x8D || unit == 0x8F || unit == 0x90 || unit == 0x9D)
        return static_cast<int>(unit);
    static const uint16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
    };
    for (uint32_t i = 0; i < 32; ++i) {
        if (kHigh[i] == unit) return static_cast<int>(0x80 + i);
    }
    return -1;
}

// Writes one character of a conversion; a missing one is "?" and marked.
class AnsiWriter {
public:
    AnsiWriter(char* out, uint8_t* lossy) : out_(out), lossy_(lossy) {}
    void Put(int c) {
        if (c < 0) {
            if (lossy_ != nullptr) lossy_[n_ / 8] |= static_cast<uint8_t>(1u << (n_ % 8));
            c = '?';
        }
        out_[n_++] = static_cast<char>(c);
    }
    std::size_t Length() const { return n_; }

private:
    char* out_;
    uint8_t* lossy_;
    std::size_t n_ = 0;
};

// One UTF-8 sequence whose lead byte lead (0x80 or above) was read; *p is on
// the byte after it. Gives the code point, or -1 for a malformed sequence,
// having passed over the lead byte and each continuation byte that was
// valid up to the fault, as Windows does. A sequence cut off by the end of
// the text takes the rest of the text.
int32_t DecodeUtf8(unsigned char lead, const unsigned char** p, const unsigned char* end) {
    const uint32_t following = lead >= 0xF0 ? (lead <= 0xF4 ? 3 : 0)
                               : lead >= 0xE0 ? 2
                               : lead >= 0xC2 ? 1
                                              : 0;
    if (following == 0) return -1;
    if (static_cast<std::size_t>(end - *p) < following) {
        *p = end;
        return -1;
    }
    uint32_t code = lead & (0x7Fu >> (following + 1));
    // After each byte the prefix read so far must allow a valid whole: no
    // overlong form, no surrogate, nothing above U+10FFFF. The byte that
    // passes U+10FFFF is the one fault that is not passed over.
    for (uint32_t left = following; left-- > 0;) {
        const uint32_t c = static_cast<unsigned char>((*p)[0] ^ 0x80);
        if (c >= 0x40) return -1;
        code = (code << 6) | c;
        if (left == 1 && code >= (0x110000u >> 6)) return -1;
        ++*p;
        if (left == 2 && code < 0x10) return -1;
        if (left == 1 && (code < 0x20 || (code >= (0xD800u >> 6) && code <= (0xDFFFu >> 6))))
            return -1;
    }
    return code < 0x80 ? -1 : static_cast<int32_t>(code);
}

}  // namespace

bool HasUnicodeMark(const char* bytes, std::size_t length) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (length >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) ||
           (length >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF)));
}

std::size_t ToAnsiText(const char* bytes, std::size_t length, char* out, uint8_t* lossy) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    AnsiWriter writer(out, lossy);
    if (b[0] == 0xEF) {
        const unsigned char* end = b + length;
        for (const unsigned char* p = b + 3; p < end;) {
            const unsigned char c = *p++;
            if (c < 0x80) {
                writer.Put(c);
                continue;
            }
            const int32_t code = DecodeUtf8(c, &p, end);
            if (code > 0xFFFF) writer.Put(-1);  // the first of two UTF-16 units
            writer.Put(code < 0 ? -1 : AnsiChar(static_cast<uint32_t>(code)));
        }
        return writer.Length();
    }
    const bool little = b[0] == 0xFF;
    for (std::size_t i = 2; i < length; i += 2) {
        const uint32_t first = b[i];
        const uint32_t second = i + 1 < length ? b[i + 1] : 0;
        writer.Put(AnsiChar(little ? first | (second << 8) : (first << 8) | second));
    }
    return writer.Length();
}

struct ProfileFile::Section {
    uint32_t name;
    uint32_t name_length;
    uint32_t first_entry;
    uint32_t entry_count;
    bool unreachable;  // the name lost a character in conversion: no query matches it
};

struct ProfileFile::Entry {
    uint32_t name;
    uint32_t name_length;
    uint32_t value;  // kNoValue: the line had no "="
    uint32_t value_length;
    bool unreachable;
};

// First pass: how many sections and entries the text holds.
class ProfileFile::Counter {
public:
    void OnSection(Range) { ++sections; }
    void OnEntry(Range, const Range*) { ++entries; }
    uint32_t sections = 1;  // the unnamed section
    uint32_t entries = 0;
};

// Second pass: the sections and entries themselves, into room already made.
class ProfileFile::Builder {
public:
    explicit Builder(ProfileFile& file) : file_(file) { OnSection(Range{0, 0}); }
    void OnSection(Range name) {
        Section section{name.begin, name.end - name.begin,
                        static_cast<uint32_t>(file_.entries_.Count()), 0, file_.Lossy(name.begin, name.end)};
        current_ = static_cast<Section*>(file_.sections_.Add(&section));
        if (current_ == nullptr) failed = true;
    }
    void OnEntry(Range name, const Range* value) {
        if (current_ == nullptr) return;
        Entry entry{name.begin, name.end - name.begin, kNoValue, 0, file_.Lossy(name.begin, name.end)};
        if (value != nullptr) {
            entry.value = value->begin;
            entry.value_length = value->end - value->begin;
        }
        if (file_.entries_.Add(&entry) == nullptr) {
            failed = true;
            return;
        }
        ++current_->entry_count;
    }
    bool failed = false;

private:
    ProfileFile& file_;
    Section* current_ = nullptr;
};

ProfileFile::ProfileFile()
    : sections_(sizeof(Section), 0, kGrowBy), entries_(sizeof(Entry), 0, kGrowBy) {}

ProfileFile::~ProfileFile() { Reset(); }

void ProfileFile::Reset() {
    MemFree(text_);
    text_ = nullptr;
    length_ = 0;
    MemFree(raw_);
    raw_ = nullptr;
    raw_length_ = 0;
    MemFree(lossy_);
    lossy_ = nullptr;
    sections_.Clear();
    entries_.Clear();
    MemFree(buckets_);
    buckets_ = nullptr;
    bucket_mask_ = 0;
}

bool ProfileFile::Parse(const char* bytes, std::size_t length) {
    if (length > kMaxLength) {
        Reset();
        return false;
    }
    char* block = static_cast<char*>(MemAlloc(length != 0 ? length : 1));
    if (block == nullptr) {
        Reset();
        return false;
    }
    if (length != 0) std::memcpy(block, bytes, length);
    return Adopt(block, length);
}

bool ProfileFile::Adopt(char* block, std::size_t length) {
    Reset();
    if (block == nullptr || length > kMaxLength) {
        MemFree(block);
        return false;
    }
    if (HasUnicodeMark(block, length)) {
        char* ansi = static_cast<char*>(MemAlloc(length));
        lossy_ = static_cast<uint8_t*>(MemAlloc(length / 8 + 1));
        if (ansi == nullptr || lossy_ == nullptr) {
            MemFree(ansi);
            MemFree(block);
            Reset();
            return false;
        }
        std::memset(lossy_, 0, length / 8 + 1);
        raw_ = block;
        raw_length_ = static_cast<uint32_t>(length);
        length = ToAnsiText(block, length, ansi, lossy_);
        block = ansi;
    }
    text_ = block;
    length_ = static_cast<uint32_t>(length);

    // Counting first makes room once: the arrays grow by a fixed step, and
    // growing step by step would copy a large file's tables over and over.
    Counter counter;
    Scan(counter);
    sections_.Reserve(counter.sections);
    entries_.Reserve(counter.entries);
    Builder builder(*this);
    if (sections_.Capacity() > counter.sections && entries_.Capacity() > counter.entries) {
        Scan(builder);
    } else {
        builder.failed = true;
    }
    if (builder.failed || !BuildIndex()) {
        Reset();
        return false;
    }
    return true;
}

bool ProfileFile::HoldsText(const char* bytes, std::size_t length) const {
    const char* held = raw_ != nullptr ? raw_ : text_;
    const uint32_t held_length = raw_ != nullptr ? raw_length_ : length_;
    return length == held_length && (length == 0 || std::memcmp(bytes, held, length) == 0);
}

template <class Sink>
void ProfileFile::Scan(Sink& sink) const {
    uint32_t pos = 0;
    while (pos < length_) {
        const uint32_t begin = pos;
        while (pos < length_ && !IsLineEnd(text_[pos])) ++pos;
        const uint32_t end = pos;
        if (pos < length_) pos += text_[pos] == '\r' && pos + 1 < length_ && text_[pos + 1] == '\n' ? 2 : 1;
        ScanLine(begin, end, sink);
    }
}

template <class Sink>
void ProfileFile::ScanLine(uint32_t begin, uint32_t end, Sink& sink) const {
    const Range line = Trim(text_, Range{begin, end});
    if (line.begin == line.end) return;
    if (text_[line.begin] == '[') {
        // The name runs to the last "]", so a name may hold "]" itself.
        for (uint32_t close = line.end; close > line.begin + 1; --close) {
            if (text_[close - 1] == ']') {
                sink.OnSection(CutAtNul(text_, Trim(text_, Range{line.begin + 1, close - 1})));
                return;
            }
        }
    }
    const void* equals = std::memchr(text_ + line.begin, '=', line.end - line.begin);
    if (equals == nullptr) {
        sink.OnEntry(CutAtNul(text_, line), nullptr);
        return;
    }
    const uint32_t at = static_cast<uint32_t>(static_cast<const char*>(equals) - text_);
    const Range value = CutAtNul(text_, Trim(text_, Range{at + 1, line.end}));
    sink.OnEntry(CutAtNul(text_, Trim(text_, Range{line.begin, at})), &value);
}

// Open addressing over a power-of-two table at most half full; a name keeps
// the index of its first section, which is the one that lookups see.
bool ProfileFile::BuildIndex() {
    const uint32_t count = static_cast<uint32_t>(sections_.Count());
    uint32_t buckets = 16;
    while (buckets < 2 * count) buckets *= 2;
    buckets_ = static_cast<int32_t*>(MemAlloc(static_cast<std::size_t>(buckets) * sizeof(int32_t)));
    if (buckets_ == nullptr) return false;
    std::memset(buckets_, 0xFF, static_cast<std::size_t>(buckets) * sizeof(int32_t));
    bucket_mask_ = buckets - 1;
    for (uint32_t i = 0; i < count; ++i) {
        const auto* section = static_cast<const Section*>(sections_.Item(static_cast<int32_t>(i)));
        if (section->unreachable) continue;
        const char* name = text_ + section->name;
        uint32_t slot = NameHash(name, section->name_length) & bucket_mask_;
        for (;; slot = (slot + 1) & bucket_mask_) {
            const int32_t held = buckets_[slot];
            if (held < 0) {
                buckets_[slot] = static_cast<int32_t>(i);
                break;
            }
            const auto* other = static_cast<const Section*>(sections_.Item(held));
            if (other->name_length == section->name_length &&
                SameName(text_ + other->name, name, section->name_length))
                break;  // a repeated name: the first keeps its place
        }
    }
    return true;
}

bool ProfileFile::Lossy(uint32_t begin, uint32_t end) const {
    if (lossy_ == nullptr) return false;
    for (uint32_t i = begin; i < end; ++i) {
        if (lossy_[i / 8] & (1u << (i % 8))) return true;
    }
    return false;
}

int32_t ProfileFile::FindSection(const char* name, uint32_t length) const {
    if (buckets_ == nullptr) return -1;
    for (uint32_t slot = NameHash(name, length) & bucket_mask_;; slot = (slot + 1) & bucket_mask_) {
        const int32_t held = buckets_[slot];
        if (held < 0) return -1;
        const auto* section = static_cast<const Section*>(sections_.Item(held));
        if (section->name_length == length && SameName(text_ + section->name, name, length))
            return held;
    }
}

const char* ProfileFile::SectionName(int32_t index, uint32_t* length) const {
    const auto* section = static_cast<const Section*>(sections_.Item(index));
    *length = section->name_length;
    return text_ + section->name;
}

bool ProfileFile::FindEntry(const char* section, const char* key, const char** value,
                            uint32_t* length) const {
    uint32_t section_length = 0;
    uint32_t key_length = 0;
    section = TrimQuery(section, &section_length);
    key = TrimQuery(key, &key_length);
    const int32_t index = FindSection(section, section_length);
    if (index < 0) return false;
    const auto* found = static_cast<const Section*>(sections_.Item(index));
    for (uint32_t i = 0; i < found->entry_count; ++i) {
        const auto* entry =
            static_cast<const Entry*>(entries_.Item(static_cast<int32_t>(found->first_entry + i)));
        if (entry->unreachable || entry->name_length != key_length ||
            !SameName(text_ + entry->name, key, key_length))
            continue;
        *value = entry->value == kNoValue ? nullptr : text_ + entry->value;
        *length = entry->value_length;
        return true;
    }
    return false;
}

namespace {

// Writes what fits of a name list whose next name does not fit with room to
// spare: the name cut so that its NUL and the closing NUL end the buffer.
uint32_t CutSectionList(char* out, const char* name, uint32_t room, uint32_t size) {
    std::memcpy(out, name, room - 1);
    out[room - 1] = '\0';
    out[room] = '\0';
    return size - 2;
}

// A pair of quotation marks around the whole text is not part of it.
void Unquote(const char** text, uint32_t* length) {
    const char* t = *text;
    if (*length >= 2 && (t[0] == '"' || t[0] == '\'') && t[*length - 1] == t[0]) {
        ++*text;
        *length -= 2;
    }
}

uint32_t CopyCut(const char* text, uint32_t length, char* buffer, uint32_t size) {
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    return length;
}

uint32_t DigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10u;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10u;
    return 0xFFu;
}

}  // namespace

uint32_t ProfileSectionNames(const ProfileFile* file, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    buffer[0] = '\0';
    if (file == nullptr || size == 1) return 0;
    uint32_t room = size - 1;  // the closing NUL's byte is kept aside
    char* out = buffer;
    for (int32_t i = 0; i < file->SectionCount(); ++i) {
        uint32_t length = 0;
        const char* name = file->SectionName(i, &length);
        if (length == 0) continue;
        if (length + 1 >= room) return CutSectionList(out, name, room, size);
        std::memcpy(out, name, length);
        out[length] = '\0';
        out += length + 1;
        room -= length + 1;
    }
    *out = '\0';
    return static_cast<uint32_t>(out - buffer);
}

uint32_t ProfileString(const ProfileFile* file, const char* section, const char* key,
                       const char* default_value, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    const char* text = nullptr;
    uint32_t length = 0;
    const bool found = file != nullptr && section != nullptr && key != nullptr &&
                       file->FindEntry(section, key, &text, &length) && text != nullptr;
    if (!found) {
        text = default_value != nullptr ? default_value : "";
        std::size_t n = std::strlen(text);
        if (n > ProfileFile::kMaxLength) n = ProfileFile::kMaxLength;
        while (n > 0 && text[n - 1] == ' ') --n;
        length = static_cast<uint32_t>(n);
    }
    Unquote(&text, &length);
    return CopyCut(text, length, buffer, size);
}

uint32_t ProfileInt(const ProfileFile* file, const char* section, const char* key,
                    int32_t default_value) {
    char value[kProfileIntChars + 1];
    if (ProfileString(file, section, key, "", value, sizeof value) == 0)
        return static_cast<uint32_t>(default_value);
    return ProfileInteger(value);
}

uint32_t ProfileInteger(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != '\0' && *p <= ' ') ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint32_t base = 10;
    if (p[0] == '0') {
        if (p[1] == 'x') {
            base = 16;
        } else if (p[1] == 'o') {
            base = 8;
        } else if (p[1] == 'b') {
            base = 2;
        }
        if (base != 10) p += 2;
    }
    uint32_t total = 0;
    for (uint32_t digit; (digit = DigitValue(*p)) < base; ++p) total = total * base + digit;
    return negative ? 0u - total : total;
}
