#!/usr/bin/env bash
# Configures (once) and builds the project, or only the targets named as arguments.
#   BUILD_DIR   where to build (default: build, or build-asan / build-tsan)
#   SANITIZER   empty, "address" (ASan+UBSan) or "thread" (TSan)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitizer="${SANITIZER:-}"
case "$sanitizer" in
    "") default_dir="$root/build" ;;
    address) default_dir="$root/build-asan" ;;
    thread) default_dir="$root/build-tsan" ;;
    *) echo "build: unknown SANITIZER '$sanitizer'" >&2; exit 2 ;;
esac
build_dir="${BUILD_DIR:-$default_dir}"

generator=()
if command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
fi
if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build_dir" "${generator[@]}" -DDATALOGGER_SANITIZER="$sanitizer" >&2
fi
targets=()
for target in "$@"; do
    targets+=(--target "$target")
done
cmake --build "$build_dir" --parallel "$(nproc)" "${targets[@]}" >&2
echo "$build_dir"
