#!/usr/bin/env bash
# Memory of the network transfer: streams a 20 MiB and a 2 GiB file (sparse,
# so no disk is spent) into a discarding loopback receiver with the
# downloader's transfer code and prints the peak resident memory of each run.
# Flat memory means both figures are about the same.
#   bash bench/flat_memory.sh [BUILD_DIR]
set -euo pipefail
BUILD=${1:-build}
ADDR=127.30.200.2
SENDER="$BUILD/bin/throughput_sender"
[ -x "$SENDER" ] || { echo "build first: $SENDER missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt install time)" >&2; exit 1; }

WORK=$(mktemp -d)
RECV_PID=
cleanup() { [ -n "$RECV_PID" ] && kill "$RECV_PID" 2>/dev/null; rm -rf "$WORK"; }
trap cleanup EXIT

port() { python3 -c 'import socket; s=socket.socket(); s.bind(("'$ADDR'",0)); print(s.getsockname()[1])'; }

for size in 20M 2G; do
    FILE="$WORK/payload-$size"
    truncate -s "$size" "$FILE"
    PORT=$(port)
    socat -u -b262144 "TCP-LISTEN:$PORT,bind=$ADDR,reuseaddr" OPEN:/dev/null &
    RECV_PID=$!
    for _ in $(seq 100); do
        ss -ltn 2>/dev/null | grep -q "$ADDR:$PORT " && break
        sleep 0.02
    done
    /usr/bin/time -f "%M" -o "$WORK/rss" "$SENDER" "$FILE" "$ADDR" "$PORT" > "$WORK/secs"
    wait "$RECV_PID" 2>/dev/null || true
    RECV_PID=
    printf '%-4s file: peak resident memory %6d KiB, %.2f s\n' "$size" "$(cat "$WORK/rss")" "$(cat "$WORK/secs")"
done
