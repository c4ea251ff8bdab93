# shellcheck shell=bash
# Shared by the scripts: installing missing Debian packages, counted checks,
# Wine under Xvfb. The sourcing script defines log() and die() first.

# What the native build needs.
# shellcheck disable=SC2034
KORVEX_NATIVE_PACKAGES=(
    cmake ninja-build pkg-config g++ make
    libsodium-dev libavahi-client-dev nlohmann-json3-dev libasio-dev libqrencode-dev libgtest-dev libbenchmark-dev googletest
    libx11-dev libxtst-dev
)

# What the native tests need besides: the X server the injection test runs
# the host under.
# shellcheck disable=SC2034
KORVEX_NATIVE_TEST_PACKAGES=(xvfb)

as_root() {
    if [[ $(id -u) == 0 ]]; then "$@"; else sudo "$@"; fi
}

# Once per script run, however many installs follow; setting apt_updated=0
# forces the next call to update again (after a new source was added).
apt_updated=0
apt_update_once() {
    if [[ $apt_updated == 0 ]]; then
        log "apt-get update"
        as_root apt-get update -qq >&2 || die "apt-get update failed"
        apt_updated=1
    fi
}

ensure_packages() {
    local missing=() p
    for p in "$@"; do
        [[ $(dpkg-query -W -f '${db:Status-Status}' "$p" 2>/dev/null) == installed ]] || missing+=("$p")
    done
    [[ ${#missing[@]} == 0 ]] && return 0
    log "installing ${missing[*]}"
    apt_update_once
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2 \
        || die "apt-get install ${missing[*]} failed"
}

# ---- checks, for the scripts that end with "NAME: N passed, M failed" ----------

# Logs "ok: WHAT" or "FAILED: WHAT" for a command; returns how it went.
checked() {
    local what=$1
    shift
    if "$@"; then
        log "ok: $what"
        return 0
    fi
    log "FAILED: $what"
    return 1
}

# The same, counted into the script's $passed and $failed.
check() {
    if checked "$@"; then
        passed=$((passed + 1))
        return 0
    fi
    failed=$((failed + 1))
    return 1
}

not() { ! "$@"; }

# Runs a command every 0.1 s for up to $1 seconds until it succeeds.
wait_until() {
    local limit=$1 i
    shift
    for ((i = 0; i < limit * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# ---- Wine under a virtual X server of its own ------------------------------------

# Sets WINE and WINESERVER (the 64-bit ones where both exist); false without Wine.
find_wine() {
    local p
    WINE=""
    WINESERVER=""
    for p in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
        [[ -n $p && -x $p ]] && { WINE=$p; break; }
    done
    for p in /usr/lib/wine/wineserver64 "$(command -v wineserver || true)"; do
        [[ -n $p && -x $p ]] && { WINESERVER=$p; break; }
    done
    [[ -n $WINE && -n $WINESERVER ]]
}

# Starts Xvfb on a free display (screen $2, e.g. 1024x768x24) and a fresh Wine
# prefix in $1/prefix; exports DISPLAY and Wine's variables, sets xvfb_pid.
# Needs find_wine first.
start_wine_session() {
    local work=$1 screen=$2
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    wait_until 5 test -s "$work/display"
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
    export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
    "$WINE" wineboot -i >/dev/null 2>&1
    # With no window manager, Wine waits ~2 s for one whenever a window hides
    # unless its windows are unmanaged; explorer reads this only when it starts.
    "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    "$WINESERVER" -w
}

# Ends every Wine process of the prefix, then the X server (also under set -e).
stop_wine_session() {
    if [[ -n ${WINESERVER:-} && -d ${WINEPREFIX:-/nonexistent} ]]; then
        "$WINESERVER" -k 2>/dev/null || true
        "$WINESERVER" -w 2>/dev/null || true
    fi
    if [[ -n ${xvfb_pid:-} ]]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}
