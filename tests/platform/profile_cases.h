// Profile files and the answers that the Windows profile functions give for
// them (as observed under Wine), shared by the tests of the stand-ins.
#pragma once
#include <cstdint>
#include <string>

using namespace std::string_literals;

// GetPrivateProfileStringA with a 261-byte buffer and the empty default.
struct ValueCase {
    const char* rule;
    std::string file;
    const char* section;
    const char* key;
    std::string expected;
};

inline const ValueCase kValueCases[] = {
    {"section and key without regard to case", "[CaSe]\nKey=v\n", "case", "KEY", "v"},
    {"blanks around key and value", "[s]\n  k \t=  v v \t\n", "s", "k", "v v"},
    {"blanks inside the brackets", "[ spaced ]\nk=v\n", "spaced", "k", "v"},
    {"blanks around the query names", "[s]\nk=v\n", " s\t", " k ", "v"},
    {"VT, FF and 0x1A are blanks", "[s]\nk=\v\f\x1Av\x1A\n", "s", "k", "v"},
    {"NBSP and control codes are not", "[s]\nk=\xA0v\x01\n", "s", "k", "\xA0v\x01"},
    {"CR LF line ends", "[s]\r\nk=v\r\n", "s", "k", "v"},
    {"lone CR line ends", "[a]\rk=1\r[b]\rk=2\r", "b", "k", "2"},
    {"no final line end", "[s]\nk=last", "s", "k", "last"},
    {"value holding =", "[s]\nk=a=b\n", "s", "k", "a=b"},
    {"empty value", "[s]\nk=\nk=later\n", "s", "k", ""},
    {"first of repeated keys", "[s]\nk=1\nk=2\n", "s", "k", "1"},
    {"first of repeated sections", "[d]\nk=1\n[d]\nk=2\n", "d", "k", "1"},
    {"keys of a repeated section unseen", "[d]\nk=1\n[D]\nj=2\n", "d", "j", ""},
    {"line without = hides a later key", "[s]\nk\nk=later\n", "s", "k", ""},
    {"comment line", "[s]\n;k=1\n  ; k=2\nk=3\n", "s", "k", "3"},
    {"comment line as an entry", "[s]\n;k=1\n", "s", ";k", "1"},
    {"commented section header", "[a]\nk=1\n;[b]\nk=2\n", "a", "k", "1"},
    {"no section behind a comment", "[a]\nk=1\n;[b]\nk=2\n", "b", "k", ""},
    {"keys before the first section", "k=pre\n[s]\nk=v\n", "", "k", "pre"},
    {"... are not in the first section", "k=pre\n[s]\n", "s", "k", ""},
    {"name up to the last ]", "[a]b]\nk=v\n", "a]b", "k", "v"},
    {"... not the first", "[a]b]\nk=v\n", "a", "k", ""},
    {"text behind ]", "[last] junk\nk=v", "last", "k", "v"},
    {"[ without ] opens nothing", "[s]\n[x\nk=v\n", "s", "k", "v"},
    {"... and is an entry", "[s]\n[abc=1\n", "s", "[abc", "1"},
    {"empty section name", "[s]\n[]\nk=v\n", "s", "k", ""},
    {"empty key name", "[s]\n=v\n", "s", "", "v"},
    {"apostrophes around the value", "[s]\nk='A'\n", "s", "k", "A"},
    {"quotation marks around the value", "[s]\nk=\"quoted\"\n", "s", "k", "quoted"},
    {"blanks inside quotation marks", "[s]\nk= \" in \" \n", "s", "k", " in "},
    {"a lone quote mark", "[s]\nk='\n", "s", "k", "'"},
    {"an empty quoted value", "[s]\nk=''\n", "s", "k", ""},
    {"unmatched quote marks", "[s]\nk='a\"\n", "s", "k", "'a\""},
    {"NUL ends a section name", "[nul\0x]\nk=v\n"s, "nul", "k", "v"},
    {"NUL ends a value", "[s]\nk=a\0b\n"s, "s", "k", "a"},
    {"NUL after the blanks are taken off", "[s]\nk=  c \0 d\n"s, "s", "k", "c "},
    {"NUL ends a key name", "[s]\nn\0ame=1\n"s, "s", "n", "1"},
    {"NUL at the start of a line", "[s]\n\0k=v\n"s, "s", "k", ""},
    {"UTF-8 byte order mark", "\xEF\xBB\xBF[bom]\nk=b\n", "bom", "k", "b"},
    {"letters beyond ASCII keep their case", "[\xE9t\xE9]\nk=1\n", "\xC9T\xC9", "k", ""},
    {"empty file", "", "s", "k", ""},
};

