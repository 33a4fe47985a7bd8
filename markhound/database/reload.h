// Reload steps shared by Initialize and Reload: find signs.ini beside the
// module, empty the list and read the file into it.
#pragma once
#include <cstdint>

#include "markhound/signatures/signature_list.h"

constexpr uint32_t kMaxPath = 260;          // characters of a path
constexpr char kSignsFileName[] = "signs.ini";

// Writes the path of signs.ini in the folder of module into path. False
// when the platform gives no module path, one without a backslash, or one
// whose folder and "signs.ini" exceed kMaxPath characters.
bool BuildSignsPath(void* module, char (&path)[kMaxPath + 1]);

// Empties list, then loads signs.ini from beside module into it. Where no
// path can be built the list stays empty.
void ReloadSignatures(SignatureList& list, void* module);
