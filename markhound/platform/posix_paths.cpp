// Conversion between native POSIX paths and the drive form the loader uses.
#include "markhound/platform/posix_paths.h"

#include <cstring>

bool DriveFormFromNative(const char* native, char* out, std::size_t size) {
    if (native == nullptr || native[0] != '/' || size == 0) return false;
    std::size_t length = std::strlen(native);
    if (length + 2 >= size) return false;
    out[0] = 'Z';
    out[1] = ':';
    for (std::size_t i = 0; i <= length; ++i) out[i + 2] = native[i] == '/' ? '\\' : native[i];
    return true;
}

bool NativeFromDriveForm(const char* path, char* out, std::size_t size) {
    if (path == nullptr || size == 0) return false;
    if (std::strncmp(path, "\\\\?\\", 4) == 0) path += 4;
    const bool has_drive = path[0] != '\0' && path[1] == ':';
    if (has_drive) path += 2;
    std::size_t length = std::strlen(path);
    if (length >= size) return false;
    for (std::size_t i = 0; i <= length; ++i) out[i] = path[i] == '\\' ? '/' : path[i];
    return true;
}
