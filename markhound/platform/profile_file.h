// Profile (INI) files read as the Windows profile functions read them:
// ProfileFile parses the bytes of one file, and the Profile* functions answer
// with the buffer rules of GetPrivateProfileSectionNamesA, ...StringA and
// ...IntA. No file access here: the platform layer supplies the bytes.
#pragma once
#include <cstddef>
#include <cstdint>

#include "markhound/support/arrays.h"

// One parsed file. Names and values stay ranges of the file's own text, so
// parsing is two linear passes (count, then store) and a lookup copies nothing.
//
// The file's lines, as Windows reads them:
// - A file that begins with a byte order mark of UTF-8, UTF-16LE or
//   UTF-16BE is Unicode text; it is read as its conversion to the ANSI code
//   page 1252 (see ToAnsiText). Any other file is taken byte for byte. A
//   section or entry name that lost a character in the conversion is listed
//   but found by no query, since Windows compares the Unicode names.
// - A line ends at CR, LF or CR LF. Blanks (space, tab, VT, FF, and 0x1A)
//   around a line, a name or a value are not part of it.
// - A line that begins with "[" and holds a later "]" opens a section; its
//   name is the text up to the last "]", without blanks around it.
// - Every other non-blank line is an entry of the current section: the name
//   before its first "=", the value behind it; a line without "=" is an entry
//   without a value. Comment lines (";...") are such entries too; no query
//   for a name without ";" can reach them.
// - Entries before the first section belong to an unnamed section.
// - A NUL byte ends a name or value (after the blanks are taken off).
// - The first section of a name (ASCII letter case aside) is the one that is
//   searched, and in it the first entry of a name; later ones are never seen,
//   although every section name is listed where it stands.
class ProfileFile : public HeapObject {
public:
    // Offsets into the text are 32-bit; longer files read as unreadable.
    static constexpr std::size_t kMaxLength = 0xFFFFFFF0u;

    ProfileFile();
    ~ProfileFile();
    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    // Parses a copy of the bytes. False when memory ran out or the text is
    // too long; the file then holds nothing.
    bool Parse(const char* bytes, std::size_t length);
    // As Parse, taking over block (a MemAlloc block), which is freed in every case.
    bool Adopt(char* block, std::size_t length);
    // True when the parsed file was exactly these bytes.
    bool HoldsText(const char* bytes, std::size_t length) const;

    // Sections in file order; index 0 is the unnamed one before the first
    // header. A name is not NUL-terminated; its length goes to *length.
    int32_t SectionCount() const { return sections_.Count(); }
    const char* SectionName(int32_t index, uint32_t* length) const;

    // The entry key of section (both without blanks around them). False when
    // either is absent. *value is null for an entry without "=".
    bool FindEntry(const char* section, const char* key, const char** value,
                   uint32_t* length) const;

private:
    struct Section;
    struct Entry;
    class Counter;
    class Builder;

    void Reset();
    bool Lossy(uint32_t begin, uint32_t end) const;  // any substitute in [begin, end)
    template <class Sink>
    void Scan(Sink& sink) const;
    template <class Sink>
    void ScanLine(uint32_t begin, uint32_t end, Sink& sink) const;
    bool BuildIndex();
    int32_t FindSection(const char* name, uint32_t length) const;

    char* text_ = nullptr;
    uint32_t length_ = 0;
    char* raw_ = nullptr;  // the file's own bytes, kept when text_ is their conversion
    uint32_t raw_length_ = 0;
    uint8_t* lossy_ = nullptr;  // with raw_: output positions that hold a substitute
    ItemArray sections_;
    ItemArray entries_;
    int32_t* buckets_ = nullptr;  // first section of each name, by hash; -1 empty
    uint32_t bucket_mask_ = 0;
};

// True when bytes begin with the byte order mark of UTF-8 (EF BB BF),
// UTF-16LE (FF FE) or UTF-16BE (FE FF).
bool HasUnicodeMark(const char* bytes, std::size_t length);

// The Unicode text bytes[0 .. length), which begins with a byte order mark,
// converted to code page 1252 into out, which has room for length bytes; the
// result is the length of the conversion, which is never longer. lossy, when
// not null, is a zeroed bitmap of length / 8 + 1 bytes; the bit of each
// output position that holds a substitute "?" is set. As Windows
// converts: every UTF-16 unit that code page 1252 lacks, each half of a
// surrogate pair included, becomes "?"; a code point above U+FFFF counts as
// two such units; a malformed UTF-8 sequence becomes one "?" (a lead byte
// with the continuation bytes that were valid up to the fault). An odd last
// byte of UTF-16 text, which Windows reads unreliably, is taken as a unit
// whose other byte is zero. Letters that Windows maps to a
// similar one ("best fit", such as a with macron to a) become "?" here.
std::size_t ToAnsiText(const char* bytes, std::size_t length, char* out, uint8_t* lossy);

// GetPrivateProfileSectionNamesA: the section names, each ended by a NUL, and
// one more NUL. A name that does not fit is cut so that it and the closing
// NUL end the buffer, the names behind it are left out, and the result is
// size - 2; otherwise the result is the length of the list without its
// closing NUL. Unnamed sections are not listed. A null file (missing or
// unreadable) lists nothing.
uint32_t ProfileSectionNames(const ProfileFile* file, char* buffer, uint32_t size);

// GetPrivateProfileStringA: the value of key in section, or default_value
// (without its trailing spaces) when the file, the section or the key is
// absent or the entry has no "=". A pair of quotation marks (" or ') around
// the whole text is removed. The text is cut to size - 1 characters and a
// NUL; the result is the number of characters copied. A null section or key
// (which Windows answers with lists of names) gets default_value too.
uint32_t ProfileString(const ProfileFile* file, const char* section, const char* key,
                       const char* default_value, char* buffer, uint32_t size);

// GetPrivateProfileIntA: the value of key read by ProfileInteger, or
// default_value when the value is absent or empty. Windows reads at most
// the first kProfileIntChars characters of the value.
constexpr uint32_t kProfileIntChars = 29;
uint32_t ProfileInt(const ProfileFile* file, const char* section, const char* key,
                    int32_t default_value);

// The integer of a value, as Windows reads one: leading characters up to
// the space code skipped, one optional sign, then the prefix 0x
// (hexadecimal), 0o (octal) or 0b (binary), in small letters only, else
// decimal; digits up to the first that the base does not have, taken modulo
// 2^32, negated for "-".
uint32_t ProfileInteger(const char* text);
