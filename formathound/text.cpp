// Text files whose opening names them: scripts ("#!" and an interpreter's
// path), XML and SVG, HTML, JSON, RTF, PostScript and EPS, mailboxes and
// single e-mail messages. Every byte of an item must be text: UTF-8 checked
// sequence by sequence (no overlong forms, surrogates or code points past
// U+10FFFF), no control byte but tab, LF, FF, CR and ESC (ISO-2022 mail
// uses it); only RTF's \bin data is left unchecked.
//
// Formats with a closing construct end behind it and the line end that
// follows: XML behind the root element's end tag and any comments or
// processing instructions after it, HTML behind "</html>", JSON behind the
// bracket that closes the top value, RTF behind the brace that balances the
// first, PostScript behind the "%%EOF" of the top level. Scripts, mail and
// PostScript without "%%EOF" have none: they end at the first byte that
// cannot be text, or at the data end. No item is longer than kMaxText:
// an open text stops there, a closed one that has not closed is rejected.
#include <cstring>

#include "formathound/walks.h"

namespace formathound {

namespace {

// Bytes checked as text per read, one structural step each: few at first,
// within the bytes that the gate's test already read, so that a wrong
// candidate costs no more reading.
constexpr uint32_t kFirstChunk = 256, kChunk = 4096;
constexpr uint64_t kMaxText = uint64_t{1} << 30;
// The shortest open text: fewer bytes behind a matching opening are more
// likely chance than a file.
constexpr uint64_t kMinText = 24;
// JSON nesting levels (one bit each) and the shortest JSON item.
constexpr uint32_t kMaxJsonDepth = 256;
constexpr uint64_t kMinJson = 32;
// Element nesting of XML, and the longest root element name kept.
constexpr uint32_t kMaxXmlDepth = 1u << 16;
constexpr uint32_t kMaxName = 64;
// The longest first line of a script or mailbox, and mail header block.
constexpr uint32_t kMaxFirstLine = 512;
constexpr uint64_t kMaxHeaderBlock = 256 * 1024;
// Bytes of the opening that choose the walk: a byte order mark and
// "<!DOCTYPE html".
constexpr uint32_t kHead = 17;

// The first n bytes of p that are text. A UTF-8 sequence cut by the end of
// p counts as not text when whole (nothing follows p), else it is left for
// the next call. *stopped tells whether a byte that cannot be text ended it.
uint32_t TextBytes(const uint8_t* p, uint32_t n, bool whole, bool* stopped) {
    *stopped = true;
    uint32_t i = 0;
    while (i < n) {
        // Eight printable ASCII bytes at once: no high bit, none below 0x20
        // and none 0x7F.
        constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
        for (uint64_t w; n - i >= 8; i += 8) {
            std::memcpy(&w, p + i, 8);
            const uint64_t del = w ^ (0x7F * kOnes);
            if ((w | ((w - 0x20 * kOnes) & ~w) | ((del - kOnes) & ~del)) & kHigh) break;
        }
        if (i == n) break;
        const uint8_t c = p[i];
        if (c >= 0x20 && c < 0x7F) {
            ++i;
            continue;
        }
        if (c < 0x80) {
            if (c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != 0x1B) return i;
            ++i;
            continue;
        }
        uint32_t length = 0;
        uint8_t low = 0x80, high = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;       // overlong
            else if (c == 0xED) high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            else if (c == 0xF4) high = 0x8F;  // past U+10FFFF
        } else {
            return i;
        }
        const uint32_t have = n - i < length ? n - i : length;
        for (uint32_t k = 1; k < have; ++k) {
            const uint8_t b = p[i + k];
            if (k == 1 ? b < low || b > high : b < 0x80 || b > 0xBF) return i;
        }
        if (have < length) {
            *stopped = whole;
            return i;
        }
        i += length;
    }
    *stopped = false;
    return n;
}

// The text from an offset on, byte by byte: the bytes are checked as text
// a chunk ahead of the walk, which sees -1 where the text ends (a byte that
// is no text, the data end, kMaxText, or the step or read budget).
class Cursor {
public:
    Cursor(Source& source, uint64_t at) : source_(source), at_(at) {}

