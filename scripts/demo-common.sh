# Shared by demo.sh and demo-headless.sh (sourced, not run): the simulated instruments and
# the resource list that makes the simulated switch main frame findable.
#
# start_simulator BIN_DIR WORK_DIR SERIAL
#   Starts instrument-sim (a measuring instrument and a switch main frame with modules in
#   slots 1 and 3) on free loopback ports, writes WORK_DIR/resources and exports
#   VISA_RESOURCE_LIST. Sets sim_pid, measure_resource, switch_resource; the transcript of
#   every SCPI exchange goes to WORK_DIR/transcript.txt.
# stop_simulator

sim_pid=""
measure_resource=""
switch_resource=""

start_simulator() {
    local bin="$1" work="$2" serial="$3"
    "$bin/instrument-sim" --measure-port auto --switch-port auto --slots 1,3 \
        --serial "$serial" --transcript "$work/transcript.txt" \
        >"$work/sim.out" 2>"$work/sim.err" </dev/null &
    sim_pid=$!
    local _
    for _ in $(seq 100); do
        grep -q '^ready$' "$work/sim.out" 2>/dev/null && break
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.1
    done
    if ! grep -q '^ready$' "$work/sim.out" 2>/dev/null; then
        echo "demo: the instrument simulator did not start:" >&2
        cat "$work/sim.err" >&2
        return 1
    fi
    measure_resource="$(awk '$1 == "measure" { print $2 }' "$work/sim.out")"
    switch_resource="$(awk '$1 == "switch" { print $2 }' "$work/sim.out")"
    # Raw sockets cannot be discovered on a network: they are listed, as an installation
    # lists its instruments. The logger's search finds the switch main frame here.
    printf '# simulated instruments of this demo\n%s\n%s\n' \
        "$measure_resource" "$switch_resource" >"$work/resources"
    export VISA_RESOURCE_LIST="$work/resources"
}

stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}
