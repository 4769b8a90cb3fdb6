#!/usr/bin/env bash
# Installs what is missing, builds, starts the bundled instrument simulator and shows the
# simulated instruments answering through visa-shell.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
build_dir="$(bash "$root/scripts/build.sh")"
bin="$build_dir/bin"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# A measuring instrument and a switch main frame with modules in slots 1 and 3.
"$bin/instrument-sim" --measure-port auto --switch-port auto --slots 1,3 \
    --transcript "$work/transcript.txt" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
sim_pid=$!
for _ in $(seq 100); do
    grep -q '^ready$' "$work/sim.out" 2>/dev/null && break
    sleep 0.1
done
if ! grep -q '^ready$' "$work/sim.out"; then
    echo "demo: the simulator did not start" >&2
    cat "$work/sim.err" >&2
    exit 1
fi
measure="$(awk '$1 == "measure" { print $2 }' "$work/sim.out")"
switch="$(awk '$1 == "switch" { print $2 }' "$work/sim.out")"

# Raw sockets cannot be discovered on a network: list them, as an installation would.
printf '# simulated instruments of this demo\n%s\n%s\n' "$measure" "$switch" >"$work/resources"
export VISA_RESOURCE_LIST="$work/resources"

echo "== resources the VISA search finds"
"$bin/visa-shell" list "TCPIP?*SOCKET"
echo "== measuring instrument $measure"
"$bin/visa-shell" query "$measure" "*IDN?"
echo "== switch main frame $switch"
"$bin/visa-shell" query "$switch" "*IDN?"
echo -n "slots: "
"$bin/visa-shell" query "$switch" "SYST:CTYP?"
for channel in 101 105 301; do
    "$bin/visa-shell" write "$switch" "ROUT:CLOS (@$channel)"
    echo -n "channel $channel: "
    "$bin/visa-shell" query "$measure" "FETC?"
done
echo "== what the simulator received"
cat "$work/transcript.txt"
