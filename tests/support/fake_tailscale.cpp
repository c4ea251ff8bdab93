// Stands in for the Tailscale command-line tool in the discovery tests. The
// variable KORVEX_FAKE_TAILSCALE_MODE picks what it does:
//   json  prints a small status document and exits 0 (only when called with
//         exactly "status --json" and an empty standard input)
//   fail  complains on standard error and exits 1
//   hang  appends a byte to the file KORVEX_FAKE_TAILSCALE_BEAT names every
//         20 ms for a minute, so a test can see whether it was stopped
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    const char* mode_env = std::getenv("KORVEX_FAKE_TAILSCALE_MODE");
    const std::string mode = mode_env != nullptr ? mode_env : "";
    if (mode == "json") {
        if (argc != 3 || std::string(argv[1]) != "status" || std::string(argv[2]) != "--json") {
            std::fputs("fake tailscale: unexpected arguments\n", stderr);
            return 3;
        }
        if (std::fgetc(stdin) != EOF) {
            std::fputs("fake tailscale: standard input is not empty\n", stderr);
            return 4;
        }
        std::fputs(
            "{\"Self\":{\"DNSName\":\"fake-host.tail0000.ts.net.\",\"TailscaleIPs\":[\"100.100.1.2\"]},"
            "\"Peer\":{\"nodekey:01\":{\"TailscaleIPs\":[\"100.100.3.4\"]}}}\n",
            stdout);
        std::fputs("fake tailscale: a line on standard error\n", stderr);
        return 0;
    }
    if (mode == "fail") {
        std::fputs("failed to connect to local tailscaled; it doesn't appear to be running\n", stderr);
        return 1;
    }
    if (mode == "hang") {
        const char* beat = std::getenv("KORVEX_FAKE_TAILSCALE_BEAT");
        for (int i = 0; i < 3000; ++i) {
            if (beat != nullptr) {
                if (std::FILE* f = std::fopen(beat, "ab")) {
                    std::fputc('.', f);
                    std::fclose(f);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return 0;
    }
    std::fputs("fake tailscale: KORVEX_FAKE_TAILSCALE_MODE is not set\n", stderr);
    return 2;
}
