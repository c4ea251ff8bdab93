// Linux: the virtual gamepad is a uinput device (posix/uinput_pad_bus.h);
// without a writable /dev/uinput the bus finds no device and the gamepad goes
// through the keyboard/mouse mapping.
#include "platform/pad_bus.h"
#include "platform/posix/uinput_pad_bus.h"

namespace korvex {

std::unique_ptr<PadBus> make_os_pad_bus() { return posix::make_uinput_pad_bus(); }

}  // namespace korvex
