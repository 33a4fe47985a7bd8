// Text checker: scripts, XML and SVG, HTML, JSON, RTF, PostScript, mail.
// Every byte is text in the item's charset: UTF-8 (no overlong forms,
// surrogates or code points past U+10FFFF), or ISO-8859-1 or Windows-1252
// where the item declares one (XML's encoding, HTML's meta charset, a mail
// header's charset, a script's coding line, RTF's \ansi code page); no NUL
// and no control byte but tab, LF, FF, CR and ESC.
//
// XML is parsed to its end by libxml2 (no network, no DTD loading, no
// entity substitution, its default limits); JSON by nlohmann-json's parser
// through a handler that bounds the nesting; RTF and HTML by a reading of
// their syntax here. libxml2's HTML parser recovers from every error and
// reports HTML5 elements as errors, so its verdict cannot tell damage from
// a real page: the rule here is that every tag, comment, declaration and
// raw text element (script, style, ...) closes, up to the "</html>" tag.
//
// Ends: JSON behind its top value, RTF behind the brace that balances the
// first, HTML behind "</html>", each and the line end after it; XML,
// PostScript, scripts and mail as formathound's walk finds them (for an
// 8-bit charset, the walk of the text converted to UTF-8).
#include <libxml/parser.h>
#include <libxml/parserInternals.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "host/check/check.h"
#include "host/check/walk_end.h"

namespace {

// Why an item is not valid (CheckResult::reason).
enum TextReason : uint8_t {
    kNoReason,
    kNotText,
    kNoEnd,
    kBadOpening,
    kCharset,
    kTooLong,
    kXml,
    kXmlLimit,
    kHtml,
    kJson,
    kJsonDepth,
    kRtf,
    kEps,
    kReasonCount,
};

const char* const kReasons[] = {
    "",
    "a byte that is not text",
    "no end found",
    "bad opening lines",
    "charset not known",
    "too long to check",
    "XML not well-formed",
    "XML parser limit",
    "HTML markup not closed",
    "JSON syntax",
    "JSON nesting too deep",
    "RTF syntax",
    "EPS without a bounding box",
};
static_assert(std::size(kReasons) == kReasonCount, "one text per reason");

// Bytes converted from an 8-bit charset, parsed by libxml2, or read as
// JSON before its end; nesting levels of JSON.
constexpr uint64_t kMaxConvert = uint64_t{64} << 20;
constexpr uint64_t kMaxParse = uint64_t{256} << 20;
constexpr uint32_t kMaxJsonDepth = 1024;
// libxml2 reports its length limits (10 MB text nodes, attribute values)
// with the codes of real errors: in larger items an error may be a limit.
constexpr uint64_t kXmlTextLimit = 10000000;
// Where HTML declares its charset, as browsers look for it.
constexpr uint64_t kCharsetSearch = 1024;

enum class Charset { kUtf8, kLatin1, kWindows1252, kOther };

enum class Kind { kScript, kXml, kHtml, kJson, kRtf, kPostScript, kMail };

// Windows-1252's 0x80-0x9F; 0: not assigned.
constexpr uint16_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

bool IsControl(uint8_t c) {
    return (c < 0x20 && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1B) || c == 0x7F;
}

int Lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// The code point of an 8-bit byte, 0 where it is no text.
uint32_t CodePoint(uint8_t c, Charset charset) {
    if (c < 0x80) return IsControl(c) ? 0 : c;
    if (c >= 0xA0) return c;
    return charset == Charset::kWindows1252 ? kWindows1252[c - 0x80] : 0;
}

// The length of the UTF-8 sequence at p (at most n bytes), 0 when none.
uint32_t Utf8Length(const uint8_t* p, uint64_t n) {
    const uint8_t c = p[0];
    if (c < 0x80) return IsControl(c) ? 0 : 1;
    uint32_t length = 0;
    uint8_t low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (n < length || p[1] < low || p[1] > high) return 0;
    for (uint32_t k = 2; k < length; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF) return 0;
    }
    return length;
}

// The first offset in [0, n) that is not text in the charset, or n.
uint64_t TextEnd(const uint8_t* p, uint64_t n, Charset charset) {
    for (uint64_t i = 0; i < n;) {
        if (charset == Charset::kUtf8) {
            const uint32_t length = Utf8Length(p + i, n - i);
            if (length == 0) return i;
            i += length;
        } else {
            if (CodePoint(p[i], charset) == 0) return i;
            ++i;
        }
    }
    return n;
}

