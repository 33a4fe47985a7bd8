// Reload steps: module path, signs.ini beside it, empty list, load.
#include "markhound/database/reload.h"

#include <cstring>

#include "markhound/database/loader.h"
#include "markhound/platform/platform.h"

bool BuildSignsPath(void* module, char (&path)[kMaxPath + 1]) {
    uint32_t length = PlatformModuleFileName(module, path, kMaxPath + 1);
    if (length > kMaxPath) length = kMaxPath;
    path[length] = '\0';
    char* slash = std::strrchr(path, '\\');
    // A cut path would name some other file, so a signs.ini path that does
    // not fit is not built at all.
    if (slash == nullptr) return false;
    std::size_t folder = static_cast<std::size_t>(slash - path) + 1;
    if (folder + sizeof kSignsFileName - 1 > kMaxPath) return false;
    std::memcpy(slash + 1, kSignsFileName, sizeof kSignsFileName);
    return true;
}

void ReloadSignatures(SignatureList& list, void* module) {
    char path[kMaxPath + 1];
    const bool have_path = BuildSignsPath(module, path);
    list.DeleteAll();
    if (have_path) LoadSignatureFile(path, list);
}
