// POSIX stand-ins for the Win32 services markhound uses. They answer as the
// Windows functions do, on drive-form paths (Z:\dir\file is /dir/file).
#include "markhound/platform/platform.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>

#include "markhound/platform/posix_paths.h"
#include "markhound/platform/profile_file.h"

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


namespace {

// A file whose time stamp lies within this many seconds of the moment it was
// read may be written again without a visible change of size and stamp
// (stamps advance in coarse steps, on some file systems in whole or double
// seconds). Such a cache entry is compared with the file's bytes at its
// next use, until the stamp is older.
constexpr time_t kRecentSeconds = 2;
constexpr int kProfileSlots = 4;

struct FileStamp {
    dev_t device;
    ino_t inode;
    off_t size;
    struct timespec modified;
};

FileStamp StampOf(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
}

bool ModifiedRecently(const FileStamp& stamp) {
    struct timespec now;
    if (clock_gettime(CLOCK_REALTIME, &now) != 0) return true;
    return stamp.modified.tv_sec >= now.tv_sec - kRecentSeconds;
}

// The whole of a regular file in a MemAlloc block. *settled is false when
// the file changed while it was read.
bool ReadWholeFile(const char* native, char** bytes, std::size_t* length, FileStamp* stamp,
                   bool* settled) {
    const int fd = open(native, O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // never wait on a FIFO
    if (fd < 0) return false;
    struct stat before;
    if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode) || before.st_size < 0 ||
        static_cast<uint64_t>(before.st_size) > ProfileFile::kMaxLength) {
        close(fd);
        return false;
    }
    const std::size_t size = static_cast<std::size_t>(before.st_size);
    char* block = static_cast<char*>(MemAlloc(size != 0 ? size : 1));
    std::size_t got = 0;
    bool failed = block == nullptr;
    while (!failed && got < size) {
        const ssize_t n = read(fd, block + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    struct stat after;
    const bool same = fstat(fd, &after) == 0 && SameStamp(StampOf(before), StampOf(after));
    close(fd);
    if (failed) {
        MemFree(block);
        return false;
    }
    *bytes = block;
    *length = got;
    *stamp = StampOf(before);
    *settled = same && got == size;
    return true;
}

// The parsed files of the latest few paths. The loader asks many keys of the
// same file, and of an including file again after an included one; every
// answer still comes from the file as it is now, since each use compares the
// file's stamp (and the bytes of a recently changed file) with the entry's.
class ProfileCache {
public:
    ProfileCache() = default;
    ~ProfileCache() {
        for (Slot& slot : slots_) Drop(slot);
    }
    ProfileCache(const ProfileCache&) = delete;
    ProfileCache& operator=(const ProfileCache&) = delete;

    // The parsed file at a drive-form path; null when it cannot be read.
    const ProfileFile* Get(const char* path);

    void BeginBatch() {
        if (batch_depth_++ == 0) ++batch_;
    }
    // The end of the outermost batch lets go of every file: a signature
    // file is needed only while it is loaded, and a large one would
    // otherwise stay in memory, parsed, for the plug-in's whole life.
    void EndBatch() {
        if (batch_depth_ > 0 && --batch_depth_ == 0) {
            for (Slot& slot : slots_) Drop(slot);
        }
    }

private:
    struct Slot {
        char path[PATH_MAX];
        FileStamp stamp;
        bool recheck;
        uint64_t batch;  // the batch in which the entry was last checked, 0 for none
        uint64_t used;
        ProfileFile* file;  // null: the slot is free
    };

    Slot* Find(const char* native);
    Slot& Victim();
    static void Drop(Slot& slot) {
        delete slot.file;
        slot.file = nullptr;
    }

    // The current batch while one is open; each new batch checks files anew.
    uint64_t CurrentBatch() const { return batch_depth_ > 0 ? batch_ : 0; }

    Slot slots_[kProfileSlots] = {};
    uint64_t clock_ = 0;
    uint64_t batch_ = 0;
    uint32_t batch_depth_ = 0;
};

ProfileCache::Slot* ProfileCache::Find(const char* native) {
    for (Slot& slot : slots_) {
        if (slot.file != nullptr && std::strcmp(slot.path, native) == 0) return &slot;
    }
    return nullptr;
}

ProfileCache::Slot& ProfileCache::Victim() {
    Slot* victim = &slots_[0];
    for (Slot& slot : slots_) {
        if (slot.file == nullptr) return slot;
        if (slot.used < victim->used) victim = &slot;
    }
    return *victim;
}

const ProfileFile* ProfileCache::Get(const char* path) {
    char native[PATH_MAX];
    if (!NativeFromDriveForm(path, native, sizeof native)) return nullptr;
    Slot* slot = Find(native);
    if (slot != nullptr && slot->batch != 0 && slot->batch == CurrentBatch()) {
        slot->used = ++clock_;
        return slot->file;  // checked already in this batch
    }
    struct stat st;
    if (stat(native, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (slot != nullptr) Drop(*slot);
        return nullptr;
    }
    if (slot != nullptr && !slot->recheck && SameStamp(slot->stamp, StampOf(st))) {
        slot->batch = CurrentBatch();
        slot->used = ++clock_;
        return slot->file;
    }
    char* bytes = nullptr;
    std::size_t length = 0;
    FileStamp stamp;
    bool settled = false;
    if (!ReadWholeFile(native, &bytes, &length, &stamp, &settled)) {
        if (slot != nullptr) Drop(*slot);
        return nullptr;
    }
    if (slot != nullptr && slot->file->HoldsText(bytes, length)) {
        MemFree(bytes);  // unchanged: the parse stays
    } else {
        ProfileFile* file = new ProfileFile;
        if (file == nullptr || !file->Adopt(bytes, length)) {
            if (file == nullptr) MemFree(bytes);
            delete file;
            if (slot != nullptr) Drop(*slot);
            return nullptr;  // out of memory: read as an unreadable file
        }
        if (slot == nullptr) {
            slot = &Victim();
            std::strcpy(slot->path, native);
        }
        Drop(*slot);
        slot->file = file;
    }
    slot->stamp = stamp;
    slot->recheck = !settled || ModifiedRecently(stamp);
    slot->batch = CurrentBatch();
    slot->used = ++clock_;
    return slot->file;
}

ProfileCache g_profiles;

}  // namespace

void PlatformBeginProfileBatch() { g_profiles.BeginBatch(); }

void PlatformEndProfileBatch() { g_profiles.EndBatch(); }

uint32_t PlatformProfileSectionNames(char* buffer, uint32_t size, const char* path) {
    return ProfileSectionNames(g_profiles.Get(path), buffer, size);
}

uint32_t PlatformProfileString(const char* section, const char* key, const char* default_value,
                               char* buffer, uint32_t size, const char* path) {
    return ProfileString(g_profiles.Get(path), section, key, default_value, buffer, size);
}

uint32_t PlatformProfileInt(const char* section, const char* key, int32_t default_value,
                            const char* path) {
    return ProfileInt(g_profiles.Get(path), section, key, default_value);
}
