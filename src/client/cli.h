#pragma once
// The korvex-remote command line: parsing into a request (testable without a
// network) and running it.
#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "client/endpoint.h"
#include "core/error.h"
#include "core/input_event.h"
#include "core/pairing_uri.h"

namespace korvex {
class Environment;
class FileSystem;
class RandomSource;
}  // namespace korvex

namespace korvex::client {

struct CliRequest {
    enum class Command { Help, Version, Info, Pair, Ping, Type, Clip, Events, Hosts, Keys, Forget };
    Command command = Command::Help;
    std::string name;  // the command word as typed

    // --host, or the HOST of info and forget, as typed: a paired host's name
    // or id, else an address.
    std::optional<std::string> host_text;
    // host_text read as an address, with --port applied; none: the most
    // recent paired host (with --port applied at run time).
    std::optional<HostPort> target;
    std::optional<std::uint16_t> port;  // --port
    std::optional<PairingUri> uri;      // pair URI
    std::string code;                   // pair --code, digits only
    std::string text;                   // type, clip
    bool text_from_stdin = false;       // type -, clip -
    bool paste = false;             // clip --paste
    // Event commands: what to send, in order; sequence numbers are given when sent.
    std::vector<InputEvent> events;
    bool wait_sas_result = false;  // cad
    bool udp = false;
    std::optional<std::string> device_name;  // --name
    std::chrono::milliseconds timeout{5000};
};

// Arguments without the program name. Options may come before or after the
// command; "--" ends them; "-5" is a number, not an option.
Result<CliRequest> parse_command_line(std::span<const std::string> args);

std::string usage_text();

struct CliContext {
    FileSystem& fs;
    RandomSource& rng;
    const Environment& env;
    std::istream& in;  // type - and clip - read it
    std::ostream& out;
    std::ostream& err;
};

// Exit codes: 0 done, 1 the operation failed, the host refused or the output
// could not be written, 2 bad usage.
int run_cli(std::span<const std::string> args, CliContext& ctx);

}  // namespace korvex::client
