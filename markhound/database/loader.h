// Signature file loader: turns a signature file and the files it includes
// into signatures appended to a list.
#pragma once
#include "signatures/signature_list.h"

// Reads the signature file at path (a Windows-form path of at most 260
// characters) and appends the signatures it defines to list. Reports nothing.
void LoadSignatureFile(const char* path, SignatureList& list);
