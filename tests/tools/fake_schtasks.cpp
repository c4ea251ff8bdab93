// Stands in for schtasks.exe beside korvex-host.exe in the Windows tray test:
// Wine's own tool answers every /Query with success (so the host would see
// a logon task and never ask at first run) and cannot create logon tasks.
// This one reports no task and refuses every change, and appends each
// command line to the file named by KORVEX_SCHTASKS_LOG.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (const char* log = std::getenv("KORVEX_SCHTASKS_LOG")) {
        if (std::FILE* f = std::fopen(log, "a")) {
            for (int i = 1; i < argc; ++i) std::fprintf(f, "%s%s", i > 1 ? " " : "", argv[i]);
            std::fprintf(f, "\n");
            std::fclose(f);
        }
    }
    return 1;
}
