#!/usr/bin/env bash
# Runs the shell extension's Windows test program under Wine, headless, in a
# throwaway prefix: run-under-wine.sh <folder with the .exe and .dll> <prefix folder>
# The prefix is made on first use (about ten seconds) and reused after that;
# the test program clears the registry values it uses before and after its cases.
set -u
bin=$1
export WINEPREFIX=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# Wine's own start-up chatter (e.g. about a missing 32-bit loader) goes to stderr;
# keep it out of the test's output unless the run fails.
log="$WINEPREFIX/last-run.stderr"
wine "$bin/tkshellmenu_test.exe" </dev/null 2>"$log"
rc=$?
wineserver -w
if [ "$rc" -ne 0 ]; then
  echo "--- wine stderr ---"
  cat "$log"
fi
exit "$rc"