Charset CharsetNamed(std::string name) {
    for (char& c : name) c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
    if (name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") return Charset::kUtf8;
    if (name == "iso-8859-1" || name == "iso8859-1" || name == "iso_8859-1" || name == "latin1" ||
        name == "latin-1" || name == "l1") {
        return Charset::kLatin1;
    }
    if (name == "windows-1252" || name == "cp1252") return Charset::kWindows1252;
    return Charset::kOther;
}

// The first occurrence of word (lower case) in [from, limit), in either
// case; limit when none.
uint64_t FindFolded(const uint8_t* p, uint64_t from, uint64_t limit, const char* word) {
    const size_t n = std::strlen(word);
    for (uint64_t i = from; i + n <= limit; ++i) {
        size_t k = 0;
        while (k < n && Lower(p[i + k]) == word[k]) ++k;
        if (k == n) return i;
    }
    return limit;
}

// The charset named right behind p[at] (quotes and blanks skipped); *through:
// where its name ends.
Charset CharsetAt(const uint8_t* p, uint64_t at, uint64_t limit, uint64_t* through) {
    while (at < limit && (p[at] == ' ' || p[at] == '"' || p[at] == '\'' || p[at] == '=' || p[at] == ':')) ++at;
    std::string name;
    while (at < limit && name.size() < 40 &&
           (std::isalnum(p[at]) != 0 || p[at] == '-' || p[at] == '_' || p[at] == '.')) {
        name += static_cast<char>(p[at++]);
    }
    *through = at;
    return name.empty() ? Charset::kOther : CharsetNamed(name);
}

// The charset the item declares where its kind lets it; UTF-8 otherwise.
// A declaration counts only inside the item: *through is where it ends (0
// for none), for the caller to hold against the end it finds.
Charset Declared(CheckBytes bytes, Kind kind, uint64_t* through) {
    *through = 0;
    const uint8_t* p = bytes.data;
    const uint64_t head = std::min<uint64_t>(bytes.size, kCharsetSearch);
    uint64_t at = head, limit = head;
    switch (kind) {
        case Kind::kXml: {
            limit = FindFolded(p, 0, head, "?>");
            at = FindFolded(p, 0, limit, "encoding");
            if (at < limit) at += 8;
            break;
        }
        case Kind::kHtml:
        case Kind::kMail:
            // A mail's header block ends at its first blank line.
            if (kind == Kind::kMail) {
                limit = std::min(FindFolded(p, 0, head, "\n\n"), FindFolded(p, 0, head, "\r\n\r\n"));
            }
            at = FindFolded(p, 0, limit, "charset");
            if (at < limit) at += 7;
            break;
        case Kind::kScript: {
            // A coding line among the first two: "coding: latin-1", "coding=...".
            uint64_t lines = 0, end = 0;
            while (end < head && lines < 2) lines += p[end++] == '\n';
            limit = end;
            at = FindFolded(p, 0, limit, "coding");
            if (at < limit && at + 6 < limit && (p[at + 6] == ':' || p[at + 6] == '=')) at += 6;
            else at = limit;
            break;
        }
        default:
            return Charset::kUtf8;
    }
    return at < limit ? CharsetAt(p, at, limit, through) : Charset::kUtf8;
}

Kind KindOf(const uint8_t* p, uint64_t n) {
    auto starts = [&](const char* s, bool fold) {
        const size_t k = std::strlen(s);
        if (n < k) return false;
        for (size_t i = 0; i < k; ++i) {
            if ((fold ? Lower(p[i]) : p[i]) != static_cast<uint8_t>(s[i])) return false;
        }
        return true;
    };
    if (n == 0) return Kind::kMail;
    switch (p[0]) {
        case '#': return Kind::kScript;
        case '<':
            if (starts("<?xml", false) || starts("<svg", false)) return Kind::kXml;
            if (starts("<!doctype ", true)) return n >= 14 && starts("<!doctype html", true) ? Kind::kHtml : Kind::kXml;
            return Kind::kHtml;
        case '{': return n > 1 && p[1] == '\\' ? Kind::kRtf : Kind::kJson;
        case '[': return Kind::kJson;
        case '%': return Kind::kPostScript;
        default: return Kind::kMail;
    }
}

// The line end at p[at] taken: CR LF, LF or CR.
uint64_t LineEnd(CheckBytes bytes, uint64_t at) {
    if (at < bytes.size && bytes.data[at] == '\r') ++at;
    else if (at < bytes.size && bytes.data[at] == '\n') return at + 1;
    else return at;
    return at < bytes.size && bytes.data[at] == '\n' ? at + 1 : at;
}

// ---- formathound's walk, over the text converted from an 8-bit charset

// The walk's end on the item, or for an 8-bit charset on its text
// converted to UTF-8 (where a byte that is no text in the charset becomes
// NUL, ending the text there) and mapped back. 0: no end found, with
// *reason.
uint64_t WalkedEnd(CheckBytes bytes, Charset charset, TextReason* reason) {
    // Another charset may hold text that is also UTF-8 (ASCII, mostly).
    if (charset == Charset::kUtf8 || charset == Charset::kOther) {
        const uint64_t end = WalkEnd(bytes);
        *reason = end == 0 && charset == Charset::kOther ? kCharset : kNoEnd;
        return end;
    }
    const uint64_t source = std::min(bytes.size, kMaxConvert);
    std::vector<uint8_t> utf8;
    utf8.reserve(source + source / 8);
    for (uint64_t i = 0; i < source; ++i) {
        const uint32_t c = bytes.data[i] < 0x80 ? bytes.data[i] : CodePoint(bytes.data[i], charset);
        if (c < 0x80) {
            utf8.push_back(static_cast<uint8_t>(c));
        } else if (c < 0x800) {
            utf8.push_back(static_cast<uint8_t>(0xC0 | c >> 6));
            utf8.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        } else {
            utf8.push_back(static_cast<uint8_t>(0xE0 | c >> 12));
            utf8.push_back(static_cast<uint8_t>(0x80 | (c >> 6 & 0x3F)));
            utf8.push_back(static_cast<uint8_t>(0x80 | (c & 0x3F)));
        }
    }
    const uint64_t converted = WalkEnd({utf8.data(), utf8.size()});
    // Cut by the conversion limit: the walk could not see the end.
    if (source < bytes.size && (converted == 0 || converted == utf8.size())) {
        *reason = kTooLong;
        return 0;
    }
    *reason = kNoEnd;
    uint64_t i = 0;
    for (uint64_t out = 0; out < converted; ++i) {
        const uint32_t c = bytes.data[i] < 0x80 ? bytes.data[i] : CodePoint(bytes.data[i], charset);
        out += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
    return i;
}

// ---- XML

void Quiet(void*, xmlErrorPtr) {}

// libxml2 over [0, end), building no tree: its SAX2 handler keeps the
// document type's declarations (entities must be declared) and drops
// elements, text and the rest.
TextReason XmlParses(CheckBytes bytes, uint64_t end) {
    if (end > kMaxParse) return kTooLong;
    static const bool initialized = (xmlInitParser(), true);
    (void)initialized;
    xmlParserCtxtPtr ctxt = xmlCreateMemoryParserCtxt(reinterpret_cast<const char*>(bytes.data), static_cast<int>(end));
    if (ctxt == nullptr) return kXmlLimit;
    xmlCtxtUseOptions(ctxt, XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    xmlSAXHandler* sax = ctxt->sax;
    sax->startElementNs = nullptr;
    sax->endElementNs = nullptr;
    sax->startElement = nullptr;
    sax->endElement = nullptr;
    sax->characters = nullptr;
    sax->ignorableWhitespace = nullptr;
    sax->cdataBlock = nullptr;
    sax->comment = nullptr;
    sax->processingInstruction = nullptr;
    sax->reference = nullptr;
    sax->serror = Quiet;
    xmlParseDocument(ctxt);
    const bool well_formed = ctxt->wellFormed != 0;
    const int error = ctxt->errNo;
    if (ctxt->myDoc != nullptr) xmlFreeDoc(ctxt->myDoc);
    ctxt->myDoc = nullptr;
    xmlFreeParserCtxt(ctxt);
    if (well_formed) return kNoReason;
    if (error == XML_ERR_INTERNAL_ERROR || error == XML_ERR_NO_MEMORY || error == XML_ERR_ENTITY_LOOP ||
        error == XML_ERR_NAME_TOO_LONG || error == XML_ERR_UNSUPPORTED_ENCODING || end > kXmlTextLimit) {
        return kXmlLimit;
    }
    return kXml;
}

// ---- HTML

bool IsAsciiLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The offset behind the first occurrence of word at or after at, or 0.
uint64_t Behind(CheckBytes bytes, uint64_t at, const char* word, bool fold) {
    const size_t n = std::strlen(word);
    if (!fold) {
        if (at > bytes.size) return 0;
        const void* hit = memmem(bytes.data + at, bytes.size - at, word, n);
        return hit == nullptr ? 0 : static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - bytes.data) + n;
    }
    const uint64_t found = FindFolded(bytes.data, at, bytes.size, word);
    return found == bytes.size ? 0 : found + n;
}

// A start tag's attributes to its '>' from at; the offset behind it, 0
// when a quoted value or the tag does not close.
uint64_t TagEnd(CheckBytes bytes, uint64_t at, bool* empty) {
    const uint8_t* p = bytes.data;
    *empty = false;
    while (at < bytes.size) {
        const uint8_t c = p[at];
        if (c == '>') return at + 1;
        if (c == '/' && at + 1 < bytes.size && p[at + 1] == '>') {
            *empty = true;
            return at + 2;
        }
        if (c == '"' || c == '\'') {
            const void* close = std::memchr(p + at + 1, c, bytes.size - at - 1);
            if (close == nullptr) return 0;
            at = static_cast<uint64_t>(static_cast<const uint8_t*>(close) - p) + 1;
        } else {
            ++at;
        }
    }
    return 0;
}

// HTML from the start: tags, comments and declarations closed, raw text
// elements to their end tag, up to the "</html>" end tag; its end and the
// line end behind it, or 0.
uint64_t HtmlEnd(CheckBytes bytes, uint64_t at) {
    const uint8_t* p = bytes.data;
    const char* const kRaw[] = {"script", "style", "textarea", "title", "xmp"};
    for (;;) {
        const void* open = at < bytes.size ? std::memchr(p + at, '<', bytes.size - at) : nullptr;
        if (open == nullptr) return 0;
        at = static_cast<uint64_t>(static_cast<const uint8_t*>(open) - p) + 1;
        if (at >= bytes.size) return 0;
        if (bytes.size - at >= 3 && std::memcmp(p + at, "!--", 3) == 0) {
            at = Behind(bytes, at + 3, "-->", false);
        } else if (p[at] == '!' || p[at] == '?') {
            at = Behind(bytes, at, ">", false);
        } else if (p[at] == '/' && at + 1 < bytes.size && IsAsciiLetter(p[at + 1])) {
            const uint64_t name = at + 1;
            while (at + 1 < bytes.size && (IsAsciiLetter(p[at + 1]) || std::isdigit(p[at + 1]) != 0)) ++at;
            const bool html = at + 1 - name == 4 && FindFolded(p, name, name + 4, "html") == name;
            at = Behind(bytes, at + 1, ">", false);
            if (html && at != 0) return LineEnd(bytes, at);
        } else if (IsAsciiLetter(p[at])) {
            const uint64_t name = at;
            while (at < bytes.size && (IsAsciiLetter(p[at]) || std::isdigit(p[at]) != 0)) ++at;
            const uint64_t length = at - name;
            bool empty = false;
            at = TagEnd(bytes, at, &empty);
            for (const char* raw : kRaw) {
                if (at == 0 || empty || std::strlen(raw) != length || FindFolded(p, name, at, raw) != name) continue;
                const std::string close = std::string("</") + raw;
                const uint64_t found = FindFolded(p, at, bytes.size, close.c_str());
                at = found == bytes.size ? 0 : found;
            }
        }
        if (at == 0) return 0;
    }
}

// ---- JSON

// A char pointer that tells how far the parser has read.
struct Counted {
    using iterator_category = std::forward_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;
    const char* at;
    const char** furthest;
    reference operator*() const { return *at; }
    Counted& operator++() {
        *furthest = ++at;
        return *this;
    }
    Counted operator++(int) {
        Counted before = *this;
        ++*this;
        return before;
    }
    bool operator==(const Counted& other) const { return at == other.at; }
    bool operator!=(const Counted& other) const { return at != other.at; }
};

// Follows the nesting; stops the parser where the top value closes, at a
// syntax error, or past kMaxJsonDepth.
struct JsonDepth {
    using json = nlohmann::json;
    uint32_t depth = 0;
    bool closed = false, deep = false;
    bool Open() {
        deep = ++depth > kMaxJsonDepth;
        return !deep;
    }
    bool Close() {
        closed = --depth == 0;
        return !closed;
    }
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(json::number_integer_t) { return true; }
    bool number_unsigned(json::number_unsigned_t) { return true; }
    bool number_float(json::number_float_t, const std::string&) { return true; }
    bool string(std::string&) { return true; }
    bool binary(json::binary_t&) { return true; }
    bool key(std::string&) { return true; }
    bool start_object(std::size_t) { return Open(); }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) { return Open(); }
    bool end_array() { return Close(); }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }
};

