#!/usr/bin/env bash
# The project's test command: builds and tests the native (Linux) tree, then
# cross-builds the Windows tree and runs its test programs under Wine.
#
# Then builds the Debian package and the Windows installer and tests both.
#
# Installs whatever it needs with apt first, so it works on a bare Debian 12.
# Build folders (build/linux, build/windows) are reused between runs; the Wine
# prefix is made fresh every run. With CI set, warnings are errors.
#
# With --hardening it also builds and runs the native tests under ASan+UBSan
# and TSan (scripts/sanitize.sh) and every fuzz target for 30 s
# (scripts/fuzz.sh); CI runs it that way.
#
# Ends with a line "N passed, M failed"; exits non-zero when anything failed.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
readonly ROOT=$PWD
readonly JOBS=$(nproc 2>/dev/null || echo 2)
hardening=0
[[ ${1:-} == --hardening ]] && hardening=1

step() { printf '\n==> %s\n' "$*"; }

log() { echo "test: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"

readonly PACKAGES=(
    "${KORVEX_NATIVE_PACKAGES[@]}"
    "${KORVEX_NATIVE_TEST_PACKAGES[@]}"
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix wine wine64
    # for scripts/deps-windows.sh (dpkg-dev also for the Debian package's dependencies)
    autoconf automake libtool dpkg-dev patch xz-utils bzip2
    # the Windows installer
    nsis
)

werror=OFF
[[ -n ${CI:-} ]] && werror=ON

passed=0
failed=0
problems=()
failures=()
# What failed in a stage's log, by name, so the last lines of a long run say
# which test to look at: ctest's list, GoogleTest's [  FAILED  ] lines, and
# the scripts' "FAILED: WHAT" checks.
note_failures() {
    local stage=$1 log=$2 line
    [[ -f $log ]] || return 0
    while IFS= read -r line; do
        failures+=("$stage: $line")
    done < <(tr -d '\r' <"$log" | awk '
        /^The following tests FAILED:/ { listed = 1; next }
        listed && /^[[:space:]]*[0-9]+ - / { sub(/^[[:space:]]*[0-9]+ - /, ""); print; next }
        { listed = 0 }
        /^\[  FAILED  \] [A-Za-z_]/ { sub(/^\[  FAILED  \] /, ""); sub(/[ ,].*/, ""); print; next }
        /FAILED: / { sub(/.*FAILED: /, "FAILED: "); print; next }
        /^[a-z-]+: .* FAILED after / { sub(/^[a-z-]+: /, ""); print }' | awk '!seen[$0]++' | head -n 20)
}
# Something went wrong outside a test (a build, a crash): it counts as a
# failure too, so the final line never reads "0 failed" after one.
problem() {
    problems+=("$1")
    failed=$((failed + 1))
}

# Adds the counts from a ctest run's summary line.
count_ctest() {
    local line
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1) || true
    if [[ -z $line ]]; then
        grep -q 'No tests were found' "$1" && return 0
        problem "ctest gave no summary"
        return 0
    fi
    local bad total
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

# Adds the counts from a GoogleTest program's output; a program that ends
# without its summary (a crash) counts as one failure.
count_gtest() {
    local log=$1 name=$2 rc=$3 ok bad
    ok=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\.$/\1/p' "$log" | tail -n1)
    bad=$(sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below:$/\1/p' "$log" | tail -n1)
    if [[ -z $ok && -z $bad ]]; then
        problem "$name ended without a test summary (exit $rc)"
        return 0
    fi
    passed=$((passed + ${ok:-0}))
    failed=$((failed + ${bad:-0}))
    [[ $rc == 0 || ${bad:-0} != 0 ]] || problem "$name exited with $rc"
}

# ---- native -----------------------------------------------------------------

run_native() {
    step "Linux build (build/linux)"
    if ! cmake --preset linux -DKORVEX_WERROR="$werror" >/dev/null \
        || ! cmake --build --preset linux --parallel "$JOBS"; then
        problem "the Linux build failed"
        return 0
    fi
    step "Linux tests (ctest --preset linux)"
    local log="$ROOT/build/linux/ctest.log" rc=0
    ctest --preset linux --parallel "$JOBS" 2>&1 | tee "$log" || rc=$?
    local before=$failed
    count_ctest "$log"
    note_failures native "$log"
    [[ $rc == 0 || $failed != "$before" ]] || problem "ctest exited with $rc"
}

# The real mDNS round trip: the Linux host registers with avahi-daemon and
# avahi-browse finds it.
run_mdns() {
    step "mDNS advertisement (scripts/avahi-check.sh)"
    [[ -x $ROOT/build/linux/src/korvex-host ]] || return 0  # the build failed, already counted
    if as_root env KORVEX_HOST="$ROOT/build/linux/src/korvex-host" "$ROOT/scripts/avahi-check.sh"; then
        passed=$((passed + 1))
    else
        problem "the mDNS check failed"
    fi
}

# ---- Windows ----------------------------------------------------------------

xvfb_pid=""
trap stop_wine_session EXIT

# Windowed test programs get a virtual X server of their own.
start_xvfb() {
    ensure_packages xvfb
    local n=90
    while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 50); do
        [[ -e /tmp/.X11-unix/X$n ]] && return 0
        sleep 0.1
    done
    problem "Xvfb did not start"
}

run_windows() {
    step "Windows dependencies (scripts/deps-windows.sh)"
    local deps
    if ! deps=$(scripts/deps-windows.sh); then
        problem "scripts/deps-windows.sh failed"
        return 0
    fi
    export KORVEX_WIN_DEPS=${deps##*$'\n'}
    echo "$KORVEX_WIN_DEPS"

    step "Windows cross build (build/windows)"
    if ! cmake --preset windows -DKORVEX_WERROR="$werror" >/dev/null \
        || ! cmake --build --preset windows --parallel "$JOBS"; then
        problem "the Windows build failed"
        return 0
    fi

    local tests=()
    mapfile -t tests < <(find "$ROOT/build/windows/tests" -name '*_tests.exe' -type f | sort)
    if [[ ${#tests[@]} == 0 ]]; then
        problem "no Windows test programs were built"
        return 0
    fi
    if ! find_wine; then
        problem "Wine is not installed"
        return 0
    fi

    export WINEPREFIX="$ROOT/build/windows/wineprefix" WINEDEBUG=-all WINEARCH=win64
    # No Mono or Gecko installers: nothing here needs them, and they would prompt.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    rm -rf "$WINEPREFIX"
    local exe
    for exe in "${tests[@]}"; do
        [[ $(basename "$exe") == *gui* ]] && { start_xvfb; break; }
    done
    step "Wine prefix (build/windows/wineprefix)"
    "$WINE" wineboot --init >/dev/null 2>&1 || problem "wineboot failed"

    for exe in "${tests[@]}"; do
        local name log rc=0
        name=$(basename "$exe")
        log="${exe%.exe}.log"
        step "Windows tests: $name (Wine)"
        (cd "$(dirname "$exe")" && timeout 900 "$WINE" "$exe" --gtest_brief=1) 2>&1 | tr -d '\r' | tee "$log" \
            || rc=${PIPESTATUS[0]}
        count_gtest "$log" "$name" "$rc"
        note_failures "$name" "$log"
    done
    stop_wine_session
}

# Runs one of the hardening scripts and adds its "NAME: N passed, M failed".
run_hardening() {
    step "Hardening: $1"
    run_counted "$@"
}

# The tray program itself under Wine and Xvfb, driven as a user would
# (needs the native korvex-remote and the Windows korvex-host.exe).
run_gui() {
    step "Windows tray program (scripts/wine-gui-test.sh, Wine + Xvfb)"
    [[ -f $ROOT/build/windows/src/korvex-host.exe && -f $ROOT/build/windows/tests/fake-schtasks.exe \
        && -f $ROOT/build/windows/tests/korvex-window-probe.exe \
        && -x $ROOT/build/linux/src/client/korvex-remote && -x $ROOT/build/linux/tests/korvex-hold-session ]] \
        || return 0  # a build failed, already counted
    run_counted gui "$ROOT/scripts/wine-gui-test.sh"
}

# Each package is built from its tree (the package target) and tested by its
# script: the .deb installed on this machine, the installer under Wine.
run_package() {
    local tree=$1 name=$2 what=$3 script=$4 log
    shift 4
    log="$ROOT/build/$tree/package.log"
    step "$what (build/$tree, package target; scripts/$script)"
    [[ -f $ROOT/build/$tree/build.ninja ]] || return 0  # the build failed, already counted
    if ! cmake --build --preset "$tree" --target package >"$log" 2>&1; then
        tail -n 20 "$log"
        problem "the $what was not built"
        return 0
    fi
    tail -n 1 "$log"
    run_counted "$name" "$@" "$ROOT/scripts/$script"
}

# Runs a script that ends with "NAME: N passed, M failed" and adds the counts.
run_counted() {
    local name=$1 log="$ROOT/build/$1.log" rc=0
    shift
    mkdir -p "$ROOT/build"
    "$@" 2>&1 | tee "$log" || rc=${PIPESTATUS[0]}
    note_failures "$name" "$log"
    local line
    line=$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed$" "$log" | tail -n1) || true
    if [[ -z $line ]]; then
        problem "$name ended without a summary (exit $rc)"
        return 0
    fi
    local ok bad
    ok=$(sed -E 's/^[a-z]+: ([0-9]+) passed.*/\1/' <<<"$line")
    bad=$(sed -E 's/.* ([0-9]+) failed$/\1/' <<<"$line")
    passed=$((passed + ok))
    failed=$((failed + bad))
    [[ $rc == 0 || $bad != 0 ]] || problem "$name exited with $rc"
}

ensure_packages "${PACKAGES[@]}"
started=$SECONDS
run_native
run_mdns
run_windows
run_gui
run_package linux deb "Debian package" deb-test.sh as_root
run_package windows install "Windows installer" wine-install-test.sh
if [[ $hardening == 1 ]]; then
    run_hardening sanitize "$ROOT/scripts/sanitize.sh"
    run_hardening fuzz "$ROOT/scripts/fuzz.sh" 30
fi

echo
for p in "${failures[@]+"${failures[@]}"}"; do echo "failed in $p"; done
for p in "${problems[@]+"${problems[@]}"}"; do echo "failed: $p"; done
echo "Took $((SECONDS - started)) s"
echo "$passed passed, $failed failed"
[[ $failed == 0 && ${#problems[@]} == 0 ]]
