// Signature file loader: reads a signature file section by section, builds a
// signature for each section that defines one and reads included files at
// the place of their include section.
#include "markhound/database/loader.h"

#include <cstring>
#include <utility>

#include "markhound/database/pattern_reader.h"
#include "markhound/platform/platform.h"
#include "markhound/support/paths.h"
#include "markhound/support/text.h"

namespace {

constexpr uint32_t kSectionBlockSize = 1024;
constexpr uint32_t kValueSize = 261;  // at most 260 characters and a NUL
constexpr char kSeparator = '\\';

// State shared by one load and all the files it includes.
struct LoadSession {
    SignatureList& list;
    LoadObserver* observer;
    // The files being read, outermost first, in their comparable form.
    char open_files[kMaxIncludeDepth + 1][kValueSize];
    uint32_t depth;
    uint32_t files_read;  // every file read so far, the top one included
};

// State of reading one file.
struct FileLoad {
    LoadSession& session;
    const char* path;
    const char* section;
    char value[kValueSize];
    SizedSignature* pending;

    void Report(LoadEvent event, const char* key = nullptr, const char* text = nullptr,
                const char* text2 = nullptr, const SizedSignature* signature = nullptr,
                uint32_t number = 0) const {
        if (session.observer == nullptr) return;
        session.observer->OnLoadEvent({event, path, section, key, text, text2, signature, number});
    }

    // Reads a text key into value; the number of characters copied.
    uint32_t ReadText(const char* key) {
        uint32_t copied = PlatformProfileString(section, key, "", value, kValueSize, path);
        if (session.observer != nullptr && copied == kValueSize - 1) ReportIfCut(key);
        return copied;
    }

    uint32_t ReadInt(const char* key) const { return PlatformProfileInt(section, key, 0, path); }

