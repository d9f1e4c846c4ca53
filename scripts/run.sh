#!/usr/bin/env bash
# The main job: installs, builds, starts the terminal simulator on a loopback
# address and sends a file to it over the network, unattended, printing the
# program's exit code (0 means the file was installed on the simulated terminal).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir=$(bash scripts/build.sh | tail -n 1)
bin="$PWD/$dir/bin"
work=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
head -c 300000 /dev/urandom >"$work/demo app.tgz"
mkdir -p "$work/received"
"$bin/tk650sim" --listen 127.0.0.1 --store "$work/received" &
sim=$!
sleep 0.5
set +e
"$bin/Tk650Downloader" -n "$work/demo app.tgz" -ip 127.0.0.1 -silent
rc=$?
set -e
echo "Tk650Downloader exit code: $rc"
ls -l "$work/received"
exit "$rc"
