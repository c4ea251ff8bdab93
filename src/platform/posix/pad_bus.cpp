// Linux: there is no ViGEmBus, so the bus has no devices; the gamepad always
// goes through the keyboard/mouse mapping.
#include "platform/pad_bus.h"

namespace korvex {
namespace {

class NoPadBus final : public PadBus {
public:
    std::unique_ptr<PadBusDevice> find_device(const std::function<bool(PadBusDevice&)>&) override { return nullptr; }
};

}  // namespace

std::unique_ptr<PadBus> make_os_pad_bus() { return std::make_unique<NoPadBus>(); }

}  // namespace korvex