CheckResult CheckJson(CheckBytes bytes) {
    const uint64_t size = std::min(bytes.size, kMaxParse);
    const char* begin = reinterpret_cast<const char*>(bytes.data);
    const char* furthest = begin;
    JsonDepth handler;
    try {
        nlohmann::json::sax_parse(Counted{begin, &furthest}, Counted{begin + size, &furthest}, &handler,
                                  nlohmann::json::input_format_t::json, false);
    } catch (const std::exception&) {
        return CheckInvalid(kJson);
    }
    if (handler.deep) return CheckUnknown(kJsonDepth);
    if (!handler.closed) return size < bytes.size ? CheckUnknown(kTooLong) : CheckInvalid(kJson);
    return CheckValid(LineEnd(bytes, static_cast<uint64_t>(furthest - begin)));
}

// ---- RTF

// "{\rtf", then groups to the brace that balances the first: control words
// (letters, an optional signed number of up to 10 digits, an optional
// blank), \binN with N bytes of any value, \'hh with two hex digits,
// other control symbols, and text of the document's code page: 8-bit bytes
// only under \ansi (Windows-1252), the code page that RTF writers declare.
CheckResult CheckRtf(CheckBytes bytes) {
    const uint8_t* p = bytes.data;
    if (bytes.size < 5 || std::memcmp(p, "{\\rtf", 5) != 0) return CheckInvalid(kRtf);
    const uint64_t header_end = std::min<uint64_t>(bytes.size, 64);
    const uint64_t ansi = FindFolded(p, 0, header_end, "\\ansi");
    const uint64_t page = FindFolded(p, 0, header_end, "\\ansicpg");
    const bool windows =
        ansi < header_end && (page == header_end || FindFolded(p, page, header_end, "\\ansicpg1252") == page);
    bool unknown = false;
    uint64_t depth = 1;
    for (uint64_t at = 1; at < bytes.size;) {
        const uint8_t c = p[at++];
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            if (--depth == 0) return unknown ? CheckUnknown(kCharset) : CheckValid(LineEnd(bytes, at));
        } else if (c == '\\') {
            if (at >= bytes.size) break;
            if (IsAsciiLetter(p[at])) {
                const uint64_t word = at;
                while (at < bytes.size && IsAsciiLetter(p[at]) && at - word < 32) ++at;
                if (at < bytes.size && IsAsciiLetter(p[at])) return CheckInvalid(kRtf);
                const bool bin = at - word == 3 && std::memcmp(p + word, "bin", 3) == 0;
                const bool negative = at < bytes.size && p[at] == '-';
                at += negative ? 1 : 0;
                uint64_t number = 0, digits = 0;
                while (at < bytes.size && std::isdigit(p[at]) != 0) {
                    if (++digits > 10) return CheckInvalid(kRtf);
                    number = number * 10 + (p[at++] - '0');
                }
                if (at < bytes.size && p[at] == ' ') ++at;
                if (bin && !negative) {
                    if (number > bytes.size - at) break;
                    at += number;
                }
            } else if (p[at] == '\'') {
                if (bytes.size - at < 3) break;
                if (std::isxdigit(p[at + 1]) == 0 || std::isxdigit(p[at + 2]) == 0) return CheckInvalid(kRtf);
                at += 3;
            } else {
                if (IsControl(p[at]) && p[at] != '\n' && p[at] != '\r') return CheckInvalid(kNotText);
                ++at;
            }
        } else if (c >= 0x80) {
            if (!windows) unknown = true;
            else if (CodePoint(c, Charset::kWindows1252) == 0) return CheckInvalid(kNotText);
        } else if (IsControl(c)) {
            return CheckInvalid(kNotText);
        }
    }
    return CheckInvalid(kNoEnd);
}

