// Text layer: String's growth and copying, the byte-text functions and the
// field splitter with its module-wide result text.
#include "markhound/support/text.h"

#include <cstring>

namespace {

// What a String without a block hands out.
const char kEmptyText[1] = {'\0'};

// Largest reservation whose block size (n + 6 bytes) still counts in 32 bits.
constexpr int32_t kMaxReserve = INT32_MAX - 6;

// The result of Token: lives from module load to unload.
String g_token_text;

bool IsDelimiter(char c, const char* delims) { return StrFindChar(delims, c) != nullptr; }

}  // namespace

char* StrAlloc(int32_t n) {
    if (n < 0) return nullptr;
    char* block = static_cast<char*>(MemAlloc(static_cast<std::size_t>(n) + 1));
    if (block != nullptr) std::memset(block, 0, static_cast<std::size_t>(n) + 1);
    return block;
}

char* StrRealloc(char* p, int32_t n) {
    char* block = StrAlloc(n);
    if (block == nullptr) return nullptr;
    StrCopy(block, p, static_cast<uint32_t>(n));
    block[n] = '\0';
    MemFree(p);
    return block;
}

void StrFree(char* p) { MemFree(p); }

int32_t StrLen(const char* s) {
    return s == nullptr ? 0 : static_cast<int32_t>(std::strlen(s));
}

const char* StrFindChar(const char* s, char c) {
    if (s == nullptr || c == '\0') return nullptr;
    for (; *s != '\0'; ++s) {
        if (*s == c) return s;
    }
    return nullptr;
}

const char* StrFindLastChar(const char* s, char c) {
    if (s == nullptr || c == '\0') return nullptr;
    const char* found = nullptr;
    for (; *s != '\0'; ++s) {
        if (*s == c) found = s;
    }
    return found;
}

char* StrCopy(char* dst, const char* src, uint32_t size) {
    // A buffer of 0 bytes has no room even for the terminator.
    if (dst == nullptr || size == 0) return dst;
    dst[0] = '\0';
    if (src == nullptr) return dst;
    if (size == kStrCopyUnbounded) return std::strcpy(dst, src);
    std::strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
    return dst;
}

int32_t TokenCount(const char* s, const char* delims) {
    if (s == nullptr || delims == nullptr || *s == '\0' || *delims == '\0') return 0;
    int32_t count = 1;
    for (; *s != '\0'; ++s) {
        if (IsDelimiter(*s, delims)) ++count;
    }
    return count;
}

const char* Token(const char* s, int32_t n, const char* delims) {
    if (s == nullptr) s = kEmptyText;
    int32_t field = 1;
    for (; *s != '\0' && field < n; ++s) {
        if (IsDelimiter(*s, delims)) ++field;
    }
    g_token_text.Assign(kEmptyText);
    if (field == n) {
        for (; *s != '\0' && !IsDelimiter(*s, delims); ++s) g_token_text.AppendChar(*s);
    }
    return g_token_text.Text();
}

String::String(const char* src, int32_t n) { Assign(src, n); }

String::String(const String& other) { Assign(other.Text()); }

String& String::operator=(const String& other) {
    Assign(other.Text());
    return *this;
}

String::~String() {
    if (text_ != nullptr) {
        StrFree(text_);
        text_ = nullptr;
    }
}

const char* String::Text() const { return text_ != nullptr ? text_ : kEmptyText; }

const char* String::Reserve(int32_t n) {
    if (n < capacity_ || n > kMaxReserve) return Text();
    char* block = text_ != nullptr ? StrRealloc(text_, n + 5) : StrAlloc(n + 5);
    if (block == nullptr) return Text();  // out of memory: keep the old block
    text_ = block;
    capacity_ = n + 5;
    return Text();
}

const char* String::Assign(const char* src, int32_t n) {
    if (n < 0) n = StrLen(src);
    if (n > capacity_ || text_ == nullptr) Reserve(n < kMaxReserve ? n + 1 : n);
    if (src != nullptr && src != text_) {
        if (text_ == nullptr) return Text();  // no block could be had
        if (n > capacity_) n = capacity_;     // the block did not grow: cut
        MemMove(text_, src, static_cast<std::size_t>(n));
        length_ = n;
        text_[n] = '\0';
    } else {
        length_ = StrLen(text_);
    }
    return Text();
}

String& String::Append(const String& other) {
    const int64_t needed = static_cast<int64_t>(length_) + other.length_;
    if (needed < kMaxReserve) Reserve(static_cast<int32_t>(needed + 1));
    if (text_ == nullptr) return *this;
    // Read other's text only now: it may be this object, moved by Reserve.
    const char* src = other.Text();
    const int32_t end = StrLen(text_);
    const int32_t count = StrLen(src);
    if (needed < capacity_) {
        MemMove(text_ + end, src, static_cast<std::size_t>(count) + 1);
        length_ += other.length_;
    } else {
        // The block did not grow: add only the characters that fit.
        const int32_t fits = count < capacity_ - end ? count : capacity_ - end;
        MemMove(text_ + end, src, static_cast<std::size_t>(fits));
        text_[end + fits] = '\0';
        length_ = end + fits;
    }
    return *this;
}

String String::AppendChar(char c) {
    if (c != '\0') {
        if (length_ + 1 >= capacity_ && length_ < kMaxReserve - 10) Reserve(length_ + 10);
        // Without growth the character still goes in when the block has room.
        if (text_ != nullptr && length_ < capacity_) {
            text_[length_] = c;
            ++length_;
            text_[length_] = '\0';
        }
    }
    return String(*this);
}

int32_t String::CharAt(int32_t index) const {
    if (text_ == nullptr || index < 0 || index > length_) return 0;
    return static_cast<int8_t>(text_[index]);
}
