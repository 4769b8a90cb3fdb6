# Shared by demo.sh and demo-headless.sh (sourced, not run): the simulated instruments and
# the resource list that makes the simulated switch main frame findable.
#
# start_simulator BIN_DIR WORK_DIR SERIAL
#   Starts instrument-sim (a measuring instrument and a switch main frame with modules in
#   slots 1 and 3) on free loopback ports, writes WORK_DIR/resources and exports
#   VISA_RESOURCE_LIST. Sets sim_pid, measure_resource, switch_resource; the transcript of
#   every SCPI exchange goes to WORK_DIR/transcript.txt.
# stop_simulator
# start_broker WORK_DIR OUT_FILE
#   Starts a local MQTT broker (mosquitto) on a free loopback port, a subscriber to every
#   topic of the loggers that writes what it receives to OUT_FILE, and exports
#   DATALOGGER_MQTT_URL so that the logger publishes there. Sets broker_pid, subscriber_pid.
# stop_broker

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

broker_pid=""
subscriber_pid=""

start_broker() {
    local work="$1" received="$2" port
    for port in $(seq 18830 18930); do
        printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" \
            >"$work/mosquitto.conf"
        mosquitto -c "$work/mosquitto.conf" >"$work/broker.log" 2>&1 </dev/null &
        broker_pid=$!
        sleep 0.5
        if kill -0 "$broker_pid" 2>/dev/null; then
            mosquitto_sub -h 127.0.0.1 -p "$port" -q 1 -v -t 'datalogger/#' >"$received" \
                2>"$work/subscriber.err" </dev/null &
            subscriber_pid=$!
            export DATALOGGER_MQTT_URL="mqtt://127.0.0.1:$port"
            return 0
        fi
        broker_pid=""
    done
    echo "demo: no MQTT broker could be started (is mosquitto installed?)" >&2
    return 1
}

stop_broker() {
    local pid
    for pid in "$subscriber_pid" "$broker_pid"; do
        if [ -n "$pid" ]; then
            kill "$pid" 2>/dev/null || true
            wait "$pid" 2>/dev/null || true
        fi
    done
    subscriber_pid=""
    broker_pid=""
}
