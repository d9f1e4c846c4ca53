#!/usr/bin/env bash
# Unattended runs of the real program against misbehaving simulated terminals:
# the whole fault matrix, or RUNS runs drawn at random from it.
#   bash bench/fault_soak.sh [full | RUNS [SEED]] [BUILD_DIR]
set -euo pipefail
WHAT=${1:-1000}
SEED=${2:-650}
BUILD=${3:-build}
[ -x "$BUILD/bin/fault_soak" ] || { echo "build first: $BUILD/bin/fault_soak missing" >&2; exit 1; }
export TK_BIN_DIR="$PWD/$BUILD/bin" QT_QPA_PLATFORM=offscreen
exec "$BUILD/bin/fault_soak" "$WHAT" "$SEED"
