// Windows-form path helpers for locating included signature files: the
// backslash separates folders, "D:" is a drive, "\\" starts a network path
// and "\\?\" is the long-path prefix. Every function takes the separator.
#pragma once
#include <cstdint>

#include "markhound/support/text.h"

// Bytes of each of the two result buffers: 260 characters and a terminator.
constexpr uint32_t kPathBufferSize = 261;

// 1 for "\\server...", "D:\..." and either behind "\\?\" (also "\\?\UNC\");
// 0 for "\dir", "D:dir", "D:/dir", "dir\x", "" and null.
int IsAbsolutePath(const char* path);

// Appends c to text in place unless text is empty or already ends with c;
// the buffer must have room for one more character. Gives text.
char* AddTrailingChar(char* text, char c);

// A copy of s ending with c, unless it is empty.
String WithTrailingChar(const String& s, char c);

// The folder part of path up to its last sep, ending in a backslash whatever
// sep is, or the empty text when path has no sep among its first 260
// characters. Lives in a module-wide buffer that the next DirPart overwrites.
const char* DirPart(const char* path, char sep);

// The part of path after its last sep, or all of path, cut to 260
// characters. Lives in a module-wide buffer of its own that the next
// FilePart overwrites (DirPart leaves it alone).
const char* FilePart(const char* path, char sep);

// dir and name with exactly one sep between them: one is added only when
// dir does not end with it, the seps at the start of name are dropped and
// nothing else changes. An empty dir gives name as it is (less leading
// seps); a null name gives dir ending with sep.
String JoinPath(const char* dir, const char* name, char sep);
