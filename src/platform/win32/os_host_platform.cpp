// The Windows host's seams: SendInput, DPAPI, the virtual gamepad bus,
// DnsServiceRegister.
#include <optional>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/input_sink.h"
#include "platform/os_host_platform.h"
#include "platform/pad_bus.h"
#include "platform/random_source.h"
#include "platform/sas_action.h"
#include "platform/secret_protector.h"
#include "platform/system_info.h"
#include "platform/tailscale_client.h"

namespace korvex {
namespace {

class Win32HostPlatform final : public OsHostPlatform {
public:
    Win32HostPlatform()
        : sink_(make_os_input_sink()),
          protector_(make_os_secret_protector()),
          system_(make_os_system_info()),
          tailscale_(make_os_tailscale_client()),
          pad_bus_(make_os_pad_bus()) {
        platform_.emplace(net::HostPlatform{os_file_system(), os_random(), system_clock(), os_environment(),
                                            *protector_, *sink_, os_sas_action(), *system_, *tailscale_,
                                            &start_os_service_advertiser, pad_bus_.get()});
    }

    const net::HostPlatform& host_platform() const override { return *platform_; }
    std::string input_description() const override { return "SendInput"; }
    // The tray tells of a missing bus driver from the probe's result.
    std::vector<std::string> start_notices() const override { return {}; }

private:
    std::unique_ptr<InputSink> sink_;
    std::unique_ptr<SecretProtector> protector_;
    std::unique_ptr<SystemInfo> system_;
    std::unique_ptr<TailscaleClient> tailscale_;
    std::unique_ptr<PadBus> pad_bus_;
    std::optional<net::HostPlatform> platform_;
};

}  // namespace

// Windows reports nothing later through `notice`: its sink shows nothing.
std::unique_ptr<OsHostPlatform> make_os_host_platform(std::function<void(const std::string&)>) {
    return std::make_unique<Win32HostPlatform>();
}

}  // namespace korvex
