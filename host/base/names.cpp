// Names of extracted files, and texts made safe to print.
#include "host/base/names.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace {

bool IsNameByte(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-';
}

std::string KeepOnly(std::string_view text, bool allow_dot, size_t max_length) {
    std::string safe;
    for (char c : text) {
        if (safe.size() == max_length) break;
        safe += IsNameByte(c) || (allow_dot && c == '.') ? c : '_';
    }
    return safe;
}

constexpr uint32_t kReplacement = 0xFFFD;

// Length of the well-formed UTF-8 sequence at text[i] and its code point, or
// 0 when the byte there starts none (overlong forms, surrogates and values
// above U+10FFFF are not well-formed).
size_t DecodeOne(std::string_view text, size_t i, uint32_t* code_point) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    }
    size_t length;
    uint32_t value, minimum;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code_point = value;
    return length;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

template <typename Map>
std::string Recode(std::string_view text, Map map) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = kReplacement;
        const size_t length = DecodeOne(text, i, &cp);
        i += length == 0 ? 1 : length;
        AppendUtf8(out, map(length == 0 ? kReplacement : cp));
    }
    return out;
}

bool IsControl(uint32_t cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

}  // namespace

std::string SafeExtension(std::string_view extension) {
    std::string safe = KeepOnly(extension, false, kMaxExtension);
    return safe.empty() ? "bin" : safe;
}

std::string SafeStem(std::string_view input_path) {
    const size_t slash = input_path.find_last_of('/');
    if (slash != std::string_view::npos) input_path.remove_prefix(slash + 1);
    std::string safe = KeepOnly(input_path, true, kMaxStem);
    return safe.empty() ? "input" : safe;
}

std::string SafeComponent(std::string_view name) {
    std::string safe(name.substr(0, kMaxComponent));
    for (char& c : safe) {
        const auto byte = static_cast<uint8_t>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/') c = '_';
    }
    if (safe.empty()) return "_";
    return safe == "." || safe == ".." ? "_" + safe : safe;
}

std::string NameExtension(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return "";
    std::string extension(path.substr(dot + 1));
    if (extension.empty() || extension.size() > 8) return "";
    for (char& c : extension) {
        if (!std::isalnum(static_cast<unsigned char>(c))) return "";
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension;
}

std::string UniqueName(const std::string& name, std::set<std::string>* taken) {
    std::string candidate = name;
    const size_t dot = std::min(name.find_last_of('.'), name.size());
    for (int n = 2; !taken->insert(candidate).second; ++n) {
        candidate = name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
    }
    return candidate;
}

std::string ItemFileName(const std::string& stem, uint64_t offset, const std::string& extension) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016" PRIx64, offset);
    return stem + "-" + hex + "." + extension;
}

std::string ValidUtf8(std::string_view text) {
    return Recode(text, [](uint32_t cp) { return cp; });
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t cp;
        const size_t length = DecodeOne(text, i, &cp);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string HexBytes(std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (char c : bytes) {
        hex += kDigits[static_cast<uint8_t>(c) >> 4];
        hex += kDigits[static_cast<uint8_t>(c) & 0xF];
    }
    return hex;
}

bool FromHex(std::string_view hex, std::string* bytes) {
    const auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return false;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        out += static_cast<char>(high << 4 | low);
    }
    *bytes = out;
    return true;
}

std::string Printable(std::string_view text) {
    return Recode(text, [](uint32_t cp) { return IsControl(cp) ? uint32_t{'?'} : cp; });
}

std::string Quoted(std::string_view text) { return "'" + Printable(text) + "'"; }
