// Path helpers: pure text work on Windows-form paths, with the two result
// buffers of DirPart and FilePart kept apart so a caller may hold one of each.
#include "markhound/support/paths.h"

#include <cstring>

namespace {

char g_dir_part[kPathBufferSize];
char g_file_part[kPathBufferSize];

const char kLongPathPrefix[] = "\\\\?\\";

// "UNC\" (in any case) opens the network form of a long path: \\?\UNC\server\share.
bool IsLongUncMarker(const char* p) {
    return (p[0] == 'U' || p[0] == 'u') && (p[1] == 'N' || p[1] == 'n') &&
           (p[2] == 'C' || p[2] == 'c') && p[3] == '\\';
}

}  // namespace

int IsAbsolutePath(const char* path) {
    if (path == nullptr) return 0;
    const char* p = path;
    if (std::strncmp(p, kLongPathPrefix, 4) == 0) {
        p += 4;
        if (IsLongUncMarker(p)) return 1;
    }
    if (p[0] == '\\' && p[1] == '\\') return 1;  // network path
    return p[0] != '\0' && p[1] == ':' && p[2] == '\\' ? 1 : 0;
}

char* AddTrailingChar(char* text, char c) {
    if (text == nullptr || text[0] == '\0') return text;
    const int32_t length = StrLen(text);
    if (text[length - 1] != c) {
        text[length] = c;
        text[length + 1] = '\0';
    }
    return text;
}

String WithTrailingChar(const String& s, char c) {
    String copy(s);
    const int32_t length = copy.Length();
    if (length > 0 && copy.CharAt(length - 1) != static_cast<int8_t>(c)) copy.AppendChar(c);
    return copy;
}

const char* DirPart(const char* path, char sep) {
    // The separator is searched in the copy: only its 260 characters count.
    StrCopy(g_dir_part, path, kPathBufferSize);
    char* last = StrFindLastChar(g_dir_part, sep);
    if (last != nullptr) {
        *last = '\0';
    } else {
        g_dir_part[0] = '\0';
    }
    // The cut removed at least one character, so the backslash has room.
    return AddTrailingChar(g_dir_part, '\\');
}

const char* FilePart(const char* path, char sep) {
    const char* last = StrFindLastChar(path, sep);
    return StrCopy(g_file_part, last != nullptr ? last + 1 : path, kPathBufferSize);
}

String JoinPath(const char* dir, const char* name, char sep) {
    String result = WithTrailingChar(String(dir), sep);
    if (name != nullptr) {
        while (sep != '\0' && *name == sep) ++name;
        result.Append(String(name));
    }
    return result;
}
