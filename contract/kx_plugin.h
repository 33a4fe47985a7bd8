/* Plug-in boundary: the records and the one export shared by the host and
 * every detector plug-in. Plain C.
 *
 * Frozen. On 32-bit Windows (32-bit pointers, little-endian, stdcall) this
 * layout is a binary contract with hosts and plug-ins built apart. No record
 * ever changes: no field is added, removed, resized, reordered or given a new
 * meaning, and the version stays KX_INTERFACE_VERSION. Growth means a new
 * export beside KX_QueryInterface, never a changed record. Natively
 * elsewhere the same declarations give the same records with the platform's
 * own pointer size.
 *
 * Ownership: the plug-in owns its record and the texts it hands out; the host
 * owns the HostReader, the FoundItem and the data behind the reader.
 *
 * Order of calls: load; KX_QueryInterface; Initialize; any number of Detect
 * calls, with Reload allowed between them; Finalize; unload. A plug-in does
 * not enforce this order, and a Detect outside Initialize..Finalize does no
 * harm: a plug-in with nothing loaded answers 0.
 *
 * Threads: a plug-in starts no threads and takes no locks. The host calls
 * KX_QueryInterface, Initialize, Reload and Finalize of one plug-in one at a
 * time, and never while a Detect of that plug-in runs. Detect calls of one
 * plug-in may overlap on any threads: each keeps its state in its own call
 * frame and only reads what the plug-in shares between calls (markhound its
 * signature list; photohound and jpeghound share nothing). A host that
 * overlaps them makes its reader functions safe to call concurrently. */
#ifndef KX_PLUGIN_H
#define KX_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

/* Callee-cleans convention (stdcall) on 32-bit Windows; nothing elsewhere.
 * Every function of the contract uses it, the HostReader functions too:
 * arguments in 32-bit stack slots, a 64-bit one in two with its low half at
 * the lower address; GetSize returns its 64 bits as the platform returns
 * 64-bit integers. */
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

/* The host's byte source, passed by address to every Detect call. It belongs
 * to the host; a plug-in reads these four fields and nothing behind them,
 * calls the functions only during that Detect and on its thread, and keeps
 * neither the record nor context afterwards.
 *
 * The data is at positions 0 to GetSize() - 1, and the host keeps it and its
 * size unchanged during a Detect call. No function reports an error or the
 * end of the data: every value read is data. What ReadByte and ReadBlock give
 * for positions at or past GetSize() is the host's own choice; a plug-in may
 * read there, but relies on nothing it gets beyond the bounds it checks with
 * GetSize. */
typedef struct HostReader {
    /* Opaque host value, passed back unchanged as the first argument of each
     * function; a plug-in never looks behind it. */
    void* context;
    /* The byte at position in the low 8 bits of the result. A plug-in uses
     * those 8 bits alone, as an unsigned value; the upper bits are the
     * host's and are ignored. */
    uint32_t (KX_CALL* ReadByte)(void* context, uint64_t position);
    /* Copies count bytes, from position on, into buffer. The buffer is the
     * plug-in's, with room for count bytes; the host writes nothing beyond
     * it and does not keep it. The result is never used, so the host may
     * return anything. */
    uint32_t (KX_CALL* ReadBlock)(void* context, void* buffer, uint64_t position, uint64_t count);
    /* Length of the data in bytes. */
    uint64_t (KX_CALL* GetSize)(void* context);
} HostReader;

/* What Detect fills when it answers 1: every field, and nothing on 0. The
 * record belongs to the host; the plug-in writes it only during that call
 * and keeps no pointer to it.
 *
 * The two texts belong to the plug-in and are handed over by pointer, never
 * copied: NUL-terminated, never null, possibly empty. They stay valid until
 * the next Initialize, Reload or Finalize of that plug-in, or until it is
 * unloaded, whichever comes first; a host that needs them longer copies
 * them. (photohound and jpeghound give constant texts, valid while loaded;
 * markhound gives those of the signature that matched.) */
typedef struct FoundItem {
    /* Position in the data at which the item starts; not always the
     * position Detect was asked about. */
    uint64_t offset;
    /* Length of the item in bytes. It may reach past the end of the data:
     * the host checks it against GetSize() before it reads the item. */
    uint64_t size;
    /* File-name extension to give the item, conventionally without the dot. */
    const char* extension;
    /* Short description of the item's kind. */
    const char* description;
} FoundItem;

/* The plug-in's static interface record: 32 bytes on 32-bit builds. It is
 * constant: nothing writes it after load, and KX_QueryInterface hands out
 * the same one every time. Every slot is set; the host checks magic and
 * version before it calls any slot, and refuses a record that differs.
 *
 * host_arg, the first argument of every slot, is a 32-bit value of the
 * host's choosing; plug-ins ignore it.
 *
 * Nothing escapes a slot across the boundary: a plug-in never throws, never
 * longjmps out of a call, and deals with an allocation failure inside the
 * call (markhound loads fewer signatures). The contract has no error codes:
 * a failure is only ever an answer of 0. */
typedef struct PluginInterface {
    char magic[2];      /* "KX": the two ASCII bytes, no terminating NUL */
    uint16_t version;   /* KX_INTERFACE_VERSION: the bytes 0x00, 0x01 */
    uint32_t reserved0; /* 0 */
    /* Loads what the plug-in detects with (markhound: its signature files,
     * found through the module handle of KX_QueryInterface, which comes
     * first). init_value is the host's choice; plug-ins ignore it. The result
     * is nonzero when the plug-in is ready to detect, 0 when it has nothing
     * to detect with; it then stays loaded, answers every Detect with 0, and
     * is finalized and unloaded as usual. */
    uint32_t (KX_CALL* Initialize)(uint32_t host_arg, uint32_t init_value);
    /* Releases what Initialize and Reload loaded; afterwards Detect answers
     * 0 in a plug-in that needs loaded data. Called once after Initialize,
     * whatever it answered, before the module is unloaded. No result. */
    void (KX_CALL* Finalize)(uint32_t host_arg);
    /* Loads again what Initialize loaded (markhound re-reads its signature
     * files; the others do nothing). Allowed between Detect calls, never
     * during one. No result. */
    void (KX_CALL* Reload)(uint32_t host_arg);
    /* Does nothing in every plug-in; a host need not call it. No result. */
    void (KX_CALL* Reserved)(uint32_t host_arg);
    /* 1 when an item starts at position (item filled), else 0 (item untouched).
     * position is the full 64-bit value and the plug-in's arithmetic on it is
     * 64-bit. The data is read through reader alone; neither reader, item
     * nor position is kept once the call returns. */
    uint32_t (KX_CALL* Detect)(uint32_t host_arg, const HostReader* reader,
                               uint64_t position, FoundItem* item);
    uint32_t reserved1; /* 0 */
} PluginInterface;

#define KX_INTERFACE_MAGIC0 'K'
#define KX_INTERFACE_MAGIC1 'X'
#define KX_INTERFACE_VERSION 0x0100u
#define KX_QUERY_INTERFACE_NAME "KX_QueryInterface"

/* The plug-in's only export, under this undecorated name (ordinal 1 on
 * Windows). module_handle is the handle of the plug-in's own module as the
 * host loaded it (the HMODULE on Windows, the dlopen handle elsewhere, where
 * null stands for the host's program); markhound finds its own file through
 * it. The call stores module_handle, replacing any earlier one, and returns
 * the address of the static record, the same on every call. It has no other
 * effect and cannot fail. */
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