// ---- Kinds read to the walk's end

// EPS: "%%BoundingBox:" among the comments, with four numbers or "(atend)".
bool BoundingBoxHolds(CheckBytes bytes, uint64_t end) {
    const uint64_t at = Behind({bytes.data, end}, 0, "\n%%BoundingBox:", false);
    if (at == 0) return false;
    const char* p = reinterpret_cast<const char*>(bytes.data + at);
    const std::string line(p, std::find(p, reinterpret_cast<const char*>(bytes.data + end), '\n'));
    if (line.find("(atend)") != std::string::npos) return true;
    double box[4];
    return std::sscanf(line.c_str(), "%lf %lf %lf %lf", &box[0], &box[1], &box[2], &box[3]) == 4;
}

// The last line of [0, end) is "%%EOF".
bool EndsWithEof(CheckBytes bytes, uint64_t end) {
    uint64_t last = end;
    while (last > 0 && (bytes.data[last - 1] == '\n' || bytes.data[last - 1] == '\r' || bytes.data[last - 1] == ' ' ||
                        bytes.data[last - 1] == '\t')) {
        --last;
    }
    return last >= 6 && (bytes.data[last - 6] == '\n' || bytes.data[last - 6] == '\r') &&
           std::memcmp(bytes.data + last - 5, "%%EOF", 5) == 0;
}

