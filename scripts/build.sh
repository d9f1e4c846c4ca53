#!/usr/bin/env bash
# Configures and builds into build/ (or build-asan/ with --sanitize).
# --run builds only the program and the simulator, without the tests (the
# main job's quick start); the other forms build everything.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=build
flags=(-DTK_BUILD_TESTS=ON)
targets=()
case "${1:-}" in
  --sanitize) dir=build-asan; flags+=(-DTK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
  --run) flags=(-DTK_BUILD_TESTS=OFF); targets=(--target Tk650Downloader tk650sim) ;;
esac
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
echo "$dir"
