#!/usr/bin/env bash
# Installs, builds and runs every test headless. --sanitize: the same under
# AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/. The plain run
# also checks the Debian package made from the build (scripts/package-check.sh),
# builds the fuzz targets and runs each for a few seconds (scripts/fuzz.sh;
# they carry their own sanitizers).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir=$(bash scripts/build.sh "$@" | tail -n 1)
export QT_QPA_PLATFORM=offscreen
unset DISPLAY WAYLAND_DISPLAY || true
(cd "$dir" && ctest --output-on-failure -j2 --timeout 300)
if [ "${1:-}" != "--sanitize" ]; then
  bash scripts/package-check.sh "$dir"
  bash scripts/fuzz.sh "${TK_FUZZ_SECONDS:-4}"
fi
