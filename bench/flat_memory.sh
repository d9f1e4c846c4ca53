#!/usr/bin/env bash
# Memory of the network transfer: streams a 20 MiB and a 2 GiB file (sparse,
# so no disk is spent) with the download engine into the simulator (which
# keeps nothing) and prints the peak resident memory of each run. Flat memory
# means both figures are about the same.
#   bash bench/flat_memory.sh [BUILD_DIR]
set -euo pipefail
BUILD=${1:-build}
ADDR=127.30.200.2
SENDER="$BUILD/bin/throughput_sender"
[ -x "$SENDER" ] || { echo "build first: $SENDER missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt install time)" >&2; exit 1; }

source "$(dirname "$0")/receiver.sh"

for size in 20M 2G; do
    FILE="$WORK/payload-$size"
    truncate -s "$size" "$FILE"
    start_simulator
    /usr/bin/time -f "%M" -o "$WORK/rss" "$SENDER" "$FILE" "$ADDR" "$PORT" > "$WORK/secs"
    stop_simulator
    printf '%-4s file: peak resident memory %6d KiB, %.2f s\n' "$size" "$(cat "$WORK/rss")" "$(cat "$WORK/secs")"
done
