// Signature file loader: turns a signature file and the files it includes
// into signatures appended to a list.
#pragma once
#include <cstdint>

#include "markhound/database/load_observer.h"
#include "markhound/signatures/signature_list.h"

// Files included below the top file, at most: deeper includes are passed over.
constexpr uint32_t kMaxIncludeDepth = 64;
// Files read in one load, the top file and every repeated include counted:
// includes beyond them are passed over.
constexpr uint32_t kMaxFilesPerLoad = 1024;

// Reads the signature file at path (a Windows-form path of at most 260
// characters) and appends the signatures it defines to list, with those of
// included files at the place of their include sections. Reports nothing to
// the caller; an observer, when given, hears of every signature built and
// every section or include passed over.
void LoadSignatureFile(const char* path, SignatureList& list, LoadObserver* observer = nullptr);
