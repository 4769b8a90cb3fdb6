#!/usr/bin/env bash
# The README's first command: installs what is missing, builds, starts the simulated
# instruments (a measuring instrument and a switch main frame with modules in slots 1 and 3),
# lists them for the VISA resource search and starts the host application with the logger on
# the simulated measuring instrument.
#
# With a display you use the window yourself. Without one (or with --headless) the same runs
# under Xvfb and is driven through connect, tick, three scans and export; the screenshots and
# the CSV are saved and their place is printed.
#
#   bash scripts/demo.sh [--headless] [--out DIR] [--update-docs] [--mqtt]
#
#   --headless     drive the demo under Xvfb even when a display is available
#   --out DIR      where the headless run saves its results (default: build/demo)
#   --update-docs  (headless) also refresh the README's screenshots docs/logging.png and
#                  docs/history.png (-en.png with an English locale)
#   --mqtt         also start a local MQTT broker; the logger publishes its readings there
#                  and what a subscriber received is saved (headless: mqtt.txt in the results)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

headless=0
out=""
update_docs=0
mqtt=0
while [ $# -gt 0 ]; do
    case "$1" in
        --headless) headless=1; shift ;;
        --out) out="$2"; shift 2 ;;
        --update-docs) update_docs=1; headless=1; shift ;;
        --mqtt) mqtt=1; shift ;;
        -h | --help) awk 'NR > 1 && /^#/ { sub(/^# ?/, ""); print; next } NR > 1 { exit }' \
            "${BASH_SOURCE[0]}"; exit 0 ;;
        *) echo "demo: unknown argument '$1' (try --help)" >&2; exit 2 ;;
    esac
done

bash "$root/scripts/setup.sh"
build_dir="$(bash "$root/scripts/build.sh" datalogger datalogger-host instrument-sim visa-shell)"
bin="$build_dir/bin"

if [ "$headless" = 0 ]; then
    if [ -z "${DISPLAY:-}" ]; then
        echo "demo: no display (DISPLAY is not set): running headless under Xvfb"
        headless=1
    elif ! xdpyinfo >/dev/null 2>&1; then
        echo "demo: the display $DISPLAY cannot be reached: running headless under Xvfb"
        headless=1
    fi
fi

if [ "$headless" = 1 ]; then
    args=(--bin "$bin" --out "${out:-$build_dir/demo}")
    if [ "$update_docs" = 1 ]; then
        args+=(--docs-dir "$root/docs")
    fi
    if [ "$mqtt" = 1 ]; then
        args+=(--mqtt)
    fi
    exec bash "$root/scripts/demo-headless.sh" "${args[@]}"
fi

# shellcheck source=demo-common.sh
source "$root/scripts/demo-common.sh"
work="$(mktemp -d)"
cleanup() {
    stop_broker
    stop_simulator
    rm -rf "$work"
}
trap cleanup EXIT
start_simulator "$bin" "$work" SIM0001
if [ "$mqtt" = 1 ]; then
    start_broker "$work" "$build_dir/mqtt-received.txt"
    echo "== MQTT: the logger publishes to $DATALOGGER_MQTT_URL;" \
        "a subscriber writes what it receives to $build_dir/mqtt-received.txt"
fi

cat <<EOF
== The simulated instruments
measuring instrument  $measure_resource
switch main frame     $switch_resource (modules in slots 1 and 3, serial number SIM0001)
resource list         $VISA_RESOURCE_LIST

== Try it in the window
1. 当前外接设备未连接,连接外部设备 (top of the channel page) finds and connects the switch main frame.
2. Tick a module or single channels in the tree.
3. Open the settings strip 设置 on the left: speed, scan interval, stop condition
   (for example N次扫描后: 3).
4. 开始 (bottom left) starts logging; the tab 图形设置 shows the readings.
5. 导出 (bottom right) exports the recording to CSV (the folder is chosen with 浏览...).
6. Type a line into the host's input field: the logger echoes it. Close the window to end.

The logger keeps its data in $bin/SIM0001_Data (one SQLite file per day).

== The host's conversation with the logger
EOF
status=0
"$bin/datalogger-host" "$measure_resource" || status=$?
echo
echo "demo: the host ended with status $status; data set: $bin/SIM0001_Data"
exit "$status"
