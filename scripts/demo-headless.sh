#!/usr/bin/env bash
# The demo without a display: runs the host, the logger and the simulated instruments under
# a private Xvfb and does what a user would do with the mouse and keyboard (xdotool): connect
# the switch main frame, tick channels, choose three scans, start, export to CSV, type a line
# for the logger, close the host. Saves screenshots, the CSV, the host's conversation and the
# simulator's transcript, and checks what it can see on the way.
#
#   demo-headless.sh --bin DIR [--out DIR] [--serial TEXT] [--docs-dir DIR]
#                    [--remove-data] [--mqtt] [--keyboard]
#
#   --bin DIR              where datalogger, datalogger-host and instrument-sim are
#   --out DIR              where the results go (default: DIR/../demo)
#   --serial TEXT          serial number of the simulated switch main frame (default SIM0001);
#                          the logger keeps its data in TEXT_Data beside its executable
#   --docs-dir DIR         also copy the screenshots of the running logger and of the message
#                          history to DIR/logging.png and DIR/history.png (logging-en.png and
#                          history-en.png when the locale's language is English)
#   --remove-data          delete the logger's data-set directory at the end
#   --mqtt                 start a local MQTT broker for the logger to publish to; what a
#                          subscriber received goes to mqtt.txt in the results
#   --keyboard             the whole run with the keyboard alone: Tab from the host into the
#                          logger, connect, tick, start, stop with the button, export
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# shellcheck source=demo-common.sh
source "$root/scripts/demo-common.sh"

bin=""
out=""
serial="SIM0001"
docs_dir=""
remove_data=0
mqtt=0
keyboard=0
while [ $# -gt 0 ]; do
    case "$1" in
        --bin) bin="$2"; shift 2 ;;
        --out) out="$2"; shift 2 ;;
        --serial) serial="$2"; shift 2 ;;
        --docs-dir) docs_dir="$2"; shift 2 ;;
        --remove-data) remove_data=1; shift ;;
        --mqtt) mqtt=1; shift ;;
        --keyboard) keyboard=1; shift ;;
        *) echo "demo-headless: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
if [ -z "$bin" ] || [ ! -x "$bin/datalogger-host" ] || [ ! -x "$bin/datalogger" ] ||
    [ ! -x "$bin/instrument-sim" ]; then
    echo "demo-headless: --bin must name the directory of the built programs" >&2
    exit 2
fi
bin="$(cd "$bin" && pwd)"
if [ "$keyboard" = 1 ] && { [ "$mqtt" = 1 ] || [ -n "$docs_dir" ]; }; then
    echo "demo-headless: --keyboard runs without --mqtt and --docs-dir" >&2
    exit 2
fi
for tool in Xvfb xdotool import xwininfo; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "demo-headless: $tool is missing; run scripts/setup.sh" >&2
        exit 1
    fi
