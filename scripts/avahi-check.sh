#!/usr/bin/env bash
# The real mDNS check on Linux.
#
# 1. Makes sure a D-Bus system bus and avahi-daemon are running; when they are
#    not (a container without systemd), starts them itself, as root. The
#    daemon it starts is bound to the loopback interface only, so the check
#    sends nothing onto the network.
# 2. Unless --daemons-only is given: starts the Linux host (build/linux/src/
#    korvex-host, or the program named by KORVEX_HOST) with a fresh data
#    folder, waits until `avahi-browse -rpt _korvex._tcp` finds it with its
#    port and the TXT properties v, id, name, os and fp, and stops it again.
#
# Daemons it started are left running (a later run, or the tests, reuse them).
# Exits non-zero when anything is missing.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."

log() { echo "avahi-check: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}

daemons_only=0
[[ ${1:-} == --daemons-only ]] && daemons_only=1

# ---- packages -------------------------------------------------------------

# shellcheck source=lib.sh
source scripts/lib.sh
ensure_packages dbus avahi-daemon avahi-utils

# ---- D-Bus system bus -----------------------------------------------------

system_bus_up() { dbus-send --system --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId >/dev/null 2>&1; }

if ! system_bus_up; then
    [[ $(id -u) == 0 ]] || die "no D-Bus system bus, and only root can start one"
    log "starting a D-Bus system bus"
    mkdir -p /run/dbus
    dbus-uuidgen --ensure
    # A stale socket or pid file from a bus that died would stop the new one.
    if [[ -e /run/dbus/pid ]] && ! kill -0 "$(cat /run/dbus/pid)" 2>/dev/null; then
        rm -f /run/dbus/pid /run/dbus/system_bus_socket
    fi
    dbus-daemon --system --fork
    for _ in $(seq 50); do
        system_bus_up && break
        sleep 0.1
    done
    system_bus_up || die "the D-Bus system bus did not come up"
fi

# ---- avahi-daemon ---------------------------------------------------------

avahi_up() { avahi-browse -ptk _korvex._tcp >/dev/null 2>&1; }

if ! avahi_up; then
    [[ $(id -u) == 0 ]] || die "avahi-daemon is not running, and only root can start it"
    log "starting avahi-daemon on the loopback interface"
    conf_dir=/run/korvex-avahi
    mkdir -p "$conf_dir"
    cat >"$conf_dir/avahi-daemon.conf" <<'EOF'
[server]
use-ipv4=yes
use-ipv6=yes
allow-interfaces=lo
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-hinfo=no
publish-workstation=no
EOF
    # The daemon reloads D-Bus policy it ships with; a bus started before the
    # package was installed needs to read it.
    dbus-send --system --dest=org.freedesktop.DBus / org.freedesktop.DBus.ReloadConfig >/dev/null 2>&1 || true
    avahi-daemon --kill >/dev/null 2>&1 || true
    rm -f /run/avahi-daemon/pid
    avahi-daemon --daemonize --no-drop-root --no-chroot --no-rlimits --file="$conf_dir/avahi-daemon.conf"
    for _ in $(seq 100); do
        avahi_up && break
        sleep 0.1
    done
    avahi_up || die "avahi-daemon did not come up"
fi
log "D-Bus system bus and avahi-daemon are running"

[[ $daemons_only == 1 ]] && exit 0

# ---- the host -------------------------------------------------------------

host=${KORVEX_HOST:-build/linux/src/korvex-host}
[[ -x $host ]] || die "no host program at $host (build it first, or set KORVEX_HOST)"

data_dir=$(mktemp -d)
host_log=$data_dir/host.log
host_pid=""
cleanup() {
    if [[ -n $host_pid ]]; then
        kill "$host_pid" 2>/dev/null || true
        wait "$host_pid" 2>/dev/null || true
    fi
    rm -rf "$data_dir"
}
trap cleanup EXIT

name="korvex-check-$$"
log "starting $host as \"$name\""
# The console reads standard input; keep it open and silent through a FIFO
# this shell holds (a helper process holding it would outlive the script and
# keep a caller's pipe open).
mkfifo "$data_dir/console"
exec 3<>"$data_dir/console"
# COMPUTERNAME would win over HOSTNAME, even empty: make sure it is unset.
env -u COMPUTERNAME RC_DATA_DIR="$data_dir" HOSTNAME="$name" "$host" <"$data_dir/console" >"$host_log" 2>&1 &
host_pid=$!

found=""
for _ in $(seq 30); do
    if ! kill -0 "$host_pid" 2>/dev/null; then
        cat "$host_log" >&2
        die "the host exited early"
    fi
    # Resolved lines: =;iface;proto;name;type;domain;host;address;port;txt
    found=$(avahi-browse -rpt _korvex._tcp 2>/dev/null | grep "^=;.*;$name;_korvex._tcp;" | head -n1 || true)
    [[ -n $found ]] && break
    sleep 0.5
done
[[ -n $found ]] || die "avahi-browse did not find the host's _korvex._tcp service"
log "found: $found"

IFS=';' read -r _ _ _ _ _ _ _ _ port txt <<<"$found"
[[ $port =~ ^491(8[2-9]|9[0-2])$ ]] || die "unexpected port $port"
for key in v id name os fp; do
    grep -q "\"$key=" <<<"$txt" || die "TXT property $key is missing: $txt"
done
log "ok: port $port, TXT $txt"