// XML, PostScript, scripts and mail: the walk's end, then libxml2 for XML;
// PostScript that follows the document structuring conventions
// ("%!PS-Adobe-") must end with "%%EOF", EPS name its bounding box.
CheckResult CheckWalked(CheckBytes bytes, Kind kind) {
    uint64_t declared = 0;
    Charset charset = Declared(bytes, kind, &declared);
    TextReason reason = kNoReason;
    uint64_t end = WalkedEnd(bytes, charset, &reason);
    // A declaration behind the text it would read is not the item's: the
    // end would then depend on bytes behind the item.
    if (declared > end && charset != Charset::kUtf8) {
        charset = Charset::kUtf8;
        end = WalkedEnd(bytes, charset, &reason);
    }
    if (end == 0) {
        if (reason == kTooLong || reason == kCharset) return CheckUnknown(reason);
        return CheckInvalid(kind == Kind::kXml ? kNoEnd : kBadOpening);
    }
    if (kind == Kind::kXml) {
        const TextReason xml = XmlParses(bytes, end);
        if (xml == kXmlLimit || xml == kTooLong) return CheckUnknown(xml);
        if (xml != kNoReason) return CheckInvalid(xml);
    }
    if (kind == Kind::kPostScript) {
        const uint8_t* line_end = static_cast<const uint8_t*>(std::memchr(bytes.data, '\n', end));
        const std::string line(bytes.data, line_end != nullptr ? line_end : bytes.data + end);
        if (line.compare(0, 11, "%!PS-Adobe-") == 0 && !EndsWithEof(bytes, end)) return CheckInvalid(kNoEnd);
        if (line.find("EPSF") != std::string::npos && !BoundingBoxHolds(bytes, end)) return CheckInvalid(kEps);
    }
    return CheckValid(end);
}

