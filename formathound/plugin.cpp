// formathound's export and entry slots: the only file that knows the boundary.
#include "contract/kx_plugin.h"
#include "formathound/detect.h"

namespace {

uint32_t KX_CALL Initialize(uint32_t, uint32_t) noexcept { return 1; }

// Finalize, Reload and Reserved: the plug-in keeps nothing between calls.
void KX_CALL DoNothing(uint32_t) noexcept {}

uint32_t KX_CALL DetectSlot(uint32_t, const HostReader* reader, uint64_t position,
                            FoundItem* item) noexcept {
    return formathound::Detect(reader, position, item);
}

}  // namespace

static constexpr PluginInterface kInterface = {
    {KX_INTERFACE_MAGIC0, KX_INTERFACE_MAGIC1}, KX_INTERFACE_VERSION, 0,
    &Initialize, &DoNothing, &DoNothing, &DoNothing, &DetectSlot, 0};

// The module handle is of no use to formathound: it reads no file of its own.
extern "C" KX_EXPORT const PluginInterface* KX_CALL KX_QueryInterface(void*) {
    return &kInterface;
}
