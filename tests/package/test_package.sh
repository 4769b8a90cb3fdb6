#!/usr/bin/env bash
# The Debian package as a user gets it: built from this build tree with cpack into a temporary
# directory, checked for what it holds and needs, installed, its programs run from /usr/bin
# (the simulator's help, the VISA shell's list, the logger's window announcement and "exit"
# against a simulator started here), and removed again, also when a step fails.
#
#   test_package.sh BUILD_DIR SOURCE_DIR
#
# Installing needs root (as in CI); otherwise the test is skipped (exit status 77).
set -uo pipefail
build_dir="$1"
source_dir="$2"
package=datalogger
skip=77

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: installing the package needs root (CI runs this as root)"
    exit "$skip"
fi
for tool in cpack dpkg dpkg-deb dpkg-shlibdeps flock; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: $tool is missing (scripts/setup.sh installs it)"
        exit "$skip"
    fi
done

# One installation at a time on this machine, whichever build tree runs the test: a lock on
# dpkg's own directory leaves no file behind (dpkg locks files inside it, not the directory).
exec 9</var/lib/dpkg
flock 9

if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "installed"; then
    echo "SKIP: a $package package is already installed here; the test does not replace it"
    exit "$skip"
fi
for program in datalogger datalogger-host instrument-sim visa-shell; do
    if [ -e "/usr/bin/$program" ]; then
        echo "SKIP: /usr/bin/$program exists outside the package; the test does not replace it"
        exit "$skip"
    fi
done

work="$(mktemp -d)"
installed=0
logger_pid=""
# shellcheck source=../../scripts/demo-common.sh
source "$source_dir/scripts/demo-common.sh"
cleanup() {
    if [ -n "$logger_pid" ]; then
        kill -KILL "$logger_pid" 2>/dev/null || true
        wait "$logger_pid" 2>/dev/null || true
    fi
    stop_simulator
    if [ "$installed" = 1 ]; then
        dpkg -r "$package" >/dev/null || echo "package test: dpkg -r $package failed" >&2
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    exit 1
}

echo "== building the package from $build_dir"
if ! cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/package" \
    >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack could not build the package"
fi
deb="$(ls "$work"/package/*.deb 2>/dev/null | head -n 1)"
[ -n "$deb" ] || fail "cpack made no .deb: $(cat "$work/cpack.log")"
echo "built $(basename "$deb")"

echo "== contents"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | sort >"$work/files"
cat "$work/files"
sort >"$work/expected" <<LIST
usr/bin/datalogger
usr/bin/datalogger-host
usr/bin/instrument-sim
usr/bin/visa-shell
usr/share/applications/datalogger-host.desktop
usr/share/doc/$package/README.md
usr/share/icons/hicolor/scalable/apps/datalogger.svg
LIST
# Beyond these only the README's pictures may come along.
extra="$(comm -13 "$work/expected" "$work/files" | grep -v "^usr/share/doc/$package/docs/[^/]*\.png$")"
missing="$(comm -23 "$work/expected" "$work/files")"
[ -z "$missing" ] || fail "missing from the package: $missing"
[ -z "$extra" ] || fail "not meant for the package: $extra"

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
for needed in libmosquitto1 libqt5widgets5 libqt5sql5-sqlite libqwt-qt5-6; do
    grep -Eq "(^|, )$needed( |,|$)" <<<"$depends" || fail "Depends lacks $needed"
done

echo "== installing"
installed=1
dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i failed"; }
dpkg-query -W -f='${Status}\n' "$package" | grep -q "install ok installed" ||
    fail "dpkg does not call $package installed"
grep -qx "Exec=datalogger-host" /usr/share/applications/datalogger-host.desktop ||
    fail "the desktop entry does not start datalogger-host without a resource"

echo "== /usr/bin/instrument-sim --help"
/usr/bin/instrument-sim --help >"$work/sim-help" 2>&1 || fail "instrument-sim --help failed"
grep -q -- "--measure-port" "$work/sim-help" || fail "instrument-sim --help: $(cat "$work/sim-help")"

echo "== the simulated instruments, started from /usr/bin"
start_simulator /usr/bin "$work" SIM0001 || fail "the installed simulator did not start"
echo "measure $measure_resource, switch $switch_resource"

echo "== /usr/bin/visa-shell list"
VISA_NO_VENDOR=1 /usr/bin/visa-shell list 'TCPIP?*' >"$work/list" 2>&1 || fail "visa-shell list failed"
cat "$work/list"
grep -qxF "$measure_resource" "$work/list" || fail "visa-shell list misses $measure_resource"
grep -qxF "$switch_resource" "$work/list" || fail "visa-shell list misses $switch_resource"

echo "== /usr/bin/datalogger $measure_resource"
mkfifo "$work/to-logger" "$work/from-logger"
HOME="$work/home" XDG_DATA_HOME="" XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen \
    /usr/bin/datalogger "$measure_resource" <"$work/to-logger" >"$work/from-logger" \
    2>"$work/logger.err" &
logger_pid=$!
exec 7>"$work/to-logger" 8<"$work/from-logger"
IFS= read -r -t 60 -u 8 announcement || { cat "$work/logger.err"; fail "no announcement within 60 s"; }
echo "logger: $announcement"
[[ "$announcement" =~ ^WID:[0-9]+\;COLOR:#2b2b2b$ ]] || fail "not an announcement: $announcement"
echo exit >&7
IFS= read -r -t 30 -u 8 echoed || fail "no echo of exit"
[ "$echoed" = "receive msg: exit" ] || fail "echo of exit: $echoed"
status=0
wait "$logger_pid" || status=$?
logger_pid=""
exec 7>&- 8<&-
[ "$status" = 0 ] || { cat "$work/logger.err"; fail "the logger ended with status $status"; }
echo "the logger ended with status 0"

echo "== removing"
stop_simulator
installed=0
dpkg -r "$package" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r failed"; }
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
    fail "$package is still installed"
fi
for program in datalogger datalogger-host instrument-sim visa-shell; do
    [ ! -e "/usr/bin/$program" ] || fail "/usr/bin/$program is left behind"
done
echo "PASS"
