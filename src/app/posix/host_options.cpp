#include "host_options.h"

namespace korvex::posix {

Result<HostCommandLine> parse_host_options(const std::vector<std::string>& args) {
    HostCommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            line.help = true;
        } else if (a == "--version") {
            line.version = true;
        } else if (a == "--pair") {
            line.pair = true;
        } else if (a == "--data-dir" || a.starts_with("--data-dir=")) {
            std::string dir;
            if (a == "--data-dir") {
                if (i + 1 >= args.size()) return fail("--data-dir needs a folder");
                dir = args[++i];
            } else {
                dir = a.substr(std::string_view("--data-dir=").size());
            }
            if (dir.empty()) return fail("--data-dir needs a folder");
            line.data_dir = dir;
        } else if (a.starts_with("-")) {
            return fail("unknown option \"" + a + "\"");
        } else {
            return fail("unexpected argument \"" + a + "\"");
        }
    }
    return line;
}

const char* host_usage() {
    return "Usage: korvex-host [--data-dir DIR] [--pair]\n"
           "\n"
           "Runs the Korvex host: paired devices control this PC over the network. Commands are\n"
           "read from standard input (type \"help\"); without a terminal the host keeps serving\n"
           "when its input ends.\n"
           "\n"
           "Options:\n"
           "  --data-dir DIR  keep the identity, paired devices and gamepad mapping in DIR\n"
           "                  (default: RC_DATA_DIR, else $XDG_CONFIG_HOME/Korvex, else\n"
           "                  ~/.config/Korvex); one host per folder\n"
           "  --pair          open a pairing code at start and print the offer; it stays open\n"
           "                  until a device uses it, for at most 5 minutes\n"
           "  --version       print the version and exit\n"
           "  -h, --help      print this help and exit\n";
}

}  // namespace korvex::posix
