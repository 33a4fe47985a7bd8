// The platform services markhound uses, each with the meaning of the Win32
// call it stands for. win32.cpp forwards to Windows; posix.cpp emulates.
// Paths are Windows-form texts on every platform.
#pragma once
#include <cstdint>

// GetModuleFileNameA: the full path of module (null: the host's program)
// into buffer, cut to fit; the number of characters stored, 0 on failure.
uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size);

// GetPrivateProfileSectionNamesA: the section names of the file, each ended
// by a NUL, the list ended by one more NUL.
uint32_t PlatformProfileSectionNames(char* buffer, uint32_t size, const char* path);

// GetPrivateProfileStringA: the key's value or default_value, cut to fit
// buffer; the number of characters copied.
uint32_t PlatformProfileString(const char* section, const char* key, const char* default_value,
                               char* buffer, uint32_t size, const char* path);

// GetPrivateProfileIntA: the key's value read as an integer, or default_value.
uint32_t PlatformProfileInt(const char* section, const char* key, int32_t default_value,
                            const char* path);

// Bracket one load of signature files. In between, a profile file that has
// been read once is answered from memory without being looked at again: the
// loader asks many keys of each file, and the files are not expected to
// change while a load reads them. The end of the outermost batch lets go
// of the files read. Nothing happens on Windows, which reads the files
// itself.
void PlatformBeginProfileBatch();
void PlatformEndProfileBatch();

// _access: 0 when the file exists (mode 0), non-zero otherwise.
int PlatformAccess(const char* path, int mode);

// CharUpperA on one character of the ANSI code page.
char PlatformCharUpper(char c);