// GetPrivateProfileIntA of the key k with the value as written in the file.
struct IntCase {
    const char* value;
    int32_t default_value;
    uint32_t expected;
};

inline const IntCase kIntCases[] = {
    {"12", 77, 12},
    {"010", 77, 10},
    {"08", 77, 8},
    {"0x1F", 77, 31},
    {"0X1F", 77, 0},
    {"0xab", 77, 171},
    {"0o17", 77, 15},
    {"0b101", 77, 5},
    {"0O17", 77, 0},
    {"0B101", 77, 0},
    {"0b2", 77, 0},
    {"0x", 77, 0},
    {"0xg", 77, 0},
    {"0x-5", 77, 0},
    {"0x 5", 77, 0},
    {"-5", 77, 0xFFFFFFFBu},
    {"-1", 77, 0xFFFFFFFFu},
    {"+5", 77, 5},
    {"-0x10", 77, 0xFFFFFFF0u},
    {"--3", 77, 0},
    {"+-5", 77, 0},
    {"- 3", 77, 0},
    {"-0", 77, 0},
    {"+", 77, 0},
    {"4294967297", 77, 1},
    {"99999999999", 77, 0x4876E7FFu},
    {"0xFFFFFFFF", 77, 0xFFFFFFFFu},
    {"0x80000000", 77, 0x80000000u},
    {"12abc", 77, 12},
    {"1 2", 77, 1},
    {"1Fh", 77, 1},
    {"abc", 77, 0},
    {"x1", 77, 0},
    {"\x01" "7", 77, 7},
    {"\x7f" "5", 77, 0},
    {"' 5'", 77, 5},
    {"'\t9'", 77, 9},
    {"'12'", 77, 12},
    {"\"7\"", 77, 7},
    {"", 77, 77},
    {"''", 77, 77},
    {"", -3, 0xFFFFFFFDu},
    // Only the first 29 characters are read.
    {"000000000000000000000000000000000000000012", 77, 0},
    {"1000000000000000000000000000000000000000", 77, 0x10000000u},
};

// GetPrivateProfileSectionNamesA of kNamesFile with a buffer of size bytes:
// the list up to its closing NUL, and the result; cut: a name did not fit.
inline const std::string kNamesFile = "[section1]\r\n[section2]\r\n[section3]\r\n";

struct NamesCase {
    uint32_t size;
    std::string list;
    uint32_t result;
    bool cut;
};

inline const NamesCase kNamesCases[] = {
    {1, "\0"s, 0, true},
    {2, "\0"s, 0, true},
    {3, "s\0"s, 1, true},
    {9, "section\0"s, 7, true},
    {10, "section1\0"s, 8, true},
    {11, "section1\0\0"s, 9, true},
    {12, "section1\0s\0"s, 10, true},
    {19, "section1\0section2\0"s, 17, true},
    {20, "section1\0section2\0\0"s, 18, true},
    {27, "section1\0section2\0section\0"s, 25, true},
    // The list fits exactly, yet counts as cut.
    {28, "section1\0section2\0section3\0"s, 26, true},
    {29, "section1\0section2\0section3\0\0"s, 27, false},
    {30, "section1\0section2\0section3\0\0"s, 27, false},
};
