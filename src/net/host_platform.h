#pragma once
// The OS services the host's start-up needs, all behind their seams. Kept
// apart from net/host.h (and its runtime headers) so that platform/ can build
// one without seeing the runtime.
#include <functional>
#include <memory>

#include "core/error.h"
#include "platform/service_advertiser.h"

namespace korvex {
class Clock;
class Environment;
class FileSystem;
class InputSink;
class PadBus;
class RandomSource;
class SasAction;
class SecretProtector;
class SystemInfo;
class TailscaleClient;
}  // namespace korvex

namespace korvex::net {

struct HostPlatform {
    FileSystem& fs;
    RandomSource& rng;
    const Clock& clock;
    const Environment& env;
    SecretProtector& protector;
    InputSink& input_sink;
    SasAction& sas;
    // Discovery's seams; they must outlive the runtime.
    SystemInfo& system;
    TailscaleClient& tailscale;
    // Starts the mDNS responder; empty or failing: no advertisement.
    std::function<Result<std::unique_ptr<ServiceAdvertiser>>()> start_responder;
    // The virtual gamepad driver's bus; none: the mapping is always used.
    PadBus* pad_bus = nullptr;
};

}  // namespace korvex::net
