#!/usr/bin/env bash
# Renders each window of the program under Xvfb with a window manager and
# writes docs/screenshots/<window>.png. Needs a build (build/ or $BUILD_DIR).
#   bash scripts/screenshots.sh [window ...]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=docs/screenshots
windows=("$@")
[ ${#windows[@]} -gt 0 ] || windows=(serial network log debug listener fleet fleetdone details ksyn porterr about usage)

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v openbox >/dev/null || need+=(openbox)
command -v import >/dev/null || need+=(imagemagick)
command -v xprop >/dev/null || need+=(x11-utils)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  $sudo DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi

cmake --build "$build" -j2 --target tk650shots Tk650Downloader >/dev/null
mkdir -p "$out"

unset QT_QPA_PLATFORM
export QT_QPA_PLATFORM=xcb
X_DISPLAY_SIZE=1366x768
source scripts/lib/xdisplay.sh
trap stop_x_display EXIT
start_x_display --wm

for w in "${windows[@]}"; do
  log=$(mktemp)
  "$build/bin/tk650shots" "$w" >"$log" 2>/dev/null &
  pid=$!
  id=""
  for _ in $(seq 150); do
    id=$(sed -n 's/^ready //p' "$log")
    [ -n "$id" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -n "$id" ]; then
    import -window "$id" -frame "$out/$w.png"
    echo "$out/$w.png"
  else
    echo "$w: the window did not come up" >&2
  fi
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  rm -f "$log"
done
