#!/usr/bin/env bash
# Builds the Windows (mingw-w64) dependencies of Korvex into a cached prefix
# outside the clone: libsodium and libqrencode from Debian's source packages,
# GoogleTest from /usr/src/googletest, plus links to the header-only libraries
# (Asio, nlohmann/json) that the cross build shares with the host system.
#
# The prefix is named after the versions it holds, so a second run finds it and
# returns at once. Usage:
#   KORVEX_WIN_DEPS=$(scripts/deps-windows.sh)
# The prefix path is the last line on stdout; everything else goes to stderr.
#
# Environment: KORVEX_CACHE (default $HOME/.cache/korvex) is the cache root.
set -euo pipefail

# Bump when the way the prefix is built changes, so old prefixes are not reused.
readonly RECIPE=v1
readonly HOST_TRIPLE=x86_64-w64-mingw32
readonly CC_CROSS=${HOST_TRIPLE}-gcc-posix
readonly CXX_CROSS=${HOST_TRIPLE}-g++-posix
readonly PACKAGES=(
    gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
    autoconf automake libtool make dpkg-dev patch xz-utils bzip2 cmake ninja-build
    googletest libasio-dev nlohmann-json3-dev
)

work=""
trap '[[ -z $work ]] || rm -rf "$work"' EXIT

log() { echo "deps-windows: $*" >&2; }
die() { log "error: $*"; exit 1; }

# shellcheck source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

installed_version() { dpkg-query -W -f '${Version}' "$1"; }

# "package source-version" for the candidate of each binary package named: the
# source version is "Source: name (version)" after a binary-only rebuild, else
# the package's own version.
candidate_source_versions() {
    local info
    info=$(apt-cache show --no-all-versions "$@" 2>/dev/null) || return 0
    awk '
        /^Package:/ { p = $2; v = ""; s = "" }
        /^Version:/ { v = $2 }
        /^Source:/ && NF >= 3 { s = $3; gsub(/[()]/, "", s) }
        /^$/ && p != "" { print p, (s != "" ? s : v); p = "" }
        END { if (p != "") print p, (s != "" ? s : v) }' <<<"$info"
}

# Sets sodium_ver and qrencode_ver, refreshing the package lists once if they
# do not know the packages (a fresh image ships without lists).
lookup_source_versions() {
    local attempt lines
    for attempt in 1 2; do
        lines=$(candidate_source_versions libsodium-dev libqrencode-dev)
        sodium_ver=$(awk '$1 == "libsodium-dev" { print $2; exit }' <<<"$lines")
        qrencode_ver=$(awk '$1 == "libqrencode-dev" { print $2; exit }' <<<"$lines")
        [[ -n $sodium_ver && -n $qrencode_ver ]] && return 0
        [[ $attempt == 1 ]] && apt_update_once
    done
    die "libsodium-dev or libqrencode-dev has no candidate version in the package lists"
}

# Source packages need deb-src entries; mirror the system's own Debian sources.
has_source() {
    local info
    info=$(apt-cache showsrc "$1" 2>/dev/null) || return 1
    grep -Fqx "Version: $2" <<<"$info"
}
ensure_deb_src() {
    has_source "$1" "$2" && return 0
    local base=/etc/apt/sources.list.d/korvex-deb-src
    if [[ ! -e $base.sources && ! -e $base.list ]]; then
        log "adding deb-src entries for the Debian archive"
        if [[ -r /etc/apt/sources.list.d/debian.sources ]]; then
            sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources
        elif [[ -r /etc/apt/sources.list ]]; then
            sed -n 's/^deb /deb-src /p' /etc/apt/sources.list
        fi | as_root tee "$base.new" >/dev/null
        [[ -s $base.new ]] || die "no Debian sources found to copy; add deb-src entries by hand"
        # One-line entries belong in a .list file, deb822 ones in a .sources file.
        if grep -q '^deb-src ' "$base.new"; then
            as_root mv "$base.new" "$base.list"
        else
            as_root mv "$base.new" "$base.sources"
        fi
        apt_updated=0
    fi
    apt_update_once
    has_source "$1" "$2" || die "source package $1 $2 is not available"
}