CheckResult CheckHtml(CheckBytes bytes, uint64_t start) {
    const uint64_t end = HtmlEnd(bytes, start);
    // Another charset may hold text that is also UTF-8 (ASCII, mostly).
    uint64_t declared = 0;
    Charset charset = Declared(bytes, Kind::kHtml, &declared);
    if (end != 0 && declared > end) charset = Charset::kUtf8;
    const uint64_t scan = end != 0 ? end : std::min(bytes.size, kMaxConvert);
    if (TextEnd(bytes.data + start, scan - start, charset == Charset::kOther ? Charset::kUtf8 : charset) <
        scan - start) {
        return charset == Charset::kOther ? CheckUnknown(kCharset) : CheckInvalid(kNotText);
    }
    if (end == 0) return bytes.size > kMaxConvert ? CheckUnknown(kTooLong) : CheckInvalid(kHtml);
    return CheckValid(end);
}

CheckResult CheckText(CheckBytes bytes) {
    const uint64_t start = bytes.size >= 3 && std::memcmp(bytes.data, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    const Kind kind = KindOf(bytes.data + start, bytes.size - start);
    switch (kind) {
        case Kind::kJson: return start == 0 ? CheckJson(bytes) : CheckInvalid(kBadOpening);
        case Kind::kRtf: return start == 0 ? CheckRtf(bytes) : CheckInvalid(kBadOpening);
        case Kind::kHtml: return CheckHtml(bytes, start);
        default: return CheckWalked(bytes, kind);
    }
}

}  // namespace

extern const Checker kTextChecker = {CheckText, kReasons, std::size(kReasons), nullptr};
