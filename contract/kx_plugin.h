/* Plug-in boundary: the records and the one export shared by the host and
 * every detector plug-in. Plain C; frozen binary layout on 32-bit Windows. */
#ifndef KX_PLUGIN_H
#define KX_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

/* Callee-cleans convention on 32-bit Windows; nothing elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define KX_CALL __stdcall
#else
#define KX_CALL
#endif

/* The one symbol a plug-in exports. Windows exports it through a .def file;
 * elsewhere modules are built with hidden visibility and this marks it. */
#if defined(_WIN32)
#define KX_EXPORT
#else
#define KX_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The host's byte source, passed by address to every Detect call.
 * Positions run from 0 to GetSize() - 1; every ReadByte value is data. */
typedef struct HostReader {
    void* context; /* passed back as the first argument of each function */
    /* The byte at position, in the low 8 bits of the result. */
    uint32_t (KX_CALL* ReadByte)(void* context, uint64_t position);
    /* Copies count bytes from position into buffer; the result is ignored. */
    uint32_t (KX_CALL* ReadBlock)(void* context, void* buffer, uint64_t position, uint64_t count);
    /* Length of the data in bytes. */
    uint64_t (KX_CALL* GetSize)(void* context);
} HostReader;

/* What a successful Detect fills. The texts belong to the plug-in. */
typedef struct FoundItem {
    uint64_t offset;         /* position at which the item starts */
    uint64_t size;           /* length of the item in bytes */
    const char* extension;   /* file-name extension, without a dot */
    const char* description; /* short description of the item's kind */
} FoundItem;

/* The plug-in's static interface record: 32 bytes on 32-bit builds. */
typedef struct PluginInterface {
    char magic[2];      /* "KX" */
    uint16_t version;   /* KX_INTERFACE_VERSION */
    uint32_t reserved0; /* 0 */
    uint32_t (KX_CALL* Initialize)(uint32_t host_arg, uint32_t init_value);
    void (KX_CALL* Finalize)(uint32_t host_arg);
    void (KX_CALL* Reload)(uint32_t host_arg);
    void (KX_CALL* Reserved)(uint32_t host_arg);
    /* 1 when an item starts at position (item filled), else 0 (item untouched). */
    uint32_t (KX_CALL* Detect)(uint32_t host_arg, const HostReader* reader,
                               uint64_t position, FoundItem* item);
    uint32_t reserved1; /* 0 */
} PluginInterface;

#define KX_INTERFACE_MAGIC0 'K'
#define KX_INTERFACE_MAGIC1 'X'
#define KX_INTERFACE_VERSION 0x0100u
#define KX_QUERY_INTERFACE_NAME "KX_QueryInterface"

/* Stores module_handle (the plug-in's own module) and returns the record. */
typedef const PluginInterface* (KX_CALL* KX_QueryInterfaceFn)(void* module_handle);
KX_EXPORT const PluginInterface* KX_CALL KX_QueryInterface(void* module_handle);

#ifdef __cplusplus
}
#endif

/* The binary layout on the 32-bit platform the contract was made for. */
#if UINTPTR_MAX == 0xFFFFFFFFu
#ifdef __cplusplus
#define KX_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KX_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
KX_STATIC_ASSERT(sizeof(PluginInterface) == 32, "PluginInterface is 32 bytes");
KX_STATIC_ASSERT(offsetof(PluginInterface, magic) == 0, "magic at 0");
KX_STATIC_ASSERT(offsetof(PluginInterface, version) == 2, "version at 2");
KX_STATIC_ASSERT(offsetof(PluginInterface, reserved0) == 4, "reserved0 at 4");
KX_STATIC_ASSERT(offsetof(PluginInterface, Initialize) == 8, "Initialize at 8");
KX_STATIC_ASSERT(offsetof(PluginInterface, Finalize) == 12, "Finalize at 12");
KX_STATIC_ASSERT(offsetof(PluginInterface, Reload) == 16, "Reload at 16");
KX_STATIC_ASSERT(offsetof(PluginInterface, Reserved) == 20, "Reserved at 20");
KX_STATIC_ASSERT(offsetof(PluginInterface, Detect) == 24, "Detect at 24");
KX_STATIC_ASSERT(offsetof(PluginInterface, reserved1) == 28, "reserved1 at 28");
KX_STATIC_ASSERT(sizeof(HostReader) == 16, "HostReader is 16 bytes");
KX_STATIC_ASSERT(offsetof(HostReader, ReadByte) == 4, "ReadByte at 4");
KX_STATIC_ASSERT(offsetof(HostReader, ReadBlock) == 8, "ReadBlock at 8");
KX_STATIC_ASSERT(offsetof(HostReader, GetSize) == 12, "GetSize at 12");
KX_STATIC_ASSERT(sizeof(FoundItem) == 24, "FoundItem is 24 bytes");
KX_STATIC_ASSERT(offsetof(FoundItem, size) == 8, "size at 8");
KX_STATIC_ASSERT(offsetof(FoundItem, extension) == 16, "extension at 16");
KX_STATIC_ASSERT(offsetof(FoundItem, description) == 20, "description at 20");
#endif

#endif /* KX_PLUGIN_H */
