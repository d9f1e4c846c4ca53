#!/usr/bin/env bash
# Downloads over slow and far links, made by the simulator (a read rate and a
# delay on every reply; the system's buffers on loopback are large, as on a
# real link once they have grown). For each link: the outcome and time of one
# unattended Tk650Downloader run with 300 kB and with 5 MB, of a tk650push of
# 300 kB to 10 terminals, and of a 300 kB run to a terminal whose install
# fails (which must end with -6, never 0). Prints one table; exits 1 when an
# outcome is wrong.
#   bash bench/slow_links.sh [BUILD_DIR] [PROGRAM_DIR]
# BUILD_DIR gives tk650sim (build/bin); PROGRAM_DIR the Tk650Downloader and
# tk650push to measure (default BUILD_DIR/bin), e.g. another build's bin
# folder for a before/after comparison.
set -euo pipefail
BUILD=${1:-build}
SIM="$BUILD/bin/tk650sim"
PROG=${2:-$BUILD/bin}
for p in "$SIM" "$PROG/Tk650Downloader" "$PROG/tk650push"; do
    [ -x "$p" ] || { echo "build first: $p missing" >&2; exit 1; }
done

WORK=$(mktemp -d)
PIDS=()
trap 'kill "${PIDS[@]}" 2>/dev/null; rm -rf "$WORK"' EXIT
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$WORK/home" XDG_RUNTIME_DIR="$WORK/run"
mkdir -m 700 "$WORK/run"

# sim ARGS...: a simulator in the background, returned once it is ready.
sim() {
    local log="$WORK/sim${#PIDS[@]}.log" n
    "$SIM" --quiet "$@" >"$log" 2>&1 &
    PIDS+=($!)
    for n in $(seq 300); do
        grep -qx ready "$log" && return 0
        sleep 0.1
    done
    echo "tk650sim did not start: $*" >&2
    exit 1
}

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
signed() { [ "$1" -gt 127 ] && echo $(($1 - 256)) || echo "$1"; }

head -c 300000 /dev/urandom >"$WORK/app-300k.tgz"
head -c 5000000 /dev/urandom >"$WORK/app-5M.tgz"

WRONG=0
# single FILE ADDRESS WANT: sets RESULT to "code time" of one unattended run.
single() {
    local t0 rc=0 mark=
    t0=$(now)
    "$PROG/Tk650Downloader" -n "$1" -ip "$2" -silent >/dev/null 2>&1 || rc=$?
    rc=$(signed "$rc")
    [ "$rc" -eq "$3" ] || { WRONG=$((WRONG + 1)); mark='!'; }
    RESULT="$rc$mark $(seconds "$t0" "$(now)")s"
}
# fleet FILE NET: sets RESULT to "installed/10 time" of one tk650push to
# NET.101 .. NET.110.
fleet() {
    local t0 rc=0 addrs=() i n mark=
    for i in $(seq 101 110); do addrs+=("$2.$i"); done
    t0=$(now)
    "$PROG/tk650push" --report "$WORK/push.json" "$1" "${addrs[@]}" 2>/dev/null || rc=$?
    n=$(grep -c '"outcome": "installed"' "$WORK/push.json" || true)
    [ "$rc" -eq 0 ] && [ "$n" -eq 10 ] || { WRONG=$((WRONG + 1)); mark='!'; }
    RESULT="$n/10$mark $(seconds "$t0" "$(now)")s"
}

printf '%-26s %-13s %-13s %-17s %-13s\n' "link" "300 kB" "5 MB" "push 300 kB x10" "install fails"
row() { # NAME N RATE DELAY
    local net="127.23.2$2" a b c d
    sim --listen "$net.1:5142" --read-rate "$3" --reply-delay "$4"
    sim --terminals 10 --listen "$net.101:5142" --read-rate "$3" --reply-delay "$4"
    sim --listen "$net.201:5142" --read-rate "$3" --reply-delay "$4" --install fail
    single "$WORK/app-300k.tgz" "$net.1" 0
    a=$RESULT
    single "$WORK/app-5M.tgz" "$net.1" 0
    b=$RESULT
    fleet "$WORK/app-300k.tgz" "$net"
    c=$RESULT
    single "$WORK/app-300k.tgz" "$net.201" -6
    d=$RESULT
    printf '%-26s %-13s %-13s %-17s %-13s\n' "$1" "$a" "$b" "$c" "$d"
}
row "2 Mbit/s, 80 ms" 1 250000 80
row "256 kbit/s, 300 ms" 2 32000 300
row "2 Mbit/s, 3 s round trip" 3 250000 3000
[ "$WRONG" -eq 0 ] || { echo "$WRONG wrong outcome(s), marked !" >&2; exit 1; }
