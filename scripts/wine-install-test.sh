#!/usr/bin/env bash
# The Windows installer under Wine and a virtual X server, as a user or an
# administrator would run it: a silent install that starts the program, an
# install over the running program, then a silent uninstall while a host
# runs, with the logon task created beforehand; last a second round that
# asks for the data folder to go and leaves another copy's Run value alone.
#
# Wine's netsh accepts every command and applies none, so the firewall is
# checked by the arguments netsh received from the installer and the
# uninstaller (Wine prints them on its "fixme" channel), not by a rule.
#
# Usage: scripts/wine-install-test.sh
# Needs build/windows/korvex-VERSION-setup.exe (KORVEX_SETUP overrides it).
# Ends with "install: N passed, M failed"; exits non-zero when anything failed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.." || exit 1
readonly ROOT=$PWD
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$ROOT/build/windows/CMakeCache.txt" 2>/dev/null)
readonly VERSION
readonly SETUP=${KORVEX_SETUP:-$ROOT/build/windows/korvex-$VERSION-setup.exe}
readonly SHIPPED_EXE=$ROOT/build/windows/src/installer/korvex-host.exe
readonly WORK=$ROOT/build/windows/install-test
readonly RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
readonly ARP_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvex'
readonly INSTALLED_EXE='C:\Program Files\Korvex\korvex-host.exe'

