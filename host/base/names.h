// Names of extracted files, and texts made safe to print: whatever a plug-in
// or a signature file says, a name stays inside its folder and a text cannot
// drive the terminal or break a report.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

// The extension as a folder and suffix: [A-Za-z0-9_-] kept, every other byte
// replaced by '_', at most kMaxExtension characters, "bin" when empty.
constexpr size_t kMaxExtension = 16;
std::string SafeExtension(std::string_view extension);

// The file-name part of an input path, with [A-Za-z0-9._-] kept and other
// bytes replaced by '_', at most kMaxStem characters, "input" when empty.
constexpr size_t kMaxStem = 100;
std::string SafeStem(std::string_view input_path);

// The private plug-in folder of hound scan --signs, made in $TMPDIR, begins
// with this name.
constexpr const char* kSignsFolderPrefix = "hound-signs-";

// A file's name from a file system as a file name here: bytes kept but NUL,
// '/' and control characters, which become '_'; "." and ".." become "_." and
// "_.."; at most kMaxComponent bytes; "_" when empty.
constexpr size_t kMaxComponent = 200;
std::string SafeComponent(std::string_view name);

// The extension of a path's last part, lower case: 1 to 8 letters and
// digits behind its last dot; "" when it has none.
std::string NameExtension(std::string_view path);

// name, or name with "-2", "-3", ... before its extension: never one taken.
// Stems of inputs and names of items alike.
std::string UniqueName(const std::string& name, std::set<std::string>* taken);

// "<stem>-<offset as 16 hex digits>.<extension>", from already safe parts.
std::string ItemFileName(const std::string& stem, uint64_t offset, const std::string& extension);

// The text as valid UTF-8: every byte that does not belong to a well-formed
// sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view text);

// True when every byte of text belongs to a well-formed UTF-8 sequence.
bool IsValidUtf8(std::string_view text);

// The bytes as lower-case hexadecimal, two digits each, and back: for paths
// that are not UTF-8, which a JSON text cannot hold as they are. FromHex
// is false for text that is not an even number of hexadecimal digits.
std::string HexBytes(std::string_view bytes);
bool FromHex(std::string_view hex, std::string* bytes);

// ValidUtf8, with control characters (C0, DEL, C1) replaced by '?'.
std::string Printable(std::string_view text);

// Printable, in single quotes: for paths in messages.
std::string Quoted(std::string_view text);
