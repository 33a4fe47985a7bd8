// POSIX stand-ins for the Win32 services markhound uses. They answer as the
// Windows functions do, on drive-form paths (Z:\dir\file is /dir/file).
#include "platform/platform.h"

#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "platform/posix_paths.h"

namespace {

// The native path of module: its link map entry, or the program for a null
// handle (and for the program's own entry, whose name is empty).
bool NativeModulePath(void* module, char* out, std::size_t size) {
    const char* name = nullptr;
    struct link_map* map = nullptr;
    if (module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
        map->l_name != nullptr && map->l_name[0] != '\0') {
        name = map->l_name;
    }
    char resolved[PATH_MAX];
    if (name == nullptr) {
        ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (n <= 0) return false;
        resolved[n] = '\0';
    } else if (realpath(name, resolved) == nullptr) {
        return false;
    }
    if (std::strlen(resolved) >= size) return false;
    std::strcpy(out, resolved);
    return true;
}

}  // namespace

uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    char native[PATH_MAX];
    char drive_form[PATH_MAX + 2];
    if (!NativeModulePath(module, native, sizeof native) ||
        !DriveFormFromNative(native, drive_form, sizeof drive_form)) {
        buffer[0] = '\0';
        return 0;
    }
    // Cut to the buffer as Windows does: at most size - 1 characters and a NUL.
    std::size_t length = std::strlen(drive_form);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, drive_form, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

int PlatformAccess(const char* path, int mode) {
    char native[PATH_MAX];
    if (!NativeFromDriveForm(path, native, sizeof native)) return -1;
    return access(native, mode == 0 ? F_OK : mode);
}

char PlatformCharUpper(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    // Windows code page 1252: ASCII and Latin-1 small letters, plus the four
    // letters of the 0x80-0x9F block that have capitals there.
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 0x20);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 0x20);
    switch (u) {
        case 0x9A: return static_cast<char>(0x8A);  // s caron
        case 0x9C: return static_cast<char>(0x8C);  // oe ligature
        case 0x9E: return static_cast<char>(0x8E);  // z caron
        case 0xFF: return static_cast<char>(0x9F);  // y diaeresis
        default: return c;
    }
}

// Profile reads: filled in by the profile reader.
uint32_t PlatformProfileSectionNames(char* buffer, uint32_t size, const char*) {
    if (size >= 2) buffer[0] = buffer[1] = '\0';
    return 0;
}

uint32_t PlatformProfileString(const char*, const char*, const char* default_value, char* buffer,
                               uint32_t size, const char*) {
    if (size == 0) return 0;
    std::strncpy(buffer, default_value, size - 1);
    buffer[size - 1] = '\0';
    return static_cast<uint32_t>(std::strlen(buffer));
}

uint32_t PlatformProfileInt(const char*, const char*, int32_t default_value, const char*) {
    return static_cast<uint32_t>(default_value);
}
