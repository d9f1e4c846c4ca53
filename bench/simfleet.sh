# Helpers the fleet benchmarks share (sourced): BUILD, BIN, a work folder,
# simulators started in the background and stopped at the end, and timing.
BUILD=${1:-build}
BIN="$BUILD/bin"
for p in tk650push tk650sim; do
    [ -x "$BIN/$p" ] || { echo "build first: $BIN/$p missing" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (apt install time)" >&2; exit 1; }

WORK=$(mktemp -d)
SIMS=()
cleanup() {
    for pid in "${SIMS[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$WORK"
}
trap cleanup EXIT

# start_sim NAME ARGS...: a simulator in the background, returned once ready.
start_sim() {
    local name=$1
    shift
    mkfifo "$WORK/$name.out"
    "$BIN/tk650sim" --quiet "$@" >"$WORK/$name.out" 2>&1 &
    SIMS+=($!)
    exec {fd}<"$WORK/$name.out"
    local line
    while IFS= read -r -t 30 -u "$fd" line; do
        [ "$line" = ready ] && { cat <&$fd >/dev/null & return 0; }
    done
    echo "tk650sim $name did not start" >&2
    exit 1
}

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
