#!/usr/bin/env bash
# Deployments with tk650push against 1,000 simulated terminals (one tk650sim
# --terminals 1000):
#  1. 10 % refuse their first two connections (then, a second fleet, reset
#     the connection at their first two announcements), 5 % already list the
#     package:
#     --retry 2 --package must end with every terminal installed or
#     already-installed and no file received twice. Prints the total time, the
#     time of one single push of the same file in the same run, tk650push's
#     peak memory and the tries; then the same deployment again, which must
#     send nothing.
#  2. Every terminal answers NOSPACE: --canary 10 --max-failures 5 must stop
#     after the canary; prints how many terminals were touched.
#   bash bench/fleet_deploy.sh [BUILD_DIR]
set -euo pipefail
source "$(dirname "$0")/simfleet.sh"

PACKAGE="app.bin;2.0"
FILE="$WORK/app.bin"
head -c 1000000 /dev/urandom >"$FILE"
addresses() { # FIRST_ADDRESS COUNT: the fleet's addresses, one a line
    python3 -c 'import ipaddress, sys
a = ipaddress.IPv4Address(sys.argv[1])
print("\n".join(str(a + i) for i in range(int(sys.argv[2]))))' "$1" "$2"
}

# --- 1. 1,000 terminals, flaky and partly installed --------------------------
start_sim single --listen 127.25.110.1:5142
# deploy NAME FIRST_ADDRESS WHAT FLAKY_FLAGS...: one fleet, pushed to twice.
deploy() {
    local name=$1 first=$2 what=$3
    shift 3
    local log="$WORK/$name-received.log"
    start_sim "$name" --terminals 1000 --listen "$first:5142" "$@" --flaky-every 10 \
        --holding "$PACKAGE" --holding-every 20 --installs "$PACKAGE" --received-log "$log"
    addresses "$first" 1000 >"$WORK/$name.txt"
    local t0 t1 t2 t3 rc=0 rc2=0 sent_first
    t0=$(now)
    "$BIN/tk650push" "$FILE" 127.25.110.1 2>/dev/null || { echo "single push failed" >&2; exit 1; }
    t1=$(now)
    /usr/bin/time -f %M -o "$WORK/$name.rss" "$BIN/tk650push" --jobs 100 --retry 2 \
        --package "$PACKAGE" --report "$WORK/$name.json" "$FILE" "@$WORK/$name.txt" \
        2>"$WORK/$name.err" || rc=$?
    t2=$(now)
    sent_first=$(wc -l <"$log")
    "$BIN/tk650push" --jobs 100 --retry 2 --package "$PACKAGE" --report "$WORK/$name-again.json" \
        "$FILE" "@$WORK/$name.txt" 2>/dev/null || rc2=$?
    t3=$(now)
    python3 - "$WORK/$name.json" "$WORK/$name-again.json" "$log" "$rc" "$rc2" \
        "$(seconds "$t1" "$t2")" "$(seconds "$t0" "$t1")" "$(tail -n 1 "$WORK/$name.rss")" \
        "$(seconds "$t2" "$t3")" "$sent_first" "$what" <<'PY'
import collections, json, sys
report, again, log, rc, rc2, total, single, rss, again_secs, sent_first, what = sys.argv[1:]
first = json.load(open(report))["terminals"]
second = json.load(open(again))["terminals"]
files = collections.defaultdict(list)
for line in open(log):
    address, name, size, state = line.split()
    files[address].append(state)
outcomes = collections.Counter(t["outcome"] for t in first)
tries = collections.Counter(t["attempts"] for t in first)
bad = [t["address"] for t in first if t["outcome"] not in ("installed", "already-installed")]
twice = [a for a, f in files.items() if f.count("complete") > 1]
skipped_but_sent = [t["address"] for t in first
                    if t["outcome"] == "already-installed" and files.get(t["address"])]
print("1,000 terminals, 10 %% %s, 5 %% holding the package, "
      "--retry 2 --package --jobs 100: %.2f s; one single push: %.2f s; peak memory %s KiB"
      % (what, float(total), float(single), rss))
print("  outcomes: %s; exit status %s; tries per terminal: %s"
      % (", ".join("%d %s" % (n, o) for o, n in sorted(outcomes.items())), rc,
         ", ".join("%d x %d" % (n, k) for k, n in sorted(tries.items()))))
print("  files received: %s complete, %d partial; received twice: %d; sent to a holder: %d"
      % (sum(f.count("complete") for f in files.values()),
         sum(f.count("partial") for f in files.values()), len(twice), len(skipped_but_sent)))
again_outcomes = collections.Counter(t["outcome"] for t in second)
sent_again = sum(1 for _ in open(log)) - int(sent_first)
print("  the same deployment again: %.2f s, %s, files sent: %d, exit status %s"
      % (float(again_secs), ", ".join("%d %s" % (n, o) for o, n in sorted(again_outcomes.items())),
         sent_again, rc2))
ok = not bad and not twice and not skipped_but_sent and int(rc) == 0 and sent_again == 0 \
     and int(rc2) == 0
print("  " + ("every terminal installed or already-installed, none sent twice" if ok
              else "FAILED: %d not installed, %d twice" % (len(bad), len(twice))))
sys.exit(0 if ok else 1)
PY
}
deploy refusing 127.25.100.1 "refusing their first two connections" --refuse-first 2
# A connection reset as soon as it is taken costs the record read one and the
# session's own second connection the other, so the first fleet needs no
# further tries; announcements answered by a reset are what --retry is for.
deploy dropping 127.25.130.1 "resetting at their first two announcements" --drop-first 2

# --- 2. staged rollout against a fleet that answers NOSPACE ------------------
start_sim nospace --terminals 1000 --listen 127.25.120.1:5142 --dld nospace
addresses 127.25.120.1 1000 >"$WORK/nospace.txt"
t0=$(now)
rc=0
"$BIN/tk650push" --jobs 100 --canary 10 --max-failures 5 --report "$WORK/staged.json" \
    "$FILE" "@$WORK/nospace.txt" 2>/dev/null || rc=$?
t1=$(now)
python3 - "$WORK/staged.json" "$rc" "$(seconds "$t0" "$t1")" <<'PY'
import collections, json, sys
report, rc, secs = sys.argv[1:]
terminals = json.load(open(report))["terminals"]
outcomes = collections.Counter(t["outcome"] for t in terminals)
touched = sum(1 for t in terminals if t["outcome"] != "not-attempted")
print("1,000 terminals answering NOSPACE, --canary 10 --max-failures 5: %.2f s; touched %d; %s; "
      "exit status %s" % (float(secs), touched,
                          ", ".join("%d %s" % (n, o) for o, n in sorted(outcomes.items())), rc))
sys.exit(0 if touched == 10 and int(rc) == 100 else 1)
PY