done
out="${out:-$bin/../demo}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
rm -f "$out"/*.png "$out"/*.csv "$out/host.log" "$out/transcript.txt" "$out/mqtt.txt"

work="$(mktemp -d)"
xvfb_pid=""
host_pid=""
cleanup() {
    local status=$?
    if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then
        kill -TERM "$host_pid" 2>/dev/null || true
        for _ in $(seq 200); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "$host_pid" 2>/dev/null || true
    fi
    stop_broker
    stop_simulator
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
    fi
    if [ "$remove_data" = 1 ]; then
        rm -rf "${bin:?}/${serial}_Data"
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT

say() { echo "demo: $*"; }
fail() {
    echo "demo: FAILED: $*" >&2
    if [ -n "${DISPLAY:-}" ]; then
        import -window root "$out/failure.png" 2>/dev/null &&
            echo "demo: the screen at that moment: $out/failure.png" >&2
    fi
    if [ -f "$work/host.err" ]; then
        echo "demo: last messages of the host and the logger:" >&2
        tail -n 15 "$work/host.err" >&2
    fi
    exit 1
}

# --- a private X server; -displayfd lets it pick a free display number -----------------------
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x832x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
export QT_QPA_PLATFORM=xcb
# The same look as on a bare machine, whatever desktop this is started from: Qt's own dialogs
# (not a desktop's native file chooser), its own style, no scaling.
unset XDG_CURRENT_DESKTOP DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID
unset QT_STYLE_OVERRIDE QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS QT_AUTO_SCREEN_SCALE_FACTOR
unset QT_FONT_DPI
export QT_QPA_PLATFORMTHEME=generic
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
say "private X server on $DISPLAY"

# --- window helpers: everything a user sees is read from the screen --------------------------
# pixel WINDOW X Y: the colour (#RRGGBB) at X,Y of the window.
pixel() {
    import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null | awk 'NR == 2 { print $3 }'
}
# wait_for SECONDS WHAT COMMAND...: retries COMMAND every 0.2 s.
wait_for() {
    local seconds="$1" what="$2"
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$deadline" ] || fail "gave up waiting for $what"
        sleep 0.2
    done
}
pixel_is() { [ "$(pixel "$1" "$2" "$3")" = "$4" ]; }
pixel_is_not() {
    local colour
    colour="$(pixel "$1" "$2" "$3")"
    [ -n "$colour" ] && [ "$colour" != "$4" ]
}
click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
line_in() { grep -qE "$2" "$1" 2>/dev/null; }
count_in() {
    local n
    n="$(grep -cE "$2" "$1" 2>/dev/null || true)"
    echo "${n:-0}"
}
fetches() { count_in "$work/transcript.txt" '^measure <- FETC\?$'; }
fetches_at_least() { [ "$(fetches)" -ge "$1" ]; }
visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1; }
window_shown() { [ -n "$(visible_window "$1")" ]; }
window_gone() { [ -z "$(visible_window "$1")" ]; }
screenshot() {
    # The pointer rests on the host's frame, where it highlights nothing.
    xdotool mousemove --window "$host_window" 3 300
    sleep 0.3
    import -window "$host_window" -screen "$out/$1" 2>/dev/null || fail "screenshot $1"
    say "screenshot $out/$1"
}

# --- the simulated instruments and the host ------------------------------------------------
start_simulator "$bin" "$work" "$serial" || fail "the simulator did not start"
if [ "$mqtt" = 1 ]; then
    start_broker "$work" "$out/mqtt.txt" || fail "the MQTT broker did not start"
    say "MQTT broker at $DATALOGGER_MQTT_URL"
fi
say "measuring instrument $measure_resource, switch main frame $switch_resource"

# Started from the project root with program paths relative to it, the host's conversation
# (on screen and in the README's picture) names no folder of this machine.
rel_bin="$(realpath --relative-to="$root" "$bin")"
(cd "$root" && exec "$rel_bin/datalogger-host" --logger "$rel_bin/datalogger" "$measure_resource") \
    >"$out/host.log" 2>"$work/host.err" </dev/null &
host_pid=$!
host_embedded() {
    line_in "$out/host.log" '^embedded: [0-9]+$' && return 0
    line_in "$out/host.log" '^ended: ' && fail "$(grep '^ended: ' "$out/host.log")"
    kill -0 "$host_pid" 2>/dev/null || fail "the host ended: $(tail -n 3 "$work/host.err")"
    return 1
}
wait_for 60 "the logger's window inside the host" host_embedded
logger="$(awk '$1 == "embedded:" { print $2 }' "$out/host.log" | tail -n 1)"
wait_for 20 "the host's window" window_shown '^Data logger host$'
host_window="$(visible_window '^Data logger host$')"
say "logger window $logger embedded in host window $host_window"

drive_with_mouse() {
# A line typed into the host goes to the logger, which echoes it. A click on the host's own
# frame, beside the logger's window, gives the keyboard back to the host's line edit.
click "$host_window" 3 300
sleep 0.3
xdotool type --delay 20 "hello from the demo"
xdotool key Return
echoed() { line_in "$out/host.log" '^child: receive msg: hello from the demo$'; }
wait_for 20 "the logger's echo of a typed line" echoed

# Positions below are in the logger's window, 1000 x 600 as the logger lays itself out.
# Painted: the bottom bar is there with the green start icon.
wait_for 30 "the logger's window to be drawn" pixel_is "$logger" 37 580 '#3CB371'

# Settings side bar: open it; it slides to 280 px. Done when the selected tab's blue top
# line starts right after it.
click "$logger" 8 8
side_bar_open() { pixel_is "$logger" 282 1 '#279ED4' && pixel_is_not "$logger" 279 1 '#279ED4'; }
wait_for 20 "the settings side bar to open" side_bar_open

# Stop condition "N次扫描后:" with N = 3, at the bottom of the scrolled side bar.
xdotool mousemove --window "$logger" 110 300 click --repeat 15 --delay 40 5
click "$logger" 41 492
click "$logger" 100 515
xdotool key --delay 40 ctrl+a 3
# Checked and no longer focused or under the pointer: drawn in the plain blue.
wait_for 20 "the radio button N次扫描后:" pixel_is "$logger" 41 492 '#279ED4'

# "开始" before the switch main frame is linked: refused with an error that stays until it is
# dismissed (its X), and is counted on the message history button of the bottom bar.
click "$logger" 37 580
wait_for 20 "the error message" window_shown '^(错误|Error)$'
toast="$(visible_window '^(错误|Error)$')"
toast_width="$(xdotool getwindowgeometry "$toast" | awk '/Geometry:/ { split($2, g, "x"); print g[1] }')"
sleep 0.5
click "$toast" $((toast_width - 13)) 11
wait_for 20 "the error message to be dismissed" window_gone '^(错误|Error)$'

# "当前外接设备未连接,连接外部设备": search and connect the switch main frame.
click "$logger" 640 55
slots_reply() { grep -A1 '^switch <- SYST:CTYP?$' "$work/transcript.txt" 2>/dev/null | grep '^switch -> '; }
connected() { slots_reply >/dev/null; }
wait_for 30 "the switch main frame to report its slots" connected
say "switch main frame connected, slots $(slots_reply | head -n 1 | cut -d' ' -f3)"
sleep 0.5

# Tick the whole module in slot 1, open the module in slot 3 and tick channels 301 and 302.
click "$logger" 320 117
click "$logger" 299 137
sleep 0.5
click "$logger" 339 159
click "$logger" 339 184
sleep 0.5
screenshot "channels.png"

# "开始": three scans of twelve channels. The readings tab "图形设置" shows them.
click "$logger" 37 580
wait_for 20 "logging to start" pixel_is_not "$logger" 37 580 '#3CB371'
# The busy overlay covers the window until scanning begins; the tab is clicked after it.
wait_for 60 "the first scan" fetches_at_least 12
click "$logger" 450 16
wait_for 60 "the second scan" fetches_at_least 24
sleep 1.5
screenshot "logging.png"
wait_for 60 "the third scan" fetches_at_least 36
wait_for 30 "logging to stop after three scans" pixel_is "$logger" 37 580 '#3CB371'
sleep 2
[ "$(fetches)" -eq 36 ] || fail "expected 36 readings (3 scans of 12 channels), saw $(fetches)"
# Each scan closes the ticked channels in ascending order.
expected_scan="101 102 103 104 105 106 107 108 109 110 301 302"
scans="$(grep -E '^switch <- ROUT:CLOS \(@[0-9]+\)$' "$work/transcript.txt" |
    sed -E 's/.*@([0-9]+)\)$/\1/' | paste -sd' ')"
[ "$scans" = "$expected_scan $expected_scan $expected_scan" ] ||
    fail "channels scanned: $scans"
say "three scans of channels $expected_scan"

# "导出": the export dialog; "浏览..." to choose the output folder, then "  导出到文件  ".
click "$logger" 960 580
wait_for 20 "the export dialog" window_shown '^(将数据导出到CSV|Export data to CSV)$'
dialog="$(visible_window '^(将数据导出到CSV|Export data to CSV)$')"
# The dialog grows with the folder shown in it, and its buttons sit at its right edge: aim at
# them from there.
dialog_width="$(xdotool getwindowgeometry "$dialog" | awk '/Geometry:/ { split($2, g, "x"); print g[1] }')"
# A slow start (sanitizer builds, a loaded machine) can swallow the first click on "浏览...":
# click again until the chooser shows; once it does, it is modal and takes every click.
for attempt in 1 2 3 4 5 6; do
    click "$dialog" $((dialog_width - 53)) 172
    for _ in $(seq 25); do
        window_shown '^Select Directory$' && break 2
        sleep 0.2
    done
done
wait_for 20 "the folder chooser" window_shown '^Select Directory$'
chooser="$(visible_window '^Select Directory$')"
xdotool mousemove --window "$chooser" 300 200
sleep 0.3
xdotool type --delay 20 "$out"
xdotool key Return
wait_for 20 "the folder chooser to close" window_gone '^Select Directory$'
sleep 0.3
click "$dialog" $((dialog_width - 127)) 223
exported() { compgen -G "$out/${serial}_Trace_1_*.csv" >/dev/null; }
wait_for 60 "the CSV file in $out" exported
sleep 0.5
screenshot "exported.png"
csv="$(compgen -G "$out/${serial}_Trace_1_*.csv" | head -n 1)"
say "exported $csv"

# The message history, from the bottom bar: every message of the session with its time.
click "$logger" 870 580
wait_for 20 "the message history" window_shown '^(消息记录|Messages)$'
sleep 0.5
screenshot "history.png"
xdotool key Escape
wait_for 20 "the message history to close" window_gone '^(消息记录|Messages)$'
}

drive_with_keyboard() {
    # Keys go where the X focus is, not under the pointer: the pointer rests off every window.
    # There is no window manager here; where one would give a window the focus (a new window,
    # a dialog whose chooser closed) windowfocus does it.
    xdotool mousemove 1023 831
    xdotool windowfocus --sync "$host_window"
    xdotool type --delay 20 "hello from the demo"
    xdotool key Return
    echoed() { line_in "$out/host.log" '^child: receive msg: hello from the demo$'; }
    wait_for 20 "the logger's echo of a typed line" echoed
    wait_for 30 "the logger's window to be drawn" pixel_is "$logger" 37 580 '#3CB371'

    # From the host's line edit, past its Send button, into the logger.
    logger_focused() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$logger" ]; }
    xdotool key --delay 150 Tab Tab
    wait_for 10 "the keyboard in the logger" logger_focused
    # The settings side bar's strip is the first stop: Space opens it.
    xdotool key space
    side_bar_open() { pixel_is "$logger" 282 1 '#279ED4' && pixel_is_not "$logger" 279 1 '#279ED4'; }
    wait_for 20 "the settings side bar to open" side_bar_open
    # Speed, start, interval and stop are one stop each (the arrows choose inside), the
    # elapsed time's four fields and the scan count one each; then the tabs and the connect
    # button.
    xdotool key --delay 150 Tab Tab Tab Tab Tab Tab Tab Tab Tab Tab space
    slots_reply() { grep -A1 '^switch <- SYST:CTYP?$' "$work/transcript.txt" 2>/dev/null | grep '^switch -> '; }
    connected() { slots_reply >/dev/null; }
    wait_for 30 "the switch main frame to report its slots" connected
    say "switch main frame connected by keyboard"
    sleep 0.5
    # The tree: tick the module in slot 1, open the one in slot 3, tick 301 and 302.
    xdotool key --delay 150 Tab space Down Right Down space Down space
    sleep 0.5
    screenshot "keyboard-channels.png"

    # "开始" and, after two scans, "停止" on the same button.
    xdotool key --delay 150 Tab space
    wait_for 20 "logging to start" pixel_is_not "$logger" 37 580 '#3CB371'
    wait_for 60 "two scans" fetches_at_least 24
    xdotool key space
    wait_for 60 "logging to stop" pixel_is "$logger" 37 580 '#3CB371'
    sleep 1
    say "started and stopped by keyboard after $(fetches) readings"

    # "导出": past the message history; the dialog opens on "导出到文件". Shift+Tab to
    # "浏览..." chooses the folder.
    xdotool key --delay 150 Tab Tab space
    wait_for 20 "the export dialog" window_shown '^(将数据导出到CSV|Export data to CSV)$'
    dialog="$(visible_window '^(将数据导出到CSV|Export data to CSV)$')"
    sleep 0.5
    xdotool key --delay 150 shift+Tab space
    wait_for 20 "the folder chooser" window_shown '^Select Directory$'
    sleep 0.5
    xdotool type --delay 20 "$out"
    xdotool key Return
    wait_for 20 "the folder chooser to close" window_gone '^Select Directory$'
    xdotool windowfocus --sync "$dialog"
    sleep 0.3
    xdotool key --delay 150 Tab Return
    exported() { compgen -G "$out/${serial}_Trace_1_*.csv" >/dev/null; }
    wait_for 60 "the CSV file in $out" exported
    csv="$(compgen -G "$out/${serial}_Trace_1_*.csv" | head -n 1)"
    say "exported $csv"

    # Every scan closed the ticked channels in order, and every fetched reading is in the file.
    expected_scan="101 102 103 104 105 106 107 108 109 110 301 302"
    grep -E '^switch <- ROUT:CLOS \(@[0-9]+\)$' "$work/transcript.txt" |
        sed -E 's/.*@([0-9]+)\)$/\1/' | paste -sd' ' | grep -qE "^($expected_scan ?)+" ||
        fail "channels scanned out of order"
    readings="$(tail -n +7 "$csv" | cut -d, -f3- | tr ',' '\n' | grep -cE '^-?[0-9]' || true)"
    [ "$readings" -eq "$(fetches)" ] ||
        fail "the file holds $readings readings, the instruments gave $(fetches)"
    say "the file holds every one of the $readings readings"
}

if [ "$keyboard" = 1 ]; then
    drive_with_keyboard
else
    drive_with_mouse
fi

# Closing the host sends "exit"; the host reports how the logger ended.
kill -TERM "$host_pid"
host_status=0
wait "$host_pid" || host_status=$?
host_pid=""
grep '^ended: ' "$out/host.log" | sed 's/^ended: /demo: /'
[ "$host_status" -eq 0 ] || fail "the host ended with status $host_status"
line_in "$out/host.log" '^ended: The logger ended with exit status 0\.$' ||
    fail "the logger did not end cleanly"
cp "$work/transcript.txt" "$out/transcript.txt"
if [ "$mqtt" = 1 ]; then
    # Every stored reading reached the subscriber (at least once: duplicates are allowed).
    published="$(grep -E "^datalogger/[^ ]+/readings " "$out/mqtt.txt" | grep -o '"channel":' | wc -l)"
    [ "$published" -ge 36 ] || fail "the subscriber received $published readings, expected 36"
    stop_broker
    say "the subscriber received $published readings (mqtt.txt)"
fi

if [ -n "$docs_dir" ]; then
    # The logger speaks English when the locale's language is English.
    suffix=""
    case "${LC_ALL:-${LC_MESSAGES:-${LANG:-}}}" in en*) suffix="-en" ;; esac
    mkdir -p "$docs_dir"
    cp "$out/logging.png" "$docs_dir/logging$suffix.png"
    cp "$out/history.png" "$docs_dir/history$suffix.png"
    say "copied logging$suffix.png and history$suffix.png to $docs_dir"
fi

echo
echo "The demo ran the whole system headless. Results in $out:"
if [ "$keyboard" = 1 ]; then
    echo "  keyboard-channels.png  the channel page, ticked with the keyboard"
    echo "  $(basename "$csv")"
    echo "                 the scans until the stop, as CSV"
else
    echo "  channels.png   the channel page with the ticked channels"
    echo "  logging.png    the readings while logging"
    echo "  exported.png   after the export"
    echo "  history.png    the message history"
    echo "  $(basename "$csv")"
    echo "                 the three scans as CSV"
fi
echo "  host.log       the conversation between host and logger"
echo "  transcript.txt every SCPI command the simulated instruments received"
if [ "$mqtt" = 1 ]; then
    echo "  mqtt.txt       what a subscriber to datalogger/# received from the broker"
fi
if [ "$remove_data" = 1 ]; then
    echo "The logger's data set ($bin/${serial}_Data) was removed."
else
    echo "The logger's data set (one SQLite file per day): $bin/${serial}_Data"
fi
echo
head -n 9 "$csv"
