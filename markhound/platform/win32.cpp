// Windows platform layer: each function forwards to the Win32 call whose
// meaning it carries; the system answers, nothing is emulated here.
#include "markhound/platform/platform.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <io.h>

// A path that does not fit comes back as size characters, unterminated on
// older systems; it is ended here so that size - 1 characters remain.
uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
    if (length >= size) {
        length = size - 1;
        buffer[length] = '\0';
    }
    return length;
}

// When the names do not fit, the ANSI call may leave the last byte of the
// block unwritten instead of ending the list there; the list is ended here.
// Behind a list that fits, that byte is unused.
uint32_t PlatformProfileSectionNames(char* buffer, uint32_t size, const char* path) {
    if (buffer == nullptr || size == 0) return 0;
    const DWORD length = GetPrivateProfileSectionNamesA(buffer, size, path);
    buffer[size - 1] = '\0';
    return length;
}

uint32_t PlatformProfileString(const char* section, const char* key, const char* default_value,
                               char* buffer, uint32_t size, const char* path) {
    return GetPrivateProfileStringA(section, key, default_value, buffer, size, path);
}

uint32_t PlatformProfileInt(const char* section, const char* key, int32_t default_value,
                            const char* path) {
    return GetPrivateProfileIntA(section, key, default_value, path);
}

int PlatformAccess(const char* path, int mode) { return _access(path, mode); }

// CharUpperA converts one character when the high word of its argument is
// zero, and returns the converted character in the low byte.
char PlatformCharUpper(char c) {
    LPSTR result = CharUpperA(reinterpret_cast<LPSTR>(
        static_cast<ULONG_PTR>(static_cast<BYTE>(c))));
    return static_cast<char>(static_cast<BYTE>(reinterpret_cast<ULONG_PTR>(result)));
}

// Windows reads profile files itself: there is nothing to keep between reads.
void PlatformBeginProfileBatch() {}

void PlatformEndProfileBatch() {}
