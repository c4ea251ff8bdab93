#!/usr/bin/env bash
# The Windows tray program under Wine and a virtual X server, driven from
# outside as a user would: first-run prompt, single instance, the tray icon
# and its menu, the pairing flyout's QR code read back with zbarimg and used
# by the native korvex-remote, the controlled icon, exit; then a start with
# the Run value present (no prompt) and a start with every port taken (the
# error box); then the gamepad mapping window: opened from the menu, its
# layout, key captures typed through the X server, Save, the tray's output
# choice, Close with Cancel and No.
#
# Usage: scripts/wine-gui-test.sh [RUNS]   (RUNS whole flows, default 1)
# Needs build/windows/src/korvex-host.exe and build/linux/src/client/korvex-remote
# (KORVEX_HOST_EXE / KORVEX_REMOTE override them). Ends with
# "gui: N passed, M failed"; exits non-zero when anything failed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
readonly ROOT=$PWD
readonly RUNS=${1:-1}
readonly HOST_EXE=${KORVEX_HOST_EXE:-$ROOT/build/windows/src/korvex-host.exe}
readonly REMOTE=${KORVEX_REMOTE:-$ROOT/build/linux/src/client/korvex-remote}
readonly HOLD=${KORVEX_HOLD_SESSION:-$ROOT/build/linux/tests/korvex-hold-session}
readonly FAKE_SCHTASKS=${KORVEX_FAKE_SCHTASKS:-$ROOT/build/windows/tests/fake-schtasks.exe}
readonly WORK=$ROOT/build/windows/gui-test
readonly RUN_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'

log() { printf 'wine-gui: %s\n' "$*" >&2; }
die() {
    log "error: $*"
    echo "gui: 0 passed, 1 failed"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"
ensure_packages xvfb xdotool x11-utils imagemagick zbar-tools python3 >&2

passed=0
failed=0
xvfb_pid=""
host_pid=""
holder_pid=""

cleanup() {
    [[ -n $holder_pid ]] && kill "$holder_pid" 2>/dev/null
    [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null
    stop_wine_session
}
trap cleanup EXIT

summary() {
    echo "gui: $passed passed, $failed failed"
    [[ $failed == 0 ]]
}

if ! find_wine || [[ ! -f $HOST_EXE || ! -f $FAKE_SCHTASKS || ! -f ${KORVEX_WINDOW_PROBE:-$ROOT/build/windows/tests/korvex-window-probe.exe} || ! -x $REMOTE || ! -x $HOLD ]]; then
    log "missing korvex-host.exe, fake-schtasks.exe, korvex-remote, korvex-hold-session or Wine"
    failed=1
    summary
    exit 1
fi

rm -rf "$WORK"
mkdir -p "$WORK/bin"
# The program runs from a folder of its own, where the schtasks.exe stand-in
# is found first (the program's folder leads the search path).
cp "$HOST_EXE" "$WORK/bin/korvex-host.exe"
cp "$FAKE_SCHTASKS" "$WORK/bin/schtasks.exe"
export KORVEX_SCHTASKS_LOG=$WORK/schtasks.log

# ---- X server and a fresh Wine prefix ------------------------------------------

start_wine_session "$WORK" 1600x1000x24

# ---- helpers -------------------------------------------------------------------

# A Windows path for a Linux one (Wine's Z: drive is the root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Waits up to $2 seconds for a visible window whose name matches $1; prints its id.
wait_window() {
    local name=$1 limit=$2 id i
    for ((i = 0; i < limit * 10; i++)); do
        id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n1)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

wait_no_window() {
    local name=$1 limit=$2 i
    for ((i = 0; i <= limit * 10; i++)); do
        xdotool search --onlyvisible --name "$name" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    return 1
}

# Prints "X Y W H" of a window.
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$4} /Absolute upper-left Y/{y=$4}
        /Width:/{w=$2} /Height:/{h=$2} END{print x, y, w, h}'
}

# Wine's DPI while the program runs (its frames grow with it).
TRAY_DPI=96

