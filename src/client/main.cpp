// korvex-remote: the command-line face of the client library.
#include <iostream>
#include <string>
#include <vector>

#include "client/cli.h"
#include "core/crypto.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/random_source.h"

int main(int argc, char** argv) {
    korvex::crypto_init();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
    korvex::client::CliContext ctx{korvex::os_file_system(), korvex::os_random(), korvex::os_environment(), std::cin, std::cout,
                                   std::cerr};
    return korvex::client::run_cli(args, ctx);
}