    uint64_t at() const { return at_; }
    int Peek() { return at_ < end_ ? chunk_[at_ - chunk_at_] : Load(); }
    int Take() {
        const int c = Peek();
        if (c >= 0) ++at_;
        return c;
    }
    bool Take(int expected) {
        if (Peek() != expected) return false;
        ++at_;
        return true;
    }
    // True when the text at the cursor begins with s (with ASCII letters of
    // either case when fold, s being lower case); takes it when so.
    bool Take(const char* s, bool fold = false) {
        const size_t n = std::strlen(s);
        if (at_ + n > end_ && !Fill()) return false;
        if (at_ + n > end_) return false;
        const uint8_t* p = chunk_ + (at_ - chunk_at_);
        for (size_t i = 0; i < n; ++i) {
            const uint8_t c = fold && p[i] >= 'A' && p[i] <= 'Z' ? p[i] + 32 : p[i];
            if (c != static_cast<uint8_t>(s[i])) return false;
        }
        at_ += n;
        return true;
    }
    // Takes the bytes for which keep holds; the byte behind them, or -1.
    template <typename Keep>
    int SkipWhile(Keep keep) {
        for (;;) {
            if (at_ >= end_ && !Fill()) return -1;
            const uint8_t *p = chunk_ + (at_ - chunk_at_), *end = chunk_ + (end_ - chunk_at_);
            while (p < end && keep(*p)) ++p;
            at_ = chunk_at_ + static_cast<uint64_t>(p - chunk_);
            if (p < end) return *p;
        }
    }
    // Takes bytes through the end of the line (LF, CRLF or a lone CR);
    // false when the text ends first.
    bool Line() {
        const int c = SkipWhile([](uint8_t b) { return b != '\n' && b != '\r'; });
        if (c < 0) return false;
        Take();
        if (c == '\r') Take('\n');
        return true;
    }
    // Takes a line end when one follows.
    void LineEnd() {
        if (Take('\r')) Take('\n');
        else Take('\n');
    }
    // Takes all text; the cursor stops where it ends.
    uint64_t ToEnd() {
        while (Peek() >= 0) at_ = end_;
        return at_;
    }
    // Moves the cursor back to a UTF-8 sequence start it passed.
    void Seek(uint64_t at) {
        if (at < chunk_at_ || at >= end_) end_ = at;
        at_ = at;
    }
    // Takes count bytes unchecked (RTF's binary data).
    bool SkipRaw(uint64_t count) {
        if (count > source_.size() - at_ || count > kMaxText - at_) return false;
        at_ += count;
        end_ = at_;
        stop_ = ~uint64_t{0};
        return true;
    }

private:
    int Load() { return Fill() ? chunk_[0] : -1; }
    // A fresh chunk from the cursor on; false when no text stands there.
    bool Fill() {
        end_ = at_;
        if (at_ >= stop_) return false;
        const uint64_t limit = source_.size() < kMaxText ? source_.size() : kMaxText;
        if (at_ >= limit) return false;
        const uint32_t count = limit - at_ < chunk_size_ ? static_cast<uint32_t>(limit - at_) : chunk_size_;
        const uint8_t* p = source_.Step() ? source_.Peek(at_, count) : nullptr;
        if (p == nullptr) return false;
        bool stopped = false;
        const uint32_t text = TextBytes(p, count, at_ + count == limit, &stopped);
        if (stopped) stop_ = at_ + text;
        if (text == 0) return false;
        chunk_ = p;
        chunk_at_ = at_;
        end_ = at_ + text;
        chunk_size_ = chunk_size_ < kChunk ? chunk_size_ * 2 : kChunk;
        return true;
    }

