#!/usr/bin/env bash
# Throughput of the network transfer: streams one file with the download
# engine into the simulator (which keeps nothing), and into a discarding
# loopback receiver with nc and with
# socat -b4096, several runs each, and prints the medians and the ratios. A
# fourth way, a plain loop of the same 4096-byte sends without Qt, shows the
# floor that the chunk size itself sets on this machine.
#   bash bench/throughput.sh [BUILD_DIR] [SIZE_MB] [RUNS]
set -euo pipefail
BUILD=${1:-build}
SIZE_MB=${2:-200}
RUNS=${3:-5}
ADDR=127.30.200.1
SENDER="$BUILD/bin/throughput_sender"
FLOOR="$BUILD/bin/send_loop_floor"
[ -x "$SENDER" ] && [ -x "$FLOOR" ] || { echo "build first: $SENDER missing" >&2; exit 1; }
command -v nc >/dev/null && command -v socat >/dev/null || { echo "needs nc and socat" >&2; exit 1; }

source "$(dirname "$0")/receiver.sh"
FILE="$WORK/payload.bin"
head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom > "$FILE"
BYTES=$(stat -c %s "$FILE")

now() { date +%s.%N; }
run_once() {
    local how=$1 t0 t1
    if [ "$how" = downloader ]; then
        start_simulator
        "$SENDER" "$FILE" "$ADDR" "$PORT"
        stop_simulator
        return
    fi
    start_receiver
    case $how in
        floor) "$FLOOR" "$FILE" "$ADDR" "$PORT" ;;
        nc) t0=$(now); nc -N "$ADDR" "$PORT" < "$FILE"; t1=$(now); echo "$t1 - $t0" | bc -l ;;
        socat) t0=$(now); socat -u -b4096 "OPEN:$FILE" "TCP:$ADDR:$PORT"; t1=$(now); echo "$t1 - $t0" | bc -l ;;
    esac
    stop_receiver
}

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

# The three ways take turns, so a change in the machine's load hits them alike.
declare -A TIMES MED
for _ in $(seq "$RUNS"); do
    for how in downloader nc socat floor; do TIMES[$how]+="$(run_once $how) "; done
done
for how in downloader nc socat floor; do
    MED[$how]=$(printf '%s\n' ${TIMES[$how]} | median)
    printf '%-11s runs (s): %s\n' "$how" "${TIMES[$how]}"
done

mibs() { echo "$BYTES / 1048576 / $1" | bc -l; }
echo
printf '%s MiB, %s runs each, median MiB/s:\n' "$SIZE_MB" "$RUNS"
for how in downloader nc socat floor; do
    printf '  %-24s %8.1f MiB/s  (%.3f s)\n' "$how" "$(mibs "${MED[$how]}")" "${MED[$how]}"
done
printf 'downloader / nc           = %.2f  (target >= 0.90)\n' "$(echo "${MED[nc]} / ${MED[downloader]}" | bc -l)"
printf 'downloader / socat -b4096 = %.2f  (target >= 1.00)\n' "$(echo "${MED[socat]} / ${MED[downloader]}" | bc -l)"
printf 'floor (4096-byte sends, no Qt) / nc = %.2f\n' "$(echo "${MED[nc]} / ${MED[floor]}" | bc -l)"
printf 'downloader / floor        = %.2f\n' "$(echo "${MED[floor]} / ${MED[downloader]}" | bc -l)"
