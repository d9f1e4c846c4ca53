#!/usr/bin/env bash
# The main job: installs, builds, starts the terminal simulator on a loopback
# address and sends a file to it over the network, unattended, printing the
# program's exit code (0 means the file was installed on the simulated terminal).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh run
dir=$(bash scripts/build.sh --run | tail -n 1)
bin="$PWD/$dir/bin"
work=$(mktemp -d)
sim=""
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
head -c 300000 /dev/urandom >"$work/demo app.tgz"
mkdir -p "$work/received"
mkfifo "$work/sim.out"
"$bin/tk650sim" --listen 127.0.0.1 --store "$work/received" >"$work/sim.out" 2>&1 &
sim=$!
exec 3<"$work/sim.out"
# Wait for the simulator to say it listens; it prints that once it is ready.
ready=""
while IFS= read -r -t 10 -u 3 line; do
  echo "tk650sim: $line"
  if [[ $line == "listening on "* ]]; then ready=1; break; fi
done
if [ -z "$ready" ]; then
  echo "tk650sim did not start" >&2
  exit 1
fi
# Keep reading its log so it never blocks on a full pipe; shown at the end.
cat <&3 >"$work/sim.log" &
drain=$!
set +e
"$bin/Tk650Downloader" -n "$work/demo app.tgz" -ip 127.0.0.1 -silent
rc=$?
set -e
kill "$sim" 2>/dev/null || true
wait "$drain" 2>/dev/null || true
sed 's/^/tk650sim: /' "$work/sim.log"
echo "Tk650Downloader exit code: $rc"
ls -l "$work/received"
exit "$rc"
