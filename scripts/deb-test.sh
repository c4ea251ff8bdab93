#!/usr/bin/env bash
# The Debian package on this machine: it installs with dpkg -i, its programs
# run (korvex-remote --version; korvex-host starts, answers status and exits
# on "exit"), its man pages render, and dpkg -r removes every file of it.
#
# Usage: scripts/deb-test.sh   (as root, or with sudo)
# Needs build/linux/korvex_VERSION_ARCH.deb (KORVEX_DEB overrides it).
# Ends with "deb: N passed, M failed"; exits non-zero when anything failed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly ROOT=$PWD
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/linux/CMakeCache.txt" 2>/dev/null)
readonly VERSION
readonly DEB=${KORVEX_DEB:-$ROOT/build/linux/korvex_${VERSION}_$(dpkg --print-architecture).deb}
readonly WORK=$ROOT/build/linux/deb-test

log() { printf 'deb-test: %s\n' "$*" >&2; }
die() {
    log "error: $*"
    echo "deb: 0 passed, 1 failed"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"
ensure_packages man-db >&2

[[ -n $VERSION && -f $DEB ]] || die "no package at $DEB"
rm -rf "$WORK"
mkdir -p "$WORK"

passed=0
failed=0

# dpkg, waiting while another installation holds its lock.
dpkg_run() {
    local out i
    for i in $(seq 30); do
        out=$(as_root dpkg "$@" 2>&1) && return 0
        grep -qi 'lock' <<<"$out" || { echo "$out" >&2; return 1; }
        sleep 2
    done
    echo "$out" >&2
    return 1
}

status_of() { dpkg-query -W -f '${db:Status-Status}' korvex 2>/dev/null; }

readonly FILES=(/usr/bin/korvex-host /usr/bin/korvex-remote /usr/share/man/man1/korvex-host.1.gz
    /usr/share/man/man1/korvex-remote.1.gz /usr/share/doc/korvex/README.md /usr/share/doc/korvex/USER.md
    /usr/share/doc/korvex/GAMEPAD.md /usr/share/doc/korvex/images/tray-menu.png
    /usr/share/doc/korvex/images/pairing-flyout.png)
all_present() {
    local f
    for f in "${FILES[@]}"; do [[ -f $f ]] || { log "missing $f"; return 1; }; done
}
none_present() {
    local f
    for f in "${FILES[@]}"; do [[ ! -e $f ]] || { log "left behind: $f"; return 1; }; done
    [[ ! -e /usr/share/doc/korvex ]]
}
output_is() { [[ $("${@:2}" 2>&1) == "$1" ]]; }
renders() { MANPAGER=cat MANWIDTH=80 man "$1" 2>"$WORK/man-$1.err" | grep -q "^NAME" && [[ ! -s $WORK/man-$1.err ]]; }

# The man pages and docs go in even where dpkg is told to leave such files
# out (as in slim container images).
check "dpkg -i installs the package" dpkg_run -i --path-include='/usr/share/man/man1/korvex*' \
    --path-include='/usr/share/doc/korvex/*' "$DEB"
check "it is installed at version $VERSION" \
    test "$(status_of) $(dpkg-query -W -f '${Version}' korvex 2>/dev/null)" = "installed $VERSION"
check "both programs, their man pages and the docs are there" all_present
check "korvex-remote --version" output_is "korvex-remote $VERSION" /usr/bin/korvex-remote --version
check "korvex-host --version" output_is "korvex-host $VERSION" /usr/bin/korvex-host --version

# The host serves from a folder of its own, with no display to inject into,
# until "exit".
printf 'status\nexit\n' | timeout 30 env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/korvex-host \
    --data-dir "$WORK/data" >"$WORK/host.log" 2>&1
host_rc=$?
check "korvex-host starts and exits on \"exit\" (exit code $host_rc)" test "$host_rc" = 0
check "korvex-host listened on a port" grep -q "^Korvex host listening on port " "$WORK/host.log"
check "its status shows version $VERSION" grep -qx "Version: $VERSION" "$WORK/host.log"
check "man korvex-remote renders" renders korvex-remote
check "man korvex-host renders" renders korvex-host

check "dpkg -r removes the package" dpkg_run -r korvex
check "it is no longer installed" not test "$(status_of)" = installed
check "none of its files are left" none_present
check "dpkg -P purges what is left of it" dpkg_run -P korvex
check "dpkg has no record of it" test -z "$(status_of | grep -v '^not-installed$')"

log "package: $(stat -c %s "$DEB") bytes"
echo "deb: $passed passed, $failed failed"
[[ $failed == 0 ]]