log() { printf 'wine-install: %s\n' "$*" >&2; }
die() {
    log "error: $*"
    echo "install: 0 passed, 1 failed"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"
ensure_packages xvfb xdotool x11-utils >&2

passed=0
failed=0
xvfb_pid=""
host_pid=""

cleanup() {
    [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null
    stop_wine_session
}
trap cleanup EXIT

if ! find_wine || [[ -z $VERSION || ! -f $SETUP ]]; then
    die "missing the installer ($SETUP) or Wine"
fi

# ---- X server and a fresh Wine prefix ------------------------------------------

rm -rf "$WORK"
mkdir -p "$WORK"
# Wine turns the Start-menu shortcut into a desktop menu entry: keep it (and
# its icons) in the work folder, away from the home folder of whoever runs this.
export XDG_DATA_HOME=$WORK/xdg/data XDG_CONFIG_HOME=$WORK/xdg/config
start_wine_session "$WORK" 1024x768x24

readonly DRIVE_C=$WINEPREFIX/drive_c
readonly PROGRAM_DIR="$DRIVE_C/Program Files/Korvex"
readonly SHORTCUT="$DRIVE_C/ProgramData/Microsoft/Windows/Start Menu/Programs/Korvex.lnk"
readonly TASK_FILE=$DRIVE_C/windows/system32/tasks/KorvexHost
appdata=$("$WINE" cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')
DATA_DIR=$("$WINE" winepath -u "$appdata" 2>/dev/null)/Korvex
readonly DATA_DIR

# ---- helpers -------------------------------------------------------------------

# The data of a registry value as `reg query` prints it; nothing when absent.
reg_value() {
    "$WINE" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
        | sed -nE "s/^ +$2 +REG_[A-Z_]+ +(.*)$/\1/p"
}

reg_key_exists() { "$WINE" reg query "$1" >/dev/null 2>&1; }

# Wine's tray window shows while any notification-area icon exists.
tray_shown() { xdotool search --onlyvisible --name '^Wine System Tray$' >/dev/null 2>&1; }

# The arguments netsh received, one command per line, from a log of Wine's
# fixme channel: `advfirewall firewall add rule name=Korvex ...`.
netsh_commands() {
    sed -nE 's/^[0-9a-f]+:fixme:netsh:wmain stub: L"[^"]*" //p' "$1" | sed -E 's/L"([^"]*)"/\1/g; s/\\\\/\\/g'
}

run_logged() {
    local log=$1
    shift
    WINEDEBUG=-all,fixme+netsh "$WINE" "$@" 2>"$log"
}

# The uninstaller runs from a copy in the temporary folder and returns at
# once: its last step removes the program's folder.
uninstall() {
    local log=$1
    shift
    run_logged "$log" "$PROGRAM_DIR/uninstall.exe" /S "$@" || return 1
    wait_until 30 not test -d "$PROGRAM_DIR"
}

# ---- the first install, over a running host, and the uninstall ------------------

readonly PROGRAM_ARG='program=C:\Program Files\Korvex\korvex-host.exe'
readonly RULE_DELETE="advfirewall firewall delete rule name=Korvex dir=in $PROGRAM_ARG"
rule_add() {
    echo "advfirewall firewall add rule name=Korvex dir=in action=allow $PROGRAM_ARG enable=yes profile=private" \
        "protocol=$1 localport=49182-49192"
}

# A silent install that also starts the program (through the shell, so it
# does not inherit the installer's administrator rights).
check "a silent install (/S /START) succeeds" run_logged "$WORK/install1.log" "$SETUP" /S /START
check "the program and the uninstaller are installed" \
    test -f "$PROGRAM_DIR/korvex-host.exe" -a -f "$PROGRAM_DIR/uninstall.exe"
check "the installed program is the build's" cmp -s "$PROGRAM_DIR/korvex-host.exe" "$SHIPPED_EXE"
check "the user docs and their pictures are installed" test -f "$PROGRAM_DIR/docs/USER.md" \
    -a -f "$PROGRAM_DIR/docs/GAMEPAD.md" -a -f "$PROGRAM_DIR/docs/images/tray-menu.png" \
    -a -f "$PROGRAM_DIR/docs/images/pairing-flyout.png"
check "the Start-menu shortcut exists" test -f "$SHORTCUT"
check "the shortcut points at the program" grep -qa 'korvex-host.exe' "$SHORTCUT"
check "Add/Remove Programs names Korvex" test "$(reg_value "$ARP_KEY" DisplayName)" = Korvex
check "Add/Remove Programs shows version $VERSION" test "$(reg_value "$ARP_KEY" DisplayVersion)" = "$VERSION"
size_kib=$(($(reg_value "$ARP_KEY" EstimatedSize)))
# The files' sizes (a folder's own size, as du counts it, is not in it);
# the installer may round down by up to a KiB per file.
actual_kib=$(find "$PROGRAM_DIR" -type f -printf '%s\n' | awk '{ n++; s += $1 } END { print int(s / 1024), n }')
read -r actual_kib file_count <<<"$actual_kib"
check "Add/Remove Programs shows the size ($size_kib KiB for $actual_kib KiB in $file_count files)" \
    test "$size_kib" -gt 0 -a "$size_kib" -le "$actual_kib" -a $((actual_kib - size_kib)) -le "$file_count"
check "the uninstall commands are registered" test \
    "$(reg_value "$ARP_KEY" UninstallString)|$(reg_value "$ARP_KEY" QuietUninstallString)" \
    = '"C:\Program Files\Korvex\uninstall.exe"|"C:\Program Files\Korvex\uninstall.exe" /S'
check "the Run value is the program's own: its quoted path" \
    test "$(reg_value "$RUN_KEY" Korvex)" = "\"$INSTALLED_EXE\""
netsh_commands "$WORK/install1.log" >"$WORK/install1.netsh"
printf '%s\n' "$RULE_DELETE" "$(rule_add TCP)" "$(rule_add UDP)" >"$WORK/expected.netsh"
check "netsh got: the old rule deleted, then TCP and UDP 49182-49192 allowed in for the program, private profile" \
    diff "$WORK/expected.netsh" "$WORK/install1.netsh"
check "the installer started the program (its tray icon shows)" wait_until 20 tray_shown

# Installing again closes the running program first, through its tray window.
check "an install over the running program succeeds" run_logged "$WORK/install2.log" "$SETUP" /S
check "the running program was closed (its icon is gone)" wait_until 10 not tray_shown

# The program started as a user would, with its administrator logon task
# created beforehand (Wine needs its scheduler service started for that).
env -u RC_DATA_DIR "$WINE" "$INSTALLED_EXE" >/dev/null 2>&1 &
host_pid=$!
check "the installed program starts (its tray icon shows)" wait_until 20 tray_shown
check "it keeps its data in %APPDATA%\\Korvex" wait_until 10 test -f "$DATA_DIR/host_identity.bin"
cat >"$WORK/task.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">
  <Triggers><LogonTrigger><Enabled>true</Enabled></LogonTrigger></Triggers>
  <Principals><Principal id="Author"><RunLevel>HighestAvailable</RunLevel></Principal></Principals>
  <Actions Context="Author">
    <Exec><Command>"$INSTALLED_EXE"</Command><Arguments>--background</Arguments></Exec>
  </Actions>
</Task>
EOF
for _ in 1 2 3; do
    "$WINE" net start schedule >/dev/null 2>&1
    "$WINE" schtasks /Create /TN KorvexHost /XML "Z:${WORK//\//\\}\\task.xml" /F >/dev/null 2>&1 && break
    sleep 1
done
check "the logon task exists before the uninstall" test -f "$TASK_FILE"

check "a silent uninstall succeeds" uninstall "$WORK/uninstall1.log"
host_rc=timeout
if wait_until 15 not kill -0 "$host_pid" 2>/dev/null; then
    wait "$host_pid"
    host_rc=$?
    host_pid=""
fi
check "the uninstaller closed the program through its tray window (exit code $host_rc)" test "$host_rc" = 0
check "its icon is gone" not tray_shown
check "the program's folder is gone" not test -e "$PROGRAM_DIR"
check "the shortcut is gone" not test -e "$SHORTCUT"
check "the Add/Remove Programs entry is gone" not reg_key_exists "$ARP_KEY"
check "the Run value is gone" test -z "$(reg_value "$RUN_KEY" Korvex)"
check "the logon task is gone" not test -e "$TASK_FILE"
netsh_commands "$WORK/uninstall1.log" >"$WORK/uninstall1.netsh"
check "netsh got the rule's deletion" diff <(echo "$RULE_DELETE") "$WORK/uninstall1.netsh"
check "the data folder stays" test -f "$DATA_DIR/host_identity.bin"

# ---- second round: no Run value asked for; the data folder removed on request ----

check "a silent install without start at login (/S /NOLOGIN) succeeds" run_logged "$WORK/install3.log" "$SETUP" /S /NOLOGIN
check "/NOLOGIN wrote no Run value" test -z "$(reg_value "$RUN_KEY" Korvex)"
"$WINE" reg add "$RUN_KEY" /v Korvex /d '"C:\Other\korvex-host.exe"' /f >/dev/null 2>&1
check "a silent uninstall with /REMOVEDATA succeeds" uninstall "$WORK/uninstall2.log" /REMOVEDATA
check "/REMOVEDATA removed the data folder" not test -e "$DATA_DIR"
check "another copy's Run value stays" test "$(reg_value "$RUN_KEY" Korvex)" = '"C:\Other\korvex-host.exe"'

log "installer: $(stat -c %s "$SETUP") bytes"
echo "install: $passed passed, $failed failed"
[[ $failed == 0 ]]
