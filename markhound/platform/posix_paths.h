// Drive-form paths on POSIX: a native path /a/b is presented as Z:\a\b, as
// Wine does, and a Windows-form path is mapped back for file access.
#pragma once
#include <cstddef>

// Writes the drive form of an absolute native path into out (cut to fit);
// false when it does not fit or the path is not absolute.
bool DriveFormFromNative(const char* native, char* out, std::size_t size);

// Writes the native form of a Windows-form path into out: a leading drive
// ("Z:") is dropped so that its root is /, a "\\?\" prefix is dropped, and
// both \ and / separate. False when it does not fit.
bool NativeFromDriveForm(const char* path, char* out, std::size_t size);
