#pragma once
// The two ways of asking the local Tailscale client for its status: an HTTP
// request to its local API, and its command-line tool. Both only move bytes;
// what the bytes mean is decided in the portable layer.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/error.h"

namespace korvex {

struct CommandOutput {
    int exit_code = 0;
    std::string standard_output;
};

class TailscaleClient {
public:
    virtual ~TailscaleClient() = default;
    // Connects to the local API endpoint, sends `request`, and reads until
    // the server closes the connection; the deadline covers all three. A
    // response longer than `max_bytes` is an error.
    virtual Result<std::string> local_api_exchange(std::string_view request, std::chrono::milliseconds deadline,
                                                   std::size_t max_bytes) = 0;
    // Runs the command-line tool found through the search path with the
    // arguments "status" and "--json", without a console window and with
    // empty standard input; kills it (and what it started) once
    // `time_limit` has passed, which is an error. Standard output longer than
    // `max_bytes` is an error too. Blocking.
    virtual Result<CommandOutput> run_status_command(std::chrono::milliseconds time_limit, std::size_t max_bytes) = 0;
};

struct TailscaleClientOptions {
    // Where the local API is served: a Unix socket path on Linux, a named
    // pipe name on Windows. Empty: the place the installed client uses.
    std::string local_api_endpoint;
    // The command-line tool's name, looked up through PATH.
    std::string program = "tailscale";
};

// Where this OS's Tailscale client serves its local API.
std::string default_local_api_endpoint();

std::unique_ptr<TailscaleClient> make_os_tailscale_client(TailscaleClientOptions options = {});

}  // namespace korvex