# Unpacks a downloaded source package into $3, with Debian's patches when the
# whole package downloaded, else the upstream tarball alone.
unpack_source() {
    local name=$1 version=$2 dest=$3 upstream=${2#*:}
    upstream=${upstream%-*}
    if dpkg-source --no-check -x "${name}_${version#*:}.dsc" "$dest" >&2 2>/dev/null; then
        return 0
    fi
    local orig
    orig=$(compgen -G "${name}_${upstream}.orig.tar.*" | head -n1) || true
    [[ -n $orig ]] || die "no source tarball for $name $version"
    log "$name: Debian changes unavailable, building the upstream tarball $orig"
    rm -rf "$dest"
    mkdir -p "$dest"
    tar -xf "$orig" -C "$dest" --strip-components=1
}

main() {
    command -v dpkg-query >/dev/null || die "this script needs a Debian system"
    ensure_packages "${PACKAGES[@]}"

    local sodium_ver qrencode_ver gtest_ver gcc_ver
    lookup_source_versions
    gtest_ver=$(installed_version googletest)
    gcc_ver=$(installed_version g++-mingw-w64-x86-64-posix)
    gcc_ver=${gcc_ver%%-*}

    local cache=${KORVEX_CACHE:-${HOME:?}/.cache/korvex}
    local prefix="$cache/mingw${gcc_ver}-sodium${sodium_ver}-qrencode${qrencode_ver}-gtest${gtest_ver}-${RECIPE}"
    prefix=${prefix//:/_}
    if [[ -f $prefix/.complete ]]; then
        echo "$prefix"
        return 0
    fi

    mkdir -p "$cache"
    # One builder at a time per cache; a second caller waits and then finds the prefix.
    exec 9>"$cache/.lock"
    flock 9
    if [[ -f $prefix/.complete ]]; then
        echo "$prefix"
        return 0
    fi
    # Leftovers of runs that were killed; the lock says none is still going.
    rm -rf "$cache"/.build.* "$prefix"

    local started=$SECONDS
    work=$(mktemp -d "$cache/.build.XXXXXX")
    local stage="$work/stage" jobs
    jobs=$(nproc 2>/dev/null || echo 2)
    log "building into $prefix"

    ensure_deb_src libsodium "$sodium_ver"
    ensure_deb_src qrencode "$qrencode_ver"
    mkdir -p "$work/src"
    (
        cd "$work/src"
        # The mirror sometimes lacks a Debian tarball; the .orig tarball is enough.
        apt-get source --download-only -qq "libsodium=$sodium_ver" "qrencode=$qrencode_ver" >&2 2>/dev/null || true
        unpack_source libsodium "$sodium_ver" sodium
        unpack_source qrencode "$qrencode_ver" qrencode
    )

    log "libsodium $sodium_ver"
    (
        cd "$work/src/sodium"
        # No network here: keep the config.guess/config.sub that come with the source.
        DO_NOT_UPDATE_CONFIG_SCRIPTS=1 ./autogen.sh -s >"$work/sodium-autogen.log" 2>&1 \
            || { tail -n 40 "$work/sodium-autogen.log" >&2; exit 1; }
        ./configure --host="$HOST_TRIPLE" CC="$CC_CROSS" --disable-shared --enable-static --prefix="$prefix" \
            >"$work/sodium-configure.log" 2>&1 || { tail -n 40 "$work/sodium-configure.log" >&2; exit 1; }
        make -j"$jobs" >"$work/sodium-make.log" 2>&1 || { tail -n 40 "$work/sodium-make.log" >&2; exit 1; }
        make install DESTDIR="$stage" >"$work/sodium-install.log" 2>&1 \
            || { tail -n 40 "$work/sodium-install.log" >&2; exit 1; }
    )

    local cmake_cross=(
        -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_SYSTEM_PROCESSOR=x86_64
        -DCMAKE_C_COMPILER="$CC_CROSS" -DCMAKE_CXX_COMPILER="$CXX_CROSS" -DCMAKE_RC_COMPILER="${HOST_TRIPLE}-windres"
        -DCMAKE_FIND_ROOT_PATH="/usr/$HOST_TRIPLE" -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER
        -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
        -DCMAKE_FIND_ROOT_PATH_MODE_PACKAGE=ONLY -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib
        -DBUILD_SHARED_LIBS=OFF
    )
    cmake_build() {
        local name=$1 src=$2
        shift 2
        cmake -S "$src" -B "$work/build-$name" "${cmake_cross[@]}" "$@" >"$work/$name-configure.log" 2>&1 \
            || { tail -n 40 "$work/$name-configure.log" >&2; return 1; }
        cmake --build "$work/build-$name" -j "$jobs" >"$work/$name-build.log" 2>&1 \
            || { tail -n 40 "$work/$name-build.log" >&2; return 1; }
        DESTDIR="$stage" cmake --install "$work/build-$name" >"$work/$name-install.log" 2>&1 \
            || { tail -n 40 "$work/$name-install.log" >&2; return 1; }
    }

    log "libqrencode $qrencode_ver"
    cmake_build qrencode "$work/src/qrencode" -DWITH_TOOLS=OFF -DWITH_TESTS=OFF -DWITHOUT_PNG=ON \
        -DCMAKE_DISABLE_FIND_PACKAGE_Iconv=ON

    log "googletest $gtest_ver"
    # Win32 threading inside gtest; no pthread dependency in its exported targets.
    cmake_build googletest /usr/src/googletest -DINSTALL_GTEST=ON -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=ON

    # Header-only libraries: their own folders only, never all of /usr/include.
    local final="$stage$prefix"
    mkdir -p "$final/host-headers"
    local h
    for h in asio asio.hpp nlohmann; do
        [[ -e /usr/include/$h ]] || die "/usr/include/$h is missing"
        ln -s "/usr/include/$h" "$final/host-headers/$h"
    done
    [[ -d $final/lib/cmake/GTest && -f $final/lib/libsodium.a && -f $final/lib/libqrencode.a ]] \
        || die "the staged prefix is incomplete"
    printf 'libsodium %s\nqrencode %s\ngoogletest %s\nmingw-w64 gcc %s\n' \
        "$sodium_ver" "$qrencode_ver" "$gtest_ver" "$gcc_ver" >"$final/.complete"

    # The prefix appears whole or not at all.
    mv "$final" "$prefix"
    log "done in $((SECONDS - started)) s"
    echo "$prefix"
}

main "$@"
