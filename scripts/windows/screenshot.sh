#!/usr/bin/env bash
# The Windows main window under Wine, on a virtual X display with the openbox
# window manager: the portable folder's Tk650Downloader.exe started as the file
# manager starts it, with -n and a package, captured once it is drawn.
#   bash scripts/windows/screenshot.sh [BUILD_WINDOWS_DIR [OUT.png]]
# (defaults build-windows and docs/screenshots/windows-network.png). Exits 1
# when the window does not come up.
set -euo pipefail
src=$(cd "$(dirname "$0")/../.." && pwd)
out=$(cd "${1:-$src/build-windows}" && pwd)
png=${2:-$src/docs/screenshots/windows-network.png}
mkdir -p "$(dirname "$png")"

export WINEPREFIX=$out/wine-screenshot
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX/drive_c/packages"
program=$WINEPREFIX/drive_c/Tk650Downloader
rm -rf "$program"
cp -r "$out/Tk650Downloader" "$program"
: >"$program/pdt.exe" # the serial tool's place is known: start-up asks nothing
head -c 300000 /dev/urandom >"$WINEPREFIX/drive_c/packages/app-1.2.tgz"

source "$src/scripts/lib/xdisplay.sh"
finish() {
  wineserver -k 2>/dev/null || true # this script's own prefix only
  stop_x_display
}
trap finish EXIT
start_x_display --wm

wine 'C:\Tk650Downloader\Tk650Downloader.exe' -n 'C:\packages\app-1.2.tgz' </dev/null \
  >"$out/screenshot.log" 2>&1 &

# The main window once mapped, then captured until two captures in a row are
# the same (drawn completely); 60 s at most.
id=""
shot=$out/screenshot-candidate.png
previous=""
for _ in $(seq 600); do
  if [ -z "$id" ]; then
    for candidate in $(xwininfo -root -tree | awk '/"Tk650 Downloader"/ {print $1}'); do
      if xwininfo -id "$candidate" 2>/dev/null | grep -q 'IsViewable'; then
        id=$candidate
        break
      fi
    done
  fi
  if [ -n "$id" ]; then
    import -window "$id" -frame "$shot" 2>/dev/null || true
    if [ -n "$previous" ] && [ -f "$shot" ] &&
      [ "$(compare -metric AE "$shot" "$previous" null: 2>&1 || true)" = 0 ]; then
      mv "$shot" "$png"
      rm -f "$previous"
      echo "$png"
      exit 0
    fi
    [ -f "$shot" ] && mv "$shot" "$out/screenshot-previous.png" && previous=$out/screenshot-previous.png
  fi
  sleep 0.1
done
echo "the main window did not come up under Wine (see $out/screenshot.log)" >&2
exit 1
