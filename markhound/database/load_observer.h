// What the signature loader can tell a listener while it reads: every
// signature it builds and every section or include it passes over. The
// plug-in sets no observer; tools that explain a signature file do.
#pragma once
#include <cstdint>

class SizedSignature;

enum class LoadEvent {
    kFileRead,          // file: about to read its sections; number: include depth
    kFileMissing,       // file: does not exist
    kSectionsCut,       // text: first section name beyond the name block; number: names not read
    kSectionOff,        // section begins with ";"
    kSectionNoKind,     // none of Include, Signature, SignatureStart has a value
    kValueCut,          // key's value is longer than 260 characters and was cut
    kTokenIgnored,      // key: pattern key; text: a token that gives no element
    kIncludeFound,      // text: the resolved path about to be read
    kIncludeMissing,    // text, text2: the candidates tried (text2 null for an absolute path)
    kIncludeCycle,      // text: a file that is already being read
    kIncludeTooDeep,    // text: the file beyond the depth limit
    kSignatureAdded,    // signature: complete (sized or bounded)
    kSizedPending,      // signature: left pending; number: its size width (0 with an empty pattern)
    kPendingDropped,    // signature: a pending one deleted; section null at the end of the file
    kBoundedEmpty,      // bounded section whose start pattern has no element
    kOutOfMemory,       // a signature or its pattern could not be allocated
    kTooManyFiles,      // text: a file not read, since the load has read kMaxFilesPerLoad files
};

struct LoadReport {
    LoadEvent event;
    const char* file;     // the signature file being read
    const char* section;  // the section being read, or null
    const char* key;      // the key concerned, or null
    const char* text;
    const char* text2;
    const SizedSignature* signature;
    uint32_t number;
};

class LoadObserver {
public:
    virtual ~LoadObserver() = default;
    virtual void OnLoadEvent(const LoadReport& report) = 0;
};
