// Build-time tool: writes the program's three icon groups as .ico files
// into the folder given, from the same pixels the tray draws.
#include <array>
#include <fstream>
#include <iostream>
#include <string>

#include "app/icon_pixels.h"

int main(int argc, char** argv) {
    using korvex::app::IconVariant;
    if (argc != 2) {
        std::cerr << "usage: korvex-icons OUTPUT_FOLDER\n";
        return 2;
    }
    constexpr std::array program_sizes{16, 24, 32, 48, 64, 128, 256};
    constexpr std::array tray_sizes{16, 20, 24, 32, 40, 48};
    struct Output {
        const char* name;
        std::span<const int> sizes;
        IconVariant variant;
    };
    // The program icon is the controlled look: the coloured one reads well
    // at every size on light and dark backgrounds.
    const std::array outputs{Output{"korvex.ico", program_sizes, IconVariant::Controlled},
                             Output{"tray_ready.ico", tray_sizes, IconVariant::Ready},
                             Output{"tray_controlled.ico", tray_sizes, IconVariant::Controlled}};
    for (const auto& output : outputs) {
        auto bytes = korvex::app::ico_file(output.sizes, output.variant);
        std::ofstream file(std::string(argv[1]) + "/" + output.name, std::ios::binary);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::cerr << "korvex-icons: could not write " << output.name << "\n";
            return 1;
        }
    }
    return 0;
}