    Source& source_;
    uint64_t at_;
    const uint8_t* chunk_ = nullptr;
    uint64_t chunk_at_ = 0, end_ = 0;  // text checked in [chunk_at_, end_)
    uint64_t stop_ = ~uint64_t{0};      // the first byte known not to be text
    uint32_t chunk_size_ = kFirstChunk;
};

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsLetter(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
int Lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

void SkipSpace(Cursor& text) {
    text.SkipWhile([](uint8_t b) { return b == ' ' || b == '\n' || b == '\r' || b == '\t'; });
}

// An open text accepted from offset 0: at least kMinText bytes.
bool Open(Cursor& text, const char* extension, const char* description, Found* found) {
    const uint64_t end = text.ToEnd();
    if (end < kMinText) return false;
    *found = {end, extension, description};
    return true;
}

// Reads the rest of the line into line (not its end, which it takes);
// its length, or false when longer than capacity or the text ends first.
bool ReadLine(Cursor& text, char* line, uint32_t capacity, uint32_t* length) {
    *length = 0;
    for (int c = text.Peek(); c != '\n' && c != '\r'; c = text.Peek()) {
        if (c < 0 || *length == capacity) return false;
        line[(*length)++] = static_cast<char>(text.Take());
    }
    text.LineEnd();
    return true;
}

bool Contains(const char* line, uint32_t length, const char* part) {
    const size_t n = std::strlen(part);
    for (uint32_t i = 0; i + n <= length; ++i) {
        if (std::memcmp(line + i, part, n) == 0) return true;
    }
    return false;
}

// ---- Scripts

struct Interpreter {
    const char* name;  // without version digits
    const char* extension;
    const char* description;
};

constexpr Interpreter kInterpreters[] = {
    {"sh", "sh", "shell script"},       {"bash", "sh", "shell script"},
    {"dash", "sh", "shell script"},     {"zsh", "sh", "shell script"},
    {"ksh", "sh", "shell script"},      {"mksh", "sh", "shell script"},
    {"ash", "sh", "shell script"},      {"busybox", "sh", "shell script"},
    {"csh", "csh", "C shell script"},   {"tcsh", "csh", "C shell script"},
    {"python", "py", "Python script"},  {"pypy", "py", "Python script"},
    {"perl", "pl", "Perl script"},      {"ruby", "rb", "Ruby script"},
    {"node", "js", "JavaScript"},       {"nodejs", "js", "JavaScript"},
    {"php", "php", "PHP script"},       {"awk", "awk", "awk script"},
    {"gawk", "awk", "awk script"},      {"mawk", "awk", "awk script"},
    {"nawk", "awk", "awk script"},      {"sed", "sed", "sed script"},
    {"make", "mk", "makefile"},         {"tclsh", "tcl", "Tcl script"},
    {"wish", "tcl", "Tcl script"},      {"expect", "exp", "Expect script"},
    {"lua", "lua", "Lua script"},       {"Rscript", "r", "R script"},
    {"fish", "fish", "fish script"},    {"pwsh", "ps1", "PowerShell script"},
};

// A path or command name byte of a "#!" line.
bool IsPathByte(int c) {
    return IsLetter(c) || IsDigit(c) || c == '/' || c == '.' || c == '_' || c == '-' || c == '+';
}

// Reads the word at the cursor (path bytes) into word; its length, 0 when
// none or too long.
uint32_t Word(Cursor& text, char* word, uint32_t capacity) {
    uint32_t n = 0;
    while (IsPathByte(text.Peek())) {
        if (n + 1 >= capacity) return 0;
        word[n++] = static_cast<char>(text.Take());
    }
    word[n] = '\0';
    return n;
}

// "#!", the interpreter's absolute path (through env: the command after its
// options), arguments, a line end; then text. Interpreters not known are
// plain text scripts.
bool WalkScript(Cursor& text, Found* found) {
    if (!text.Take("#!")) return false;
    while (text.Peek() == ' ') text.Take();
    char path[kMaxName];
    if (text.Peek() != '/' || Word(text, path, sizeof path) == 0) return false;
    const char* name = std::strrchr(path, '/') + 1;
    char command[kMaxName];
    if (std::strcmp(name, "env") == 0) {
        // env [-S] [NAME=value]... command
        for (;;) {
            while (text.Peek() == ' ' || text.Peek() == '\t') text.Take();
            if (Word(text, command, sizeof command) == 0) return false;
            if (text.Take('=')) {
                while (text.Peek() > ' ' && text.Peek() < 0x7F) text.Take();
            } else if (command[0] != '-') {
                break;
            }
        }
        name = std::strrchr(command, '/') != nullptr ? std::strrchr(command, '/') + 1 : command;
    }
    if (*name == '\0') return false;
    // The rest of the first line: arguments, within kMaxFirstLine.
    uint32_t rest = 0;
    for (int c = text.Peek(); c != '\n' && c != '\r'; c = text.Peek()) {
        if (c < 0 || ++rest > kMaxFirstLine || (c != ' ' && c != '\t' && rest == 1)) return false;
        text.Take();
    }
    text.LineEnd();
    // Versions stand behind the name: python3.11, perl5.36, php8.
    size_t length = std::strlen(name);
    while (length > 1 && (IsDigit(name[length - 1]) || name[length - 1] == '.')) --length;
    for (const Interpreter& known : kInterpreters) {
        if (std::strlen(known.name) == length && std::memcmp(known.name, name, length) == 0) {
            return Open(text, known.extension, known.description, found);
        }
    }
    return Open(text, "txt", "script", found);
}

// ---- XML

// Takes text through the end mark; false when the text ends first.
bool Through(Cursor& text, const char* mark) {
    const uint8_t first = static_cast<uint8_t>(mark[0]);
    while (text.SkipWhile([first](uint8_t b) { return b != first; }) >= 0) {
        if (text.Take(mark)) return true;
        text.Take();
    }
    return false;
}

bool IsNameStart(int c) { return IsLetter(c) || c == '_' || c == ':' || c >= 0x80; }
bool IsNameByte(int c) { return IsNameStart(c) || IsDigit(c) || c == '-' || c == '.'; }

// An XML name into name (when it fits, else cut); its length, 0 for none.
uint32_t Name(Cursor& text, char* name) {
    uint32_t n = 0;
    if (!IsNameStart(text.Peek())) return 0;
    while (IsNameByte(text.Peek())) {
        const int c = text.Take();
        if (n < kMaxName) name[n] = static_cast<char>(c);
        ++n;
    }
    return n;
}

// A start tag's attributes and its end, behind its name: true with *empty
// for "/>".
bool TagEnd(Cursor& text, bool* empty) {
    char name[kMaxName];
    for (;;) {
        const bool spaced = IsSpace(text.Peek());
        SkipSpace(text);
        if (text.Take('>')) {
            *empty = false;
            return true;
        }
        if (text.Take("/>")) {
            *empty = true;
            return true;
        }
        if (!spaced || Name(text, name) == 0) return false;
        SkipSpace(text);
        if (!text.Take('=')) return false;
        SkipSpace(text);
        const int quote = text.Take();
        if (quote != '"' && quote != '\'') return false;
        for (int c; (c = text.Take()) != quote;) {
            if (c < 0 || c == '<') return false;
        }
    }
}

// A comment or processing instruction, behind "<": false when the text
// holds neither. A new XML declaration is the next file's.
bool Misc(Cursor& text) {
    if (text.Take("!--")) return Through(text, "-->");
    if (text.Peek() != '?' || text.Take("?xml ")) return false;
    return Through(text, "?>");
}

// The document type declaration behind "<!DOCTYPE": to its ">", past
// quoted strings and the internal subset with its comments.
bool Doctype(Cursor& text) {
    uint32_t brackets = 0;
    for (;;) {
        const int c = text.Take();
        if (c < 0) return false;
        if (c == '"' || c == '\'') {
            for (int q; (q = text.Take()) != c;) {
                if (q < 0) return false;
            }
        } else if (c == '<' && brackets > 0 && text.Take("!--")) {
            if (!Through(text, "-->")) return false;
        } else if (c == '[') {
            ++brackets;
        } else if (c == ']') {
            if (brackets == 0) return false;
            --brackets;
        } else if (c == '>' && brackets == 0) {
            return true;
        }
    }
}

// The elements from the root's start tag (its name taken) to its end tag.
// Only the depth is kept: inner end tags are not matched to their start.
bool Elements(Cursor& text, const char* root, uint32_t root_length) {
    bool empty = false;
    if (!TagEnd(text, &empty)) return false;
    char name[kMaxName];
    for (uint32_t depth = empty ? 0 : 1; depth > 0;) {
        if (text.SkipWhile([](uint8_t b) { return b != '<'; }) < 0) return false;
        text.Take();
        if (text.Take('/')) {
            const uint32_t n = Name(text, name);
            SkipSpace(text);
            if (n == 0 || !text.Take('>')) return false;
            if (--depth == 0 && (n != root_length || std::memcmp(name, root, n) != 0)) return false;
        } else if (text.Take("![CDATA[")) {
            if (!Through(text, "]]>")) return false;
        } else if (text.Peek() == '!' || text.Peek() == '?') {
            if (!Misc(text)) return false;
        } else {
            if (Name(text, name) == 0 || !TagEnd(text, &empty)) return false;
            if (!empty && ++depth > kMaxXmlDepth) return false;
        }
    }
    return true;
}

// XML from the cursor: declaration (taken by the caller or absent),
// comments, processing instructions and a document type, the root element;
// then comments and processing instructions. The item ends behind the last
// of them and a line end.
bool WalkXml(Cursor& text, Found* found) {
    char root[kMaxName];
    uint32_t root_length = 0;
    for (;;) {
        SkipSpace(text);
        if (!text.Take('<')) return false;
        if (text.Take("!doctype", true)) {
            if (!IsSpace(text.Peek()) || !Doctype(text)) return false;
        } else if (text.Peek() == '!' || text.Peek() == '?') {
            if (!Misc(text)) return false;
        } else {
            root_length = Name(text, root);
            break;
        }
    }
    if (root_length == 0 || root_length > kMaxName || !Elements(text, root, root_length)) return false;
    uint64_t end = text.at();
    for (;;) {
        SkipSpace(text);
        if (!text.Take('<') || !Misc(text)) break;
        end = text.at();
    }
    text.Seek(end);
    text.LineEnd();
    found->size = text.at();
    const bool svg = (root_length == 3 && std::memcmp(root, "svg", 3) == 0) ||
                     (root_length == 7 && std::memcmp(root, "svg:svg", 7) == 0);
    const bool html = root_length == 4 && std::memcmp(root, "html", 4) == 0;
    found->extension = svg ? "svg" : html ? "html" : "xml";
    found->description = svg ? "SVG image" : html ? "XHTML document" : "XML document";
    return true;
}

// ---- HTML

// "<!DOCTYPE html" or "<html" in either case, then text to "</html>" and a
// line end.
bool WalkHtml(Cursor& text, Found* found) {
    if (text.Take("<!doctype", true)) {
        SkipSpace(text);
        if (!text.Take("html", true)) return false;
    } else if (!text.Take("<html", true) || (!IsSpace(text.Peek()) && text.Peek() != '>')) {
        return false;
    }
    while (text.SkipWhile([](uint8_t b) { return b != '<'; }) >= 0) {
        text.Take();
        if (text.Take("/html", true)) {
            SkipSpace(text);
            if (!text.Take('>')) continue;
            text.LineEnd();
            *found = {text.at(), "html", "HTML document"};
            return true;
        }
    }
    return false;
}

// ---- JSON

bool JsonString(Cursor& text) {
    if (!text.Take('"')) return false;
    for (;;) {
        text.SkipWhile([](uint8_t b) { return b != '"' && b != '\\' && b >= 0x20; });
        const int c = text.Take();
        if (c < 0x20) return false;  // control bytes and the end of text
        if (c == '"') return true;
        if (c != '\\') continue;
        const int e = text.Take();
        if (e == 'u') {
            for (int i = 0; i < 4; ++i) {
                const int h = Lower(text.Take());
                if (!IsDigit(h) && (h < 'a' || h > 'f')) return false;
            }
        } else if (e < 0 || std::strchr("\"\\/bfnrt", e) == nullptr) {
            return false;
        }
    }
}

bool Digits(Cursor& text) {
    if (!IsDigit(text.Peek())) return false;
    while (IsDigit(text.Peek())) text.Take();
    return true;
}

bool JsonNumber(Cursor& text) {
    text.Take('-');
    if (!text.Take('0') && !Digits(text)) return false;
    if (text.Take('.') && !Digits(text)) return false;
    if (text.Peek() == 'e' || text.Peek() == 'E') {
        text.Take();
        if (!text.Take('+')) text.Take('-');
        if (!Digits(text)) return false;
    }
    return true;
}

// An object or array, parsed whole with its nesting kept as bits (1 for an
// object); at least one member. Ends behind the closing bracket and a
// line end.
bool WalkJson(Cursor& text, Found* found) {
    uint8_t objects[kMaxJsonDepth / 8] = {};
    uint32_t depth = 0;
    uint64_t members = 0;
    bool value = true;  // a value is due (else a comma or a close)
    for (;;) {
        SkipSpace(text);
        const int c = text.Peek();
        const bool object = depth > 0 && (objects[(depth - 1) / 8] >> ((depth - 1) % 8) & 1);
        if (value) {
            if (c == '{' || c == '[') {
                if (depth == kMaxJsonDepth) return false;
                text.Take();
                objects[depth / 8] = static_cast<uint8_t>((objects[depth / 8] & ~(1u << depth % 8)) |
                                                          (c == '{' ? 1u << depth % 8 : 0));
                ++depth;
                SkipSpace(text);
                if (text.Peek() == (c == '{' ? '}' : ']')) {
                    text.Take();
                    --depth;
                    value = false;
                } else if (c == '{') {
                    if (!JsonString(text)) return false;
                    SkipSpace(text);
                    if (!text.Take(':')) return false;
                    ++members;
                }
                if (depth == 0) break;
                continue;
            }
            if (depth == 0) return false;  // the top is an object or array
            const bool ok = c == '"' ? JsonString(text)
                            : c == 't' ? text.Take("true")
                            : c == 'f' ? text.Take("false")
                            : c == 'n' ? text.Take("null")
                                       : JsonNumber(text);
            if (!ok) return false;
            value = false;
            continue;
        }
        text.Take();
        if (c == ',') {
            value = true;
            if (object) {
                SkipSpace(text);
                if (!JsonString(text)) return false;
                SkipSpace(text);
                if (!text.Take(':')) return false;
                ++members;
            }
        } else if (c == (object ? '}' : ']')) {
            if (--depth == 0) break;
        } else {
            return false;
        }
    }
    text.LineEnd();
    if (members == 0 || text.at() < kMinJson) return false;
    *found = {text.at(), "json", "JSON data"};
    return true;
}

// ---- RTF

// "{\rtf" (most writers add the version, 1), then groups to the brace that
// balances the first: control words with their parameters (\binN takes N
// bytes of any value), control symbols (\{ \} \\ are no braces), text.
// Ends behind the brace and a line end.
bool WalkRtf(Cursor& text, Found* found) {
    if (!text.Take("{\\rtf")) return false;
    char word[8];
    for (uint64_t depth = 1; depth > 0;) {
        text.SkipWhile([](uint8_t b) { return b != '{' && b != '}' && b != '\\'; });
        const int c = text.Take();
        if (c < 0) return false;
        if (c == '{') {
            ++depth;
        } else if (c == '}') {
            --depth;
        } else if (c == '\\') {
            if (!IsLetter(text.Peek())) {
                if (text.Take() < 0) return false;
                continue;
            }
            uint32_t n = 0;
            while (IsLetter(text.Peek())) {
                const int letter = text.Take();
                if (n < sizeof word) word[n] = static_cast<char>(letter);
                ++n;
            }
            const bool negative = text.Take('-');
            uint64_t parameter = 0;
            uint32_t digits = 0;
            while (IsDigit(text.Peek()) && digits++ < 10) parameter = parameter * 10 + (text.Take() - '0');
            if (IsDigit(text.Peek())) return false;
            text.Take(' ');
            if (n == 3 && std::memcmp(word, "bin", 3) == 0 && !negative && !text.SkipRaw(parameter)) return false;
        }
    }
    text.LineEnd();
    *found = {text.at(), "rtf", "RTF document"};
    return true;
}

// ---- PostScript

// "%!PS", then lines to the "%%EOF" line outside every embedded document
// (%%BeginDocument ... %%EndDocument); without one, to the end of text.
// "EPSF" on the first line makes it EPS.
bool WalkPostScript(Cursor& text, Found* found) {
    char line[kMaxFirstLine];
    uint32_t length = 0;
    if (!text.Take("%!PS") || !ReadLine(text, line, sizeof line, &length)) return false;
    const bool eps = Contains(line, length, "EPSF");
    const char* extension = eps ? "eps" : "ps";
    const char* description = eps ? "EPS image" : "PostScript document";
    uint32_t documents = 0;
    do {
        if (!text.Take("%%")) continue;
        if (text.Take("BeginDocument")) {
            ++documents;
        } else if (text.Take("EndDocument")) {
            documents -= documents > 0 ? 1 : 0;
        } else if (documents == 0 && text.Take("EOF")) {
            while (text.Peek() == ' ' || text.Peek() == '\t') text.Take();
            const int c = text.Peek();
            if (c != '\n' && c != '\r' && c >= 0) continue;
            text.LineEnd();
            *found = {text.at(), extension, description};
            return true;
        }
    } while (text.Line());
    return Open(text, extension, description, found);
}

// ---- Mail

// Header fields that mail messages carry; a message needs several.
constexpr const char* kFields[] = {
    "from",          "to",          "cc",          "subject",    "date",
    "message-id",    "received",    "return-path", "delivered-to", "mime-version",
    "content-type",  "reply-to",    "sender",      "in-reply-to", "references",
    "x-mailer",      "user-agent",  "content-transfer-encoding",
};

// A header block to its blank line: fields ("Name:" and a value) and their
// folded lines. The distinct known fields are counted.
bool Headers(Cursor& text, uint32_t* known) {
    uint32_t seen = 0;
    const uint64_t start = text.at();
    while (!text.Take("\r\n") && !text.Take('\n')) {
        if (text.at() - start > kMaxHeaderBlock) return false;
        char name[32];
        uint32_t n = 0;
        for (int c = text.Peek(); c > ' ' && c < 0x7F && c != ':'; c = text.Peek()) {
            if (n < sizeof name) name[n] = static_cast<char>(Lower(c));
            ++n;
            text.Take();
        }
        if (n == 0 || !text.Take(':') || !text.Line()) return false;
        while (text.Peek() == ' ' || text.Peek() == '\t') {
            if (!text.Line()) return false;
        }
        for (uint32_t i = 0; i < sizeof kFields / sizeof kFields[0]; ++i) {
            if (std::strlen(kFields[i]) == n && std::memcmp(kFields[i], name, n) == 0) seen |= 1u << i;
        }
    }
    *known = 0;
    for (; seen != 0; seen &= seen - 1) ++*known;
    return true;
}

// An e-mail message: a header block of at least three known fields, a
// blank line, a body to the end of text.
bool WalkMessage(Cursor& text, Found* found) {
    uint32_t known = 0;
    if (!Headers(text, &known) || known < 3) return false;
    return Open(text, "eml", "e-mail message", found);
}

// A mailbox: "From ", the sender, a date with a month name and a time, then
// a message's header block (two known fields at least); to the end of text.
bool WalkMailbox(Cursor& text, Found* found) {
    if (!text.Take("From ")) return false;
    uint32_t length = 0;
    while (text.Peek() > ' ' && text.Peek() < 0x7F && ++length < kMaxFirstLine) text.Take();
    if (length == 0 || !text.Take(' ')) return false;
    // The date: "Mon Jan  1 00:00:00 2024" or close to it.
    char line[kMaxFirstLine];
    if (!ReadLine(text, line, sizeof line, &length)) return false;
    bool month = false, time = false;
    constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (const char* name : kMonths) month = month || Contains(line, length, name);
    for (uint32_t i = 0; i + 3 <= length; ++i) {
        time = time || (IsDigit(line[i]) && line[i + 1] == ':' && IsDigit(line[i + 2]));
    }
    uint32_t known = 0;
    if (!month || !time || !Headers(text, &known) || known < 2) return false;
    return Open(text, "mbox", "mailbox", found);
}

// True when p begins with s (lower case), in either case.
bool Folded(const uint8_t* p, const char* s) {
    for (; *s != '\0'; ++p, ++s) {
        if (Lower(*p) != *s) return false;
    }
    return true;
}

}  // namespace

namespace {

bool WalkKind(Source& source, Found* found) {
    if (source.size() < kHead) return false;
    const uint8_t* head = source.Peek(0, kHead);
    if (head == nullptr) return false;
    // A UTF-8 byte order mark before XML or HTML.
    const uint32_t bom = std::memcmp(head, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
    Cursor text(source, bom);
    switch (head[bom]) {
    case '#':
        return !bom && WalkScript(text, found);
    case '<': {
        // A document type other than HTML's is XML's; so is "<svg".
        const uint8_t* p = head + bom;
        const bool declared = std::memcmp(p, "<?xml", 5) == 0;
        const bool xml = Folded(p, "<!doctype ") ? !Folded(p + 10, "html") : std::memcmp(p, "<svg", 4) == 0;
        if (declared) {
            return text.Take("<?xml") && IsSpace(text.Peek()) && Through(text, "?>") && WalkXml(text, found);
        }
        return xml ? WalkXml(text, found) : WalkHtml(text, found);
    }
    case '{':
        if (bom) return false;
        return head[1] == '\\' ? WalkRtf(text, found) : WalkJson(text, found);
    case '[':
        return !bom && WalkJson(text, found);
    case '%':
        return !bom && WalkPostScript(text, found);
    default:
        if (bom) return false;
        if (head[4] == ' ' && head[0] == 'F') return WalkMailbox(text, found);
        return WalkMessage(text, found);
    }
}

}  // namespace

// No item is shorter than the opening read to tell its kind, so that an
// item's end does not depend on the bytes behind it.
bool WalkText(Source& source, Found* found) { return WalkKind(source, found) && found->size >= kHead; }

}  // namespace formathound
