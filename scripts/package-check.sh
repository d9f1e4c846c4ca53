#!/usr/bin/env bash
# Checks the Debian package made from a build folder (default build/): it is
# unpacked into a temporary root, whose program prints its usage for -h
# without a display and completes an unattended download against the
# unpacked simulator, as does its tk650push; the desktop entry and the
# file-manager actions are validated, and lintian reports no error and no
# warning.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
deb=$(bash scripts/package.sh "$dir" | tail -n 1)
work=$(mktemp -d)
sim=""
trap 'if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

root="$work/root"
dpkg-deb -x "$deb" "$root"
bin="$root/usr/bin"
[ -L "$bin/tk650downloader" ] || fail "no lower-case command name"

# Help without a display: usage.txt (from ../share/tk650downloader) on standard output.
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config"
unset DISPLAY WAYLAND_DISPLAY || true
"$bin/tk650downloader" -h >"$work/help.txt" || fail "-h ended with $?"
diff <(tr -d '\r' <docs/usage.txt) "$work/help.txt" >/dev/null || fail "-h did not print usage.txt"

# An unattended download to the unpacked simulator, on a loopback address of its own.
addr=127.77.16.1
head -c 200000 /dev/urandom >"$work/demo app.tgz"
mkdir -p "$work/received"
mkfifo "$work/sim.out"
"$bin/tk650sim" --listen "$addr" --store "$work/received" --quiet >"$work/sim.out" 2>&1 &
sim=$!
exec 3<"$work/sim.out"
ready=""
while IFS= read -r -t 10 -u 3 line; do
  if [[ $line == "listening on "* ]]; then ready=1; break; fi
done
[ -n "$ready" ] || fail "the unpacked tk650sim did not start"
cat <&3 >/dev/null &
rc=0
timeout 60 "$bin/Tk650Downloader" -n "$work/demo app.tgz" -ip "$addr" -silent || rc=$?
[ "$rc" -eq 0 ] || fail "unattended download ended with $rc"
cmp -s "$work/demo app.tgz" "$work/received/demo_app.tgz" ||
  fail "the simulator did not receive the file whole"
# The fleet push program with its man page: a push to the same simulator,
# reported in JSON, with nothing on standard output.
[ -f "$root/usr/share/man/man1/tk650push.1.gz" ] || fail "no tk650push man page"
"$bin/tk650push" --version | grep -q '^tk650push ' || fail "tk650push --version"
rc=0
timeout 60 "$bin/tk650push" --report "$work/push.json" "$work/demo app.tgz" "$addr" \
  >"$work/push.out" 2>"$work/push.err" || rc=$?
[ "$rc" -eq 0 ] || fail "tk650push ended with $rc: $(tail -n 3 "$work/push.err")"
[ ! -s "$work/push.out" ] || fail "tk650push wrote to standard output"
grep -q '"outcome": "installed"' "$work/push.json" || fail "tk650push reported no install"
kill "$sim"
wait "$sim" 2>/dev/null || true
sim=""

# The menu entry with its actions; the Dolphin service menu, whose type
# (Service) the validator knows only for applications' keys; the Nemo actions,
# a format of their own the validator does not read.
share="$root/usr/share"
desktop-file-validate "$share/applications/tk650downloader.desktop"
menu=$(desktop-file-validate "$share/kio/servicemenus/tk650downloader-servicemenu.desktop" |
  grep -v 'but the type is "Service" while this key is only valid for type "Application"' || true)
[ -z "$menu" ] || fail "service menu: $menu"
for kind in network:n serial:s; do
  file="$share/nemo/actions/tk650downloader-${kind%%:*}.nemo_action"
  for want in '[Nemo Action]' "Name=Download to Tk650 (${kind%%:*}).." \
    "Exec=tk650downloader -${kind##*:} %F" 'Selection=s' 'Extensions=nodirs;'; do
    grep -qxF "$want" "$file" || fail "$file lacks $want"
  done
done

# lintian: accepted informational tags are listed in docs/ARCHITECTURE.md.
rc=0
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 || rc=$?
grep -v '^running with root privileges' "$work/lintian.txt" || true
[ "$rc" -eq 0 ] || fail "lintian found errors or warnings"
echo "package check: $deb passed"
