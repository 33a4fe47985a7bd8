// A detector plug-in for the host's end-to-end tests. It finds "probe items":
//   'P' 'R' 'B' '!'   magic
//   8 bytes           size of the item, little-endian, counted from 'P'
//   1 byte n, n bytes the extension to report (n < 32)
// Compile definitions make the faulty variants: PROBE_MAGIC1 (a wrong
// magic), PROBE_VERSION, PROBE_NO_EXPORT (no KX_QueryInterface), PROBE_IDLE
// (Initialize answers 0), PROBE_DESCRIPTION. With HOUND_PROBE_LOG set, the
// slots append one line per call of Initialize and Finalize to that file,
// and an idle probe one line for its first Detect. With HOUND_PROBE_TRUNCATE
// set, the first Detect at or past HOUND_PROBE_TRUNCATE_AT (default 0)
// shortens that file to that many bytes, as another program might while the
// host reads it.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "contract/kx_plugin.h"

#ifndef PROBE_MAGIC1
#define PROBE_MAGIC1 KX_INTERFACE_MAGIC1
#endif
#ifndef PROBE_VERSION
#define PROBE_VERSION KX_INTERFACE_VERSION
#endif
#ifndef PROBE_DESCRIPTION
#define PROBE_DESCRIPTION "probe item"
#endif
#ifndef PROBE_NAME
#define PROBE_NAME "probe"
#endif

namespace {

void Log(const char* what) {
    const char* path = std::getenv("HOUND_PROBE_LOG");
    if (path == nullptr) return;
    if (FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%s %s\n", PROBE_NAME, what);
        std::fclose(log);
    }
}

// One scan thread: a plain buffer (thread-local storage in a module that is
// unloaded trips the leak checker).
char g_extension[33];

uint32_t KX_CALL Initialize(uint32_t, uint32_t) noexcept {
    Log("Initialize");
#ifdef PROBE_IDLE
    return 0;
#else
    return 1;
#endif
}

void KX_CALL Finalize(uint32_t) noexcept { Log("Finalize"); }

void KX_CALL Nothing(uint32_t) noexcept {}

uint32_t KX_CALL Detect(uint32_t, const HostReader* reader, uint64_t position,
                        FoundItem* item) noexcept {
#ifdef PROBE_IDLE
    static bool logged = false;
    if (!logged) Log("Detect");
    logged = true;
#endif
    static std::atomic<bool> truncated{false};
    const char* victim = std::getenv("HOUND_PROBE_TRUNCATE");
    if (victim != nullptr && !truncated) {
        const char* at = std::getenv("HOUND_PROBE_TRUNCATE_AT");
        const off_t length = at != nullptr ? static_cast<off_t>(std::strtoull(at, nullptr, 0)) : 0;
        if (position >= static_cast<uint64_t>(length) && !truncated.exchange(true)) truncate(victim, length);
    }
    static const char kMagic[4] = {'P', 'R', 'B', '!'};
    for (int i = 0; i < 4; ++i) {
        if ((reader->ReadByte(reader->context, position + i) & 0xFF) != uint8_t(kMagic[i])) return 0;
    }
    uint8_t size[8];
    reader->ReadBlock(reader->context, size, position + 4, 8);
    const uint32_t length = reader->ReadByte(reader->context, position + 12) & 0x1F;
    for (uint32_t i = 0; i < length; ++i) {
        g_extension[i] = char(reader->ReadByte(reader->context, position + 13 + i));
    }
    g_extension[length] = '\0';
    item->offset = position;
    item->size = 0;
    for (int i = 7; i >= 0; --i) item->size = (item->size << 8) | size[i];
    item->extension = g_extension;
    item->description = PROBE_DESCRIPTION;
    return 1;
}

constexpr PluginInterface kInterface = {{KX_INTERFACE_MAGIC0, PROBE_MAGIC1}, PROBE_VERSION, 0,
                                        &Initialize, &Finalize, &Nothing, &Nothing, &Detect, 0};

}  // namespace

#ifdef PROBE_NO_EXPORT
extern "C" KX_EXPORT const PluginInterface* KX_CALL KX_QueryInterfaceMissing(void*) {
    return &kInterface;
}
#else
extern "C" KX_EXPORT const PluginInterface* KX_CALL KX_QueryInterface(void*) { return &kInterface; }
#endif
