// The Linux host's seams: XTest when the display opens (else the null sink),
// the uinput gamepad, Avahi, the owner-only identity file.
#include <optional>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/input_sink.h"
#include "platform/os_host_platform.h"
#include "platform/posix/uinput_pad_bus.h"
#include "platform/posix/xtest_sink.h"
#include "platform/random_source.h"
#include "platform/sas_action.h"
#include "platform/secret_protector.h"
#include "platform/system_info.h"
#include "platform/tailscale_client.h"

namespace korvex {
namespace {

class PosixHostPlatform final : public OsHostPlatform {
public:
    explicit PosixHostPlatform(std::function<void(const std::string&)> notice)
        : chosen_(posix::choose_input_sink(std::move(notice))),
          protector_(make_os_secret_protector()),
          system_(make_os_system_info()),
          tailscale_(make_os_tailscale_client()),
          pad_bus_(posix::make_uinput_pad_bus()) {
        platform_.emplace(net::HostPlatform{os_file_system(), os_random(), system_clock(), os_environment(),
                                            *protector_, *chosen_.sink, os_sas_action(), *system_, *tailscale_,
                                            &start_os_service_advertiser, pad_bus_.get()});
    }

    const net::HostPlatform& host_platform() const override { return *platform_; }
    std::string input_description() const override { return chosen_.description; }
    std::vector<std::string> start_notices() const override {
        std::vector<std::string> notices;
        if (chosen_.notice) notices.push_back(*chosen_.notice);
        if (!pad_bus_->unavailable_reason().empty())
            notices.push_back("No virtual gamepad: " + pad_bus_->unavailable_reason() +
                              "; the gamepad goes through the keyboard/mouse mapping.");
        return notices;
    }

private:
    posix::ChosenInputSink chosen_;
    std::unique_ptr<SecretProtector> protector_;
    std::unique_ptr<SystemInfo> system_;
    std::unique_ptr<TailscaleClient> tailscale_;
    std::unique_ptr<posix::UinputPadBus> pad_bus_;
    std::optional<net::HostPlatform> platform_;
};

}  // namespace

std::unique_ptr<OsHostPlatform> make_os_host_platform(std::function<void(const std::string&)> notice) {
    return std::make_unique<PosixHostPlatform>(std::move(notice));
}

}  // namespace korvex
