#!/usr/bin/env bash
# tk650push against simulated fleets.
#  1. 50 terminals (one tk650sim --terminals 50), a 20 MB file, --jobs 50: the
#     total time, the time of one single-terminal push of the same file in the
#     same run, their ratio (target <= 3), and tk650push's peak memory.
#  2. 500 terminals, 10 % failing in mixed ways (nothing listening, silence,
#     NOSPACE, the connection closed mid-file): every outcome in the report is
#     checked against what its terminal does, and a summary line printed.
#   bash bench/fleet_push.sh [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/simfleet.sh"

# --- 1. 50 terminals x 20 MB ------------------------------------------------
FILE="$WORK/app-20M.bin"
head -c 20000000 /dev/urandom >"$FILE"
start_sim fifty --terminals 50 --listen 127.91.0.1:5142
ADDRS=()
for i in $(seq 1 50); do ADDRS+=("127.91.0.$i"); done

t0=$(now)
"$BIN/tk650push" --report "$WORK/one.json" "$FILE" 127.91.0.50 2>/dev/null || { echo "single push failed: $?" >&2; exit 1; }
t1=$(now)
rc=0
/usr/bin/time -f %M -o "$WORK/rss" "$BIN/tk650push" --jobs 50 --report "$WORK/fifty.json" \
    "$FILE" "${ADDRS[@]}" 2>"$WORK/fifty.err" || rc=$?
t2=$(now)
[ "$rc" -eq 0 ] || { echo "50-terminal push ended with $rc" >&2; tail -n 5 "$WORK/fifty.err" >&2; exit 1; }
installed=$(grep -c '"outcome": "installed"' "$WORK/fifty.json" || true)
[ "$installed" -eq 50 ] || { echo "only $installed of 50 installed" >&2; exit 1; }
single=$(seconds "$t0" "$t1")
fleet=$(seconds "$t1" "$t2")
printf '50 terminals x 20 MB, --jobs 50: %.2f s; one terminal: %.2f s; ratio %.2f (target <= 3); peak memory %d KiB\n' \
    "$fleet" "$single" "$(awk -v f="$fleet" -v s="$single" 'BEGIN { print f / s }')" "$(tail -n 1 "$WORK/rss")"

# --- 2. 500 terminals, 10 % failing ----------------------------------------
# 127.92.0.1 .. : 450 that install, then 13 with nothing listening, 12 silent,
# 13 NOSPACE, 12 closing mid-file. A 2 MB file.
FILE2="$WORK/app-2M.bin"
head -c 2000000 /dev/urandom >"$FILE2"
: >"$WORK/expected"
add_expected() { # FIRST_HOST COUNT OUTCOME EXITCODE (hosts numbered from 127.92.0.0)
    local n
    for n in $(seq "$1" $(($1 + $2 - 1))); do
        echo "127.92.$((n / 256)).$((n % 256)) $3 $4" >>"$WORK/expected"
    done
}
start_sim ok500 --terminals 450 --listen 127.92.0.1:5142
add_expected 1 450 installed 0
add_expected 451 13 no-connection -4
start_sim silent500 --terminals 12 --silent --listen 127.92.1.208:5142
add_expected 464 12 timed-out -4
start_sim nospace500 --terminals 13 --dld nospace --listen 127.92.1.220:5142
add_expected 476 13 no-space -5
start_sim close500 --terminals 12 --strike close --strike-at FILE/2 --listen 127.92.1.233:5142
add_expected 489 12 connection-lost -6
cut -d' ' -f1 "$WORK/expected" >"$WORK/list.txt"

t0=$(now)
rc=0
/usr/bin/time -f %M -o "$WORK/rss500" "$BIN/tk650push" --jobs 50 --report "$WORK/500.json" \
    "$FILE2" "@$WORK/list.txt" 2>"$WORK/500.err" || rc=$?
t1=$(now)
python3 - "$WORK/500.json" "$WORK/expected" "$rc" "$(seconds "$t0" "$t1")" "$(tail -n 1 "$WORK/rss500")" <<'PY'
import json, sys, collections
report, expected, rc, secs, rss = sys.argv[1:]
got = {t["address"]: t for t in json.load(open(report))["terminals"]}
want = [l.split() for l in open(expected) if l.strip()]
wrong = [(a, o, int(c), got.get(a)) for a, o, c in want
         if a not in got or got[a]["outcome"] != o or got[a]["exitCode"] != int(c)]
counts = collections.Counter(t["outcome"] for t in got.values())
failed = sum(1 for a, o, c in want if int(c) < 0)
print("500 terminals, 10 %% failing: %.1f s, peak memory %s KiB; %s; exit status %s (expected %d); %s"
      % (float(secs), rss, ", ".join("%d %s" % (n, o) for o, n in sorted(counts.items())),
         rc, min(failed, 100), "every outcome right" if not wrong and len(got) == len(want)
         else "%d WRONG" % len(wrong)))
for a, o, c, t in wrong[:10]:
    print("  %s: expected %s %d, got %s" % (a, o, c, t and (t["outcome"], t["exitCode"], t.get("detail"))))
sys.exit(1 if wrong or int(rc) != min(failed, 100) else 0)
PY