# Looks at the tray window's pixels: prints "CX CY GREEN" — the centre of
# everything that is not the background colour, and how many pixels have the
# controlled icon's green.
tray_look() {
    local shot=$WORK/tray.png
    read -r x y w h < <(geometry "$1")
    # Only the client area: Wine's own frame has a title bar of 21 pixels at 96 DPI.
    x=$((x + 4 * TRAY_DPI / 96)) y=$((y + 23 * TRAY_DPI / 96))
    w=$((w - 8 * TRAY_DPI / 96)) h=$((h - 26 * TRAY_DPI / 96))
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shot" 2>/dev/null || return 1
    convert "$shot" -depth 8 rgb:- | python3 -c '
import sys, collections
w, h, ox, oy = map(int, sys.argv[1:5])
data = sys.stdin.buffer.read()
px = [tuple(data[i:i + 3]) for i in range(0, len(data), 3)]
background = collections.Counter(px).most_common(1)[0][0]
xs, ys, green = [], [], 0
for i, p in enumerate(px):
    if p != background:
        xs.append(i % w); ys.append(i // w)
    if abs(p[0] - 59) < 12 and abs(p[1] - 181) < 12 and abs(p[2] - 90) < 12:
        green += 1
if not xs:
    sys.exit(1)
print((min(xs) + max(xs)) // 2 + ox, (min(ys) + max(ys)) // 2 + oy, green)
' "$w" "$h" "$x" "$y"
}

# The largest of the windows given (a menu, not a tooltip, which may come
# alone first); nothing for none.
largest_window() {
    local id best="" best_area=20000 x y w h
    for id in "$@"; do
        read -r x y w h < <(geometry "$id") || continue
        if ((w * h > best_area)); then
            best=$id
            best_area=$((w * h))
        fi
    done
    echo "$best"
}

# Clicks the tray icon and waits for a new popup window (the menu); prints its id.
open_menu() {
    local tray=$1 cx cy _g before attempt id
    for attempt in 1 2 3; do
        read -r cx cy _g < <(tray_look "$tray") || return 1
        before=$(xdotool search --onlyvisible --name '' 2>/dev/null | sort)
        xdotool mousemove "$cx" "$cy"
        sleep 0.25
        xdotool click 1
        for _ in $(seq 30); do
            sleep 0.1
            id=$(largest_window $(comm -13 <(echo "$before") <(xdotool search --onlyvisible --name '' 2>/dev/null | sort)))
            [[ -n $id ]] && { echo "$id"; return 0; }
        done
        xdotool key Escape
    done
    return 1
}

# Saves a picture of one window as $2 (the menu and the flyout go into the
# user docs from here).
window_shot() {
    local x y w h
    read -r x y w h < <(geometry "$1")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2" 2>/dev/null
}

# Chooses a menu item with the keyboard: focus the menu, then the keys.
menu_keys() {
    local menu=$1
    shift
    xdotool windowfocus "$menu" 2>/dev/null
    sleep 0.1
    xdotool key "$@"
}

start_host() {
    RC_DATA_DIR=$(winpath "$1") "$WINE" "$WORK/bin/korvex-host.exe" >>"$WORK/host.log" 2>&1 &
    host_pid=$!
}

# When an expected window never came: whether the program still runs, which
# windows are there, and a screenshot ($1 names it).
missing_window() {
    local state="running"
    kill -0 "$host_pid" 2>/dev/null || { wait "$host_pid" 2>/dev/null; state="ended with exit code $?"; }
    log "the program: $state; visible windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|')"
    import -window root "$WORK/$1.png" 2>/dev/null && log "screen: $WORK/$1.png"
    [[ -s $WORK/host.log ]] && log "Wine's last words: $(tail -n 5 "$WORK/host.log" | tr '\n' '|')"
    return 0
}

host_gone() {
    local i
    for ((i = 0; i < $1 * 10; i++)); do
        kill -0 "$host_pid" 2>/dev/null || { wait "$host_pid" 2>/dev/null; host_pid=""; return 0; }
        sleep 0.1
    done
    return 1
}

# ---- one whole flow ----------------------------------------------------------------

flow() {
    local n=$1 dir=$WORK/run$1
    local data=$dir/data client=$dir/client
    mkdir -p "$data" "$client"
    "$WINE" reg delete "$RUN_KEY" /v Korvex /f >/dev/null 2>&1

    start_host "$data"
    local prompt
    prompt=$(wait_window '^korvex-host$' 40) || { log "no first-run prompt"; return 1; }
    checked "the marker is written before the prompt" test -f "$data/startup_prompted" || return 1
    xdotool key --window "$prompt" Return
    wait_no_window '^korvex-host$' 10 || { log "the prompt stayed"; return 1; }
    "$WINE" reg query "$RUN_KEY" /v Korvex >"$dir/run-value.txt" 2>&1
    checked "Yes wrote the Run value" grep -qi 'korvex-host.exe' "$dir/run-value.txt" || return 1

    checked "the first-run check asked for the logon task" grep -qxE $'/Query /TN KorvexHost\r?' "$KORVEX_SCHTASKS_LOG" \
        || return 1
    local tray
    tray=$(wait_window '^Wine System Tray$' 20) || { log "no tray icon"; missing_window no-tray; return 1; }
    local width_before
    width_before=$(geometry "$tray" | cut -d' ' -f3)

    # A second start leaves at once, with no second icon.
    local t0=$SECONDS
    RC_DATA_DIR=$(winpath "$data") timeout 30 "$WINE" "$WORK/bin/korvex-host.exe" >/dev/null 2>&1
    local rc=$?
    checked "a second start exits at once (exit $rc, $((SECONDS - t0)) s)" test "$rc" = 0 || return 1
    sleep 0.5
    checked "still one icon" test "$(geometry "$tray" | cut -d' ' -f3)" = "$width_before" || return 1

    # Menu -> "Pair New Device…": three status lines, then the item.
    local menu flyout
    for _ in 1 2 3; do
        menu=$(open_menu "$tray") || { log "no menu"; return 1; }
        sleep 0.2
        window_shot "$menu" "$dir/menu.png"
        menu_keys "$menu" Down Down Down Down Return
        flyout=$(wait_window '^Pair New Device$' 5) && break
    done
    [[ -n $flyout ]] || { log "no flyout"; return 1; }
    xdotool mousemove 1000 750
    sleep 0.5
    read -r fx fy fw fh < <(geometry "$flyout")
    log "flyout at $fx,$fy, ${fw}x${fh}"
    import -window root "$dir/flyout.png" 2>/dev/null
    window_shot "$flyout" "$dir/flyout-window.png"
    local uri
    uri=$(zbarimg -q --raw "$dir/flyout.png" 2>/dev/null | head -n1)
    log "decoded: $uri"
    local offer='^korvex://pair\?v=1&id=[^&]+&name=[^&]*&os=windows&lan=[^&]*&ts=[^&]*&pk=[0-9a-f]{64}&code=[0-9]{6}$'
    checked "the QR code is a pairing offer" test -n "$uri" || return 1
    checked "the offer has every field" bash -c '[[ $1 =~ $2 ]]' _ "$uri" "$offer" || return 1

    # The port the host took (others on this machine may hold the first ones).
    local port=49182
    [[ $uri =~ \&lan=[^\&]*%3A([0-9]+)\& ]] && port=${BASH_REMATCH[1]}
    # Pairing checks the host's key against pk and proves the code.
    KORVEX_REMOTE_DIR="$client" "$REMOTE" pair "$uri" --host "127.0.0.1:$port" --name "Gui Test" >"$dir/pair.log" 2>&1
    checked "korvex-remote pairs with the URI on port $port" test $? = 0 || { cat "$dir/pair.log" >&2; return 1; }
    checked "the flyout closed after pairing" wait_no_window '^Pair New Device$' 10 || return 1

    # Input makes this device the one in control; the icon shows it at the
    # next refresh, which korvex-remote's own connection brings.
    local _x _y green
    read -r _x _y green < <(tray_look "$tray")
    checked "the icon shows ready before (${green:-0} green pixels)" test "${green:-0}" = 0 || return 1
    KORVEX_REMOTE_DIR="$client" "$HOLD" 127.0.0.1 "$port" 8 >"$dir/hold.log" 2>&1 &
    local holder=$! controlled=0
    for _ in $(seq 50); do grep -q "in control" "$dir/hold.log" 2>/dev/null && break; sleep 0.1; done
    for _ in 1 2 3; do
        KORVEX_REMOTE_DIR="$client" "$REMOTE" ping >/dev/null 2>&1
        sleep 0.3
        read -r _x _y green < <(tray_look "$tray")
        if [[ ${green:-0} -gt 20 ]]; then
            controlled=1
            import -window root "$dir/controlled.png" 2>/dev/null
            break
        fi
    done
    kill "$holder" 2>/dev/null
    wait "$holder" 2>/dev/null
    checked "the icon turned to the controlled look (${green:-0} green pixels)" test "$controlled" = 1 || return 1

    # "Exit Korvex" is the last item: Up from no selection, else ten steps down.
    local keys
    for keys in "Up" "Down Down Down Down Down Down Down Down Down Down" "Down Down Down Down Down Down Down Down Down Down"; do
        menu=$(open_menu "$tray") || { log "no menu for exit"; return 1; }
        # shellcheck disable=SC2086
        menu_keys "$menu" $keys Return
        host_gone 10 && break
    done
    checked "Exit Korvex ended the process" test -z "$host_pid" || return 1
    checked "the icon is gone" wait_no_window '^Wine System Tray$' 5 || return 1

    # With the Run value present, a start without the marker asks nothing
    # (and writes the marker); with the marker present and no Run value
    # nothing is asked either.
    rm -f "$data/startup_prompted"
    start_host "$data"
    wait_window '^Wine System Tray$' 20 >/dev/null || { log "no icon on the third start"; return 1; }
    sleep 1.5
    checked "no prompt with the Run value present" wait_no_window '^korvex-host$' 1 || return 1
    checked "the marker is written again" test -f "$data/startup_prompted" || return 1
    kill "$host_pid" 2>/dev/null
    host_gone 10
    "$WINESERVER" -w
    "$WINE" reg delete "$RUN_KEY" /v Korvex /f >/dev/null 2>&1
    start_host "$data"
    wait_window '^Wine System Tray$' 20 >/dev/null || { log "no icon on the fourth start"; return 1; }
    sleep 1.5
    checked "no prompt with the marker present" wait_no_window '^korvex-host$' 1 || return 1
    kill "$host_pid" 2>/dev/null
    host_gone 10
    "$WINESERVER" -w
    return 0
}

# Every port of the range taken: the start-up error box, then the process ends.
ports_taken() {
    local dir=$WORK/ports
    mkdir -p "$dir/data"
    python3 -c '
import socket, sys, time
# A host of an earlier step may still be letting go of its port: retry
# until every IPv4 port of the range is held, by us or by another program.
import errno
held, v4 = [], set()
deadline = time.time() + 20
while len(v4) < 11 and time.time() < deadline:
    for port in range(49182, 49193):
        for family, addr in ((socket.AF_INET, "0.0.0.0"), (socket.AF_INET6, "::")):
            if family == socket.AF_INET and port in v4:
                continue
            s = socket.socket(family, socket.SOCK_STREAM)
            # The paired session the host closed on Exit leaves its port in
            # TIME_WAIT, which refuses a plain bind here but not the host'"'"'s.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            if family == socket.AF_INET6:
                s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
            try:
                s.bind((addr, port)); s.listen(); held.append(s)
                if family == socket.AF_INET:
                    v4.add(port)
            except OSError as e:
                s.close()
                if family == socket.AF_INET and e.errno == errno.EADDRINUSE and time.time() > deadline - 15:
                    v4.add(port)  # still taken after 5 s: another program holds it
    if len(v4) < 11:
        time.sleep(0.2)
print("held" if len(v4) == 11 else "not all held", flush=True)
time.sleep(600)
' >"$dir/holder.log" 2>&1 &
    holder_pid=$!
    for _ in $(seq 250); do grep -q held "$dir/holder.log" 2>/dev/null && break; sleep 0.1; done
    checked "every port of the range is held" grep -qx held "$dir/holder.log" || return 1
    start_host "$dir/data"
    local box ok=0
    if box=$(wait_window '^Korvex$' 40); then
        xdotool key --window "$box" Return
        host_gone 10 && ok=1 || log "the process is still there after the box"
    else
        log "no error box"
        missing_window no-error-box
    fi
    # A host that did start must not stay to answer for the next step.
    if [[ -n $host_pid ]]; then
        kill "$host_pid" 2>/dev/null
        host_gone 10
        "$WINESERVER" -w
    fi
    kill "$holder_pid" 2>/dev/null
    wait "$holder_pid" 2>/dev/null
    holder_pid=""
    checked "every port taken: the error box, then the end" test "$ok" = 1
}

# ---- the gamepad mapping window ------------------------------------------------------

readonly PROBE=${KORVEX_WINDOW_PROBE:-$ROOT/build/windows/tests/korvex-window-probe.exe}

# The mapping window's controls as the probe lists them ("control ID CLASS X Y W H SX SY ENABLED STATE TEXT").
probe() { timeout 20 "$WINE" "$PROBE" KorvexPadMapping "$@" 2>/dev/null | tr -d '\r'; }
control_line() { probe | awk -v id="$1" '$2 == id'; }
control_text() { control_line "$1" | cut -d' ' -f12-; }
click_control() {
    local cx cy
    read -r cx cy < <(control_line "$1" | awk '{print $8, $9}')
    [[ -n $cx ]] || return 1
    xdotool mousemove "$cx" "$cy"
    sleep 0.2
    xdotool click 1
    sleep 0.4
}
# Starts a capture on the control, types the keys through the X server, and
# waits for the slot's text.
capture() {
    local change=$1 text_id=$2 want=$3 i
    shift 3
    click_control "$change" || return 1
    test "$(control_text "$change")" = "Press a key" || return 1
    xdotool key "$@"
    for i in 1 2 3 4 5; do
        [[ $(control_text "$text_id") == "$want" ]] && return 0
        sleep 0.3
    done
    return 1
}

# Menu item "Gamepad Mapping…": three status lines, "Pair New Device…",
# "Paired Devices", "Gamepad output", then it.
open_mapping_window() {
    local tray=$1 menu
    for _ in 1 2 3; do
        xdotool windowraise "$tray"
        menu=$(open_menu "$tray") || continue
        menu_keys "$menu" Down Down Down Down Down Down Down Return
        wait_window '^Korvex - Gamepad Mapping$' 5 && return 0
    done
    return 1
}

mapping_window() {
    local dir=$WORK/mapping data=$WORK/mapping/data
    mkdir -p "$data"
    printf 1 >"$data/startup_prompted"
    printf 1 >"$data/vigem_notified"
    start_host "$data"
    local tray window
    tray=$(wait_window '^Wine System Tray$' 30) || { log "no tray icon"; missing_window no-tray; return 1; }
    window=$(open_mapping_window "$tray") || { log "the menu item did not open the window"; return 1; }
    log "ok: the menu item opens the mapping window"
    xdotool mousemove 1000 750
    sleep 0.3
    read -r _x _y ww wh < <(geometry "$window")
    window_shot "$window" "$dir/mapping-96.png"
    log "mapping window at 96 DPI: ${ww}x${wh} ($dir/mapping-96.png)"
    local layout
    layout=$(probe 96 | grep '^layout')
    checked "its controls have their ids and places at 96 DPI ($layout)" grep -q '^layout ok ' <<<"$layout" \
        || { log "$layout"; return 1; }

    # Keys typed through the X server, not injected; Space would click the
    # focused "Change..." button again if it got through.
    checked "Ctrl held then K gives Ctrl+K" capture 101 100 "Ctrl+K" ctrl+k || return 1
    checked "Left Shift alone gives Left Shift" capture 105 104 "Left Shift" Shift_L || return 1
    checked "Space is captured and does not reach the button" capture 109 108 "Space" space || return 1
    checked "the button reads Change... again" test "$(control_text 109)" = "Change..." || return 1
    checked "Save is enabled by the edits" test "$(control_line 303 | cut -d' ' -f10)" = 1 || return 1

    click_control 303
    # The write happens on the window's thread once Wine delivers the click.
    for _ in $(seq 50); do [[ -s $data/gamepad_mapping.json ]] && break; sleep 0.1; done
    checked "Save wrote gamepad_mapping.json with the edits" python3 -c '
import json, sys
m = json.load(open(sys.argv[1]))
b = m["bindings"]
ok = (b["a"] == {"type": "key", "key": "k", "mods": ["ctrl"]} and b["b"] == {"type": "key", "key": "leftShift", "mods": []}
      and b["x"]["key"] == "space" and m["preset"] == "custom")
sys.exit(0 if ok else 1)' "$data/gamepad_mapping.json" || return 1
    checked "Save is disabled after saving" test "$(control_line 303 | cut -d' ' -f10)" = 0 || return 1

    # The tray's "Keyboard / mouse mapping" with no unsaved edits: the window follows.
    local menu
    xdotool windowraise "$tray"
    menu=$(open_menu "$tray") || { log "no menu"; return 1; }
    menu_keys "$menu" Down Down Down Down Down Down Right
    sleep 0.4
    xdotool key Down Return
    sleep 0.8
    checked "the tray's output choice shows in the window" test "$(control_line 300 | cut -d' ' -f11)" = 1 || return 1
    checked "the explanation follows" test "$(control_text 305)" \
        = "Controller input is turned into the keys and mouse actions below." || return 1
    checked "still nothing to save" test "$(control_line 303 | cut -d' ' -f10)" = 0 || return 1

    # Unsaved edits, Close, Cancel: the window and the edits stay; Close, No: gone.
    click_control 302
    click_control 304
    local box
    box=$(wait_window '^Korvex$' 5) || { log "no question box"; return 1; }
    xdotool windowfocus "$box"
    sleep 0.2
    xdotool key Escape
    wait_no_window '^Korvex$' 5
    checked "Close, Cancel keeps the window and the edits" test "$(control_line 303 | cut -d' ' -f10)" = 1 || return 1
    click_control 304
    box=$(wait_window '^Korvex$' 5) || { log "no question box"; return 1; }
    xdotool windowfocus "$box"
    sleep 0.2
    xdotool key n
    checked "Close, No closes it" wait_no_window '^Korvex - Gamepad Mapping$' 5 || return 1
    kill "$host_pid" 2>/dev/null
    host_gone 10

    # Wine's DPI at 144 (read when its server starts): the same window, scaled,
    # on the saved mapping read back from the file.
    "$WINE" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
    "$WINE" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
    "$WINESERVER" -k 2>/dev/null
    "$WINESERVER" -w
    TRAY_DPI=144
    start_host "$data"
    tray=$(wait_window '^Wine System Tray$' 30) || { log "no tray icon at 144 DPI"; missing_window no-tray-144; return 1; }
    sleep 1
    window=$(open_mapping_window "$tray") || { log "no mapping window at 144 DPI"; return 1; }
    xdotool mousemove 1590 990
    sleep 0.3
    read -r _x _y ww wh < <(geometry "$window")
    window_shot "$window" "$dir/mapping-144.png"
    log "mapping window at 144 DPI: ${ww}x${wh} ($dir/mapping-144.png)"
    layout=$(probe 144 | grep '^layout')
    checked "its controls have their ids and places at 144 DPI ($layout)" grep -q '^layout ok ' <<<"$layout" \
        || return 1
    checked "the saved mapping loads back (A is Ctrl+K)" test "$(control_text 100)" = "Ctrl+K" || return 1
    kill "$host_pid" 2>/dev/null
    host_gone 10
    "$WINESERVER" -w
    return 0
}

for ((run = 1; run <= RUNS; run++)); do
    started=$SECONDS
    if flow "$run"; then
        passed=$((passed + 1))
        log "flow $run passed in $((SECONDS - started)) s"
    else
        failed=$((failed + 1))
        log "flow $run FAILED after $((SECONDS - started)) s"
        [[ -n $host_pid ]] && kill "$host_pid" 2>/dev/null
        host_pid=""
        "$WINESERVER" -k 2>/dev/null
        "$WINESERVER" -w 2>/dev/null
    fi
done
if ports_taken; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
started=$SECONDS
if mapping_window; then
    passed=$((passed + 1))
    log "mapping window passed in $((SECONDS - started)) s"
else
    failed=$((failed + 1))
    log "mapping window FAILED after $((SECONDS - started)) s"
fi
summary
