// Text layer: the owned text object String, its block routines, the plain
// functions on zero-terminated byte texts and the field splitter.
#pragma once
#include <cstdint>

#include "markhound/support/memory.h"

// StrCopy's size that copies the whole source without any bound.
constexpr uint32_t kStrCopyUnbounded = 0xFFFFFFFFu;

// A block for n characters and a terminator, all n + 1 bytes zero; null when
// no memory is left (or n is negative).
char* StrAlloc(int32_t n);
// A new block of StrAlloc(n) holding at most n - 1 characters of p; p is
// released. Null when no memory is left, and p is then left untouched.
char* StrRealloc(char* p, int32_t n);
void StrFree(char* p);

// Characters before the terminator; 0 for null.
int32_t StrLen(const char* s);
// First (last) character of s equal to the byte c, or null; null for a null
// or empty s and for c == 0 (the terminator is never a match).
const char* StrFindChar(const char* s, char c);
const char* StrFindLastChar(const char* s, char c);
inline char* StrFindChar(char* s, char c) {
    return const_cast<char*>(StrFindChar(static_cast<const char*>(s), c));
}
inline char* StrFindLastChar(char* s, char c) {
    return const_cast<char*>(StrFindLastChar(static_cast<const char*>(s), c));
}
// Copies src into the buffer dst of size bytes: at most size - 1 characters
// (zero-filled behind a shorter src) and a terminator; a null src leaves dst
// empty; size 0 writes nothing; kStrCopyUnbounded copies all of src. Gives
// dst, or null for a null dst.
char* StrCopy(char* dst, const char* src, uint32_t size);

// Fields of s cut at every character of delims: 1 + the delimiters in s;
// 0 when s or delims is null or empty. Empty fields count.
int32_t TokenCount(const char* s, const char* delims);
// Field n of s (counted from 1), without white space removal; the empty text
// for an empty field and for n out of range. The result lives in one
// module-wide text that the next call overwrites.
const char* Token(const char* s, int32_t n, const char* delims);

// An owned, growable text. A String without a block reads as the empty text.
// Growth adds fixed slack: 5 characters on every reservation, 10 more when a
// single character needs room.
//
// Out of memory: a failed reservation leaves the object exactly as it was;
// Assign then stores only what fits (cut to the capacity, or nothing without
// a block) and Append/AppendChar add nothing that does not fit.
class String : public HeapObject {
public:
    constexpr String() noexcept {}
    // n == -1 (any negative n) stands for the whole of src.
    explicit String(const char* src, int32_t n = -1);
    String(const String& other);
    String& operator=(const String& other);
    virtual ~String();

    // Copies exactly n bytes of src (all of it for n == -1); a null src or
    // the object's own text recounts the length. Gives Text().
    const char* Assign(const char* src, int32_t n = -1);
    // Room for n characters: when n >= capacity, capacity becomes n + 5.
    const char* Reserve(int32_t n);
    const char* Text() const;
    int32_t Length() const { return length_; }
    int32_t Capacity() const { return capacity_; }
    // Adds other's text behind the object's own text.
    String& Append(const String& other);
    // Adds c (nothing for c == 0) and gives a copy of the result.
    String AppendChar(char c);
    // The character at index as a signed 8-bit value; 0 outside 0..length.
    int32_t CharAt(int32_t index) const;

private:
    char* text_ = nullptr;
    int32_t length_ = 0;
    int32_t capacity_ = 0;
};
