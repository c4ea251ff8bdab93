#!/usr/bin/env bash
# Builds and starts the Linux host (korvex-host) in the foreground. Installs
# what the build needs first, so it works on a bare Debian 12. Arguments are
# not used; RC_DATA_DIR chooses the data folder as usual.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

log() { echo "run-host: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}
# shellcheck source=lib.sh
source scripts/lib.sh

ensure_packages "${KORVEX_NATIVE_PACKAGES[@]}"
cmake --preset linux >/dev/null
cmake --build --preset linux --target korvex-host korvex-remote >&2
exec build/linux/src/korvex-host