    void ReportIfCut(const char* key) const;
    void ReportCutSections(const char* names) const;
    bool ReadPattern(const char* key, PatternArray& target);
    void DeletePending();
    void Include(const char* resolved);
    void IncludeStep();
    void SizedStep();
    void BoundedStep();
};

void LoadFile(LoadSession& session, const char* path);
bool MayRead(LoadSession& session, const FileLoad& includer, const char* path);

// Only asked when an observer listens: a 260-character answer may be a cut one.
void FileLoad::ReportIfCut(const char* key) const {
    char longer[kValueSize + 1];
    if (PlatformProfileString(section, key, "", longer, sizeof longer, path) > kValueSize - 1) {
        Report(LoadEvent::kValueCut, key);
    }
}

// Only asked when an observer listens: names that did not fit the name block.
// The block may end inside a name, which is then listed cut short: the names
// not read begin with the first one that the block does not hold whole.
void FileLoad::ReportCutSections(const char* names) const {
    constexpr uint32_t kAllNamesSize = 1u << 24;
    char* all = static_cast<char*>(MemAlloc(kAllNamesSize));
    if (all == nullptr) return;
    PlatformProfileSectionNames(all, kAllNamesSize, path);
    all[kAllNamesSize - 1] = '\0';
    const char* const names_end = names + kSectionBlockSize;
    const char* listed = names;  // the block's name at the same index, while there is one
    const char* first_cut = nullptr;
    uint32_t cut = 0;
    for (const char* name = all; name < all + kAllNamesSize && *name != '\0';
         name += StrLen(name) + 1) {
        const bool held = first_cut == nullptr && listed < names_end && *listed != '\0' &&
                          std::strcmp(listed, name) == 0;
        if (held) {
            listed += StrLen(listed) + 1;
            continue;
        }
        if (first_cut == nullptr) first_cut = name;
        ++cut;
    }
    if (cut != 0) Report(LoadEvent::kSectionsCut, nullptr, first_cut, nullptr, nullptr, cut);
    MemFree(all);
}

void IgnoredToken(void* context, const char* token) {
    const auto* where = static_cast<const std::pair<const FileLoad*, const char*>*>(context);
    where->first->Report(LoadEvent::kTokenIgnored, where->second, token);
}

// Parses value (just read from key) into target.
bool FileLoad::ReadPattern(const char* key, PatternArray& target) {
    std::pair<const FileLoad*, const char*> where{this, key};
    const bool stored = session.observer != nullptr
                            ? ParsePattern(value, target, &IgnoredToken, &where)
                            : ParsePattern(value, target);
    if (!stored) Report(LoadEvent::kOutOfMemory, key);
    return stored;
}

void FileLoad::DeletePending() {
    if (pending == nullptr) return;
    Report(LoadEvent::kPendingDropped, nullptr, nullptr, nullptr, pending);
    session.list.DeleteItem(pending);
    pending = nullptr;
}

void FileLoad::Include(const char* resolved) {
    Report(LoadEvent::kIncludeFound, "Include", resolved);
    if (MayRead(session, *this, resolved)) LoadFile(session, resolved);
}

// An include value is absolute, or looked for below this file's folder under
// its own relative path, then by its file name alone in that folder.
void FileLoad::IncludeStep() {
    if (IsAbsolutePath(value)) {
        Include(value);
        return;
    }
    String first = JoinPath(DirPart(path, kSeparator), value, kSeparator);
    StrCopy(value, first.Text(), kValueSize);
    if (PlatformAccess(value, 0) == 0) {
        Include(value);
        return;
    }
    String tried(value);
    String second = JoinPath(DirPart(path, kSeparator), FilePart(value, kSeparator), kSeparator);
    StrCopy(value, second.Text(), kValueSize);
    if (PlatformAccess(value, 0) == 0) {
        Include(value);
        return;
    }
    Report(LoadEvent::kIncludeMissing, "Include", tried.Text(), value);
}

// A sized section reuses this file's pending signature, so a definition
// completed over several sections keeps the place of its first section.
void FileLoad::SizedStep() {
    if (pending == nullptr) {
        auto* signature = new SizedSignature;
        if (signature == nullptr || session.list.Append(signature) == nullptr) {
            delete signature;
            Report(LoadEvent::kOutOfMemory, "Signature");
            return;
        }
        pending = signature;
    }
    if (!ReadPattern("Signature", pending->pattern) || pending->pattern.Count() == 0) {
        Report(LoadEvent::kSizedPending, "Signature", nullptr, nullptr, pending, 0);
        return;
    }
    ReadText("Ext");
    pending->ext.Set(value);
    pending->name.Set(section);
    pending->size_offset = ReadInt("SizeOff");
    pending->size_width = ReadInt("SizeSize");
    pending->size_addon = ReadInt("SizeAddon");
    if (pending->size_width == 1 || pending->size_width == 2 || pending->size_width == 4) {
        Report(LoadEvent::kSignatureAdded, nullptr, nullptr, nullptr, pending);
        pending = nullptr;
    } else {
        Report(LoadEvent::kSizedPending, "SizeSize", nullptr, nullptr, pending,
               static_cast<uint32_t>(pending->size_width));
    }
}

void FileLoad::BoundedStep() {
    DeletePending();
    auto* signature = new BoundedSignature;
    if (signature == nullptr || session.list.Append(signature) == nullptr) {
        delete signature;
        Report(LoadEvent::kOutOfMemory, "SignatureStart");
        return;
    }
    if (!ReadPattern("SignatureStart", signature->pattern) || signature->pattern.Count() == 0) {
        session.list.DeleteItem(signature);
        Report(LoadEvent::kBoundedEmpty, "SignatureStart");
        return;
    }
    if (ReadText("SignatureEnd") != 0 && !ReadPattern("SignatureEnd", signature->end_pattern)) {
        session.list.DeleteItem(signature);  // an end pattern cut short would end items early
        return;
    }
    ReadText("Ext");
    signature->ext.Set(value);
    signature->name.Set(section);
    signature->limit_size() = ReadInt("LimitSize");
    signature->start_offset = ReadInt("StartOffset");
    signature->end_offset = ReadInt("EndOffset");
    Report(LoadEvent::kSignatureAdded, nullptr, nullptr, nullptr, signature);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Appends c to out (of kValueSize bytes) at *n, dropping what does not fit.
void Put(char* out, uint32_t* n, char c) {
    if (*n < kValueSize - 1) out[(*n)++] = c;
}

// The form in which two spellings of one path compare equal, as far as the
// text tells: letters in upper case, / as \, no "\\?\" prefix, no repeated
// separators, no "." component, and each ".." taking away the component
// before it, as Windows resolves paths without looking at the disk.
void ComparablePath(const char* path, char* out) {
    if (path[0] == '\\' && path[1] == '\\' && path[2] == '?' && path[3] == '\\') path += 4;
    uint32_t n = 0;
    if (IsSeparator(path[0]) && IsSeparator(path[1])) {  // a network path keeps both
        Put(out, &n, '\\');
        Put(out, &n, '\\');
        path += 2;
    } else if (path[0] != '\0' && path[1] == ':') {
        Put(out, &n, PlatformCharUpper(path[0]));
        Put(out, &n, ':');
        path += 2;
        if (IsSeparator(*path)) Put(out, &n, '\\');
    } else if (IsSeparator(path[0])) {
        Put(out, &n, '\\');
    }
    const uint32_t root = n;
    while (*path != '\0') {
        while (IsSeparator(*path)) ++path;
        const char* begin = path;
        while (*path != '\0' && !IsSeparator(*path)) ++path;
        const uint32_t length = static_cast<uint32_t>(path - begin);
        if (length == 0 || (length == 1 && begin[0] == '.')) continue;
        if (length == 2 && begin[0] == '.' && begin[1] == '.') {
            uint32_t last = n;  // the start of the last component
            while (last > root && out[last - 1] != '\\') --last;
            const bool dots = n - last == 2 && out[last] == '.' && out[last + 1] == '.';
            if (n > root && !dots) {
                n = last > root ? last - 1 : root;
                continue;
            }
            if (root > 0) continue;  // nothing above the root
        }
        if (n > root) Put(out, &n, '\\');
        for (uint32_t i = 0; i < length; ++i) Put(out, &n, PlatformCharUpper(begin[i]));
    }
    out[n] = '\0';
}

// Include cycles end at a file that is already being read. The depth limit
// ends cycles through spellings of one file that the text does not give
// away (links, for instance), and the limit on files read bounds the work of
// a file that includes such a cycle more than once: each extra include would
// otherwise double it.
bool MayRead(LoadSession& session, const FileLoad& includer, const char* path) {
    char comparable[kValueSize];
    ComparablePath(path, comparable);
    for (uint32_t i = 0; i < session.depth; ++i) {
        if (std::strcmp(session.open_files[i], comparable) == 0) {
            includer.Report(LoadEvent::kIncludeCycle, "Include", path);
            return false;
        }
    }
    if (session.depth > kMaxIncludeDepth) {
        includer.Report(LoadEvent::kIncludeTooDeep, "Include", path);
        return false;
    }
    if (session.files_read >= kMaxFilesPerLoad) {
        includer.Report(LoadEvent::kTooManyFiles, "Include", path);
        return false;
    }
    return true;
}

void ReadSections(FileLoad& file) {
    // A block filled to its last byte may lack the closing NUL: the walk also
    // stops at the block's end.
    char names[kSectionBlockSize] = {};
    PlatformProfileSectionNames(names, kSectionBlockSize, file.path);
    names[kSectionBlockSize - 1] = '\0';
    if (names[0] == '\0') return;
    if (file.session.observer != nullptr) file.ReportCutSections(names);
    const char* const end = names + kSectionBlockSize;
    for (const char* name = names; name < end && *name != '\0'; name += StrLen(name) + 1) {
        file.section = name;
        if (name[0] == ';') {
            file.Report(LoadEvent::kSectionOff);
        } else if (file.ReadText("Include") != 0) {
            file.IncludeStep();
        } else if (file.ReadText("Signature") != 0) {
            file.SizedStep();
        } else if (file.ReadText("SignatureStart") != 0) {
            file.BoundedStep();
        } else {
            file.Report(LoadEvent::kSectionNoKind);
        }
    }
    file.section = nullptr;
}

void LoadFile(LoadSession& session, const char* path) {
    FileLoad file{session, path, nullptr, {}, nullptr};
    if (PlatformAccess(path, 0) != 0) {
        file.Report(LoadEvent::kFileMissing);
        return;
    }
    file.Report(LoadEvent::kFileRead, nullptr, nullptr, nullptr, nullptr, session.depth);
    ComparablePath(path, session.open_files[session.depth++]);
    ++session.files_read;
    ReadSections(file);
    file.DeletePending();
    --session.depth;
}

}  // namespace

void LoadSignatureFile(const char* path, SignatureList& list, LoadObserver* observer) {
    LoadSession session{list, observer, {}, 0, 0};
    PlatformBeginProfileBatch();  // each file is read once per load
    LoadFile(session, path);
    PlatformEndProfileBatch();
}
