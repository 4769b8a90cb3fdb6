#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless.
# Extra arguments go to ctest (for example: -L slow, -R visa, -LE slow).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/setup.sh"
build_dir="$(bash "$root/scripts/build.sh")"
export QT_QPA_PLATFORM=offscreen
cd "$build_dir"
ctest --output-on-failure --parallel "$(nproc)" "$@"
