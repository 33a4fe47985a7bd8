// markhound's export and entry slots: the only file that knows the boundary.
#include "contract/kx_plugin.h"
#include "markhound/database/reload.h"
#include "markhound/signatures/signature_list.h"

namespace {

void* g_module_handle = nullptr;  // argument of the latest KX_QueryInterface

uint32_t KX_CALL Initialize(uint32_t, uint32_t) noexcept {
    ReloadSignatures(g_signatures, g_module_handle);
    return g_signatures.Count() > 0 ? 1 : 0;
}

void KX_CALL Finalize(uint32_t) noexcept { g_signatures.DeleteAll(); }

void KX_CALL Reload(uint32_t) noexcept { ReloadSignatures(g_signatures, g_module_handle); }

void KX_CALL Reserved(uint32_t) noexcept {}

uint32_t KX_CALL Detect(uint32_t, const HostReader* reader, uint64_t position,
                        FoundItem* item) noexcept {
    return DetectWithList(g_signatures, reader, position, item);
}

constexpr PluginInterface kInterface = {
    {KX_INTERFACE_MAGIC0, KX_INTERFACE_MAGIC1}, KX_INTERFACE_VERSION, 0,
    &Initialize, &Finalize, &Reload, &Reserved, &Detect, 0};

}  // namespace

extern "C" KX_EXPORT const PluginInterface* KX_CALL KX_QueryInterface(void* module_handle) {
    g_module_handle = module_handle;
    return &kInterface;
}
