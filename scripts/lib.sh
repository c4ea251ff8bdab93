# Shared by the scripts: installing missing Debian packages. The sourcing
# script defines log() and die() first.

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
