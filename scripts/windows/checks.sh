#!/usr/bin/env bash
# The Windows programs at work under Wine, each against the Linux simulator on
# loopback: unattended network downloads and their exit codes, the per-user
# settings store, a serial download through a fake of the maker's tool (its
# exact command line, its exit codes), the KSYN frame on a COM port that Wine
# maps to the simulator's pseudo-terminal, and tk650push to three terminals
# (with Ctrl+C).
#
#   scripts/windows/checks.sh BUILD_WINDOWS_DIR
#
# BUILD_WINDOWS_DIR holds the portable folder Tk650Downloader/ (programs and
# DLLs), or is a development build whose bin/ holds the programs; the Qt and
# compiler DLLs are then taken from TK_QT_MINGW (the Qt for mingw-w64 prefix)
# and the compiler. The simulator is the Linux build's (TK650SIM, else
# build/bin/tk650sim, built when missing). Everything it makes goes to
# BUILD_WINDOWS_DIR/checks/, the Wine prefix included (made anew each run).
#
# One line per check, then "N passed, M failed"; the exit status is non-zero
# when any check failed. The terminals listen on 127.21.x.y, so the checks do
# not meet tests that use 127.0.0.1 at the same time.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
[ $# -eq 1 ] && [ -d "$1" ] || {
  echo "usage: $0 BUILD_WINDOWS_DIR" >&2
  exit 2
}
out=$(cd "$1" && pwd)

app_src=
for candidate in "$out/Tk650Downloader" "$out/bin" "$out"; do
  if [ -f "$candidate/Tk650Downloader.exe" ]; then
    app_src=$candidate
    break
  fi
done
[ -n "$app_src" ] || {
  echo "no Tk650Downloader.exe in $out/Tk650Downloader, $out/bin or $out" >&2
  exit 2
}

sim=${TK650SIM:-$root/build/bin/tk650sim}
if [ ! -x "$sim" ]; then
  echo "building the simulator (Linux) into $root/build"
  cmake -S "$root" -B "$root/build" -G Ninja >/dev/null &&
    cmake --build "$root/build" --target tk650sim >/dev/null || exit 2
fi

work=$out/checks
rm -rf "$work"
mkdir -p "$work/files" "$work/store"
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY LC_ALL
# Wine reads the arguments in the locale's encoding and takes its ANSI code
# page from it: UTF-8 arguments, cp1252.
export LANG=C.UTF-8
log=$work/wine.log

passed=0
failed=0
pass() {
  echo "ok   $1"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL $1${2:+ ($2)}"
  failed=$((failed + 1))
}

# Wine hands a process's exit code to the shell modulo 256: -1..-7 are 255..249.
status_of() { echo $(((256 + $1) % 256)); }

# The Windows path of a file here: Wine's Z: drive is the file system root.
winpath() {
  local p=${1//\//\\}
  printf 'Z:%s' "$p"
}

# Waits for a condition (a command) with a deadline in tenths of a second.
wait_for() {
  local tenths=$1
  shift
  for ((i = 0; i < tenths; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

sim_pid=
sim_log=
# start_sim NAME ARGS...: the simulator with its log in NAME.log, once "ready".
start_sim() {
  sim_log=$work/$1.log
  shift
  : >"$sim_log"
  "$sim" "$@" >"$sim_log" 2>&1 &
  sim_pid=$!
  if ! wait_for 100 grep -q '^ready' "$sim_log"; then
    echo "the simulator did not start: $(tail -n 3 "$sim_log")" >&2
    stop_sim
    return 1
  fi
}
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill "$sim_pid" 2>/dev/null
  wait "$sim_pid" 2>/dev/null
  sim_pid=
}
trap 'stop_sim; wineserver -k 2>/dev/null' EXIT

# The program folder: a copy, so the fake tool put beside the program never
# lands in the portable folder.
app=$work/app
cp -a "$app_src" "$app"
if [ ! -f "$app/Qt6Core.dll" ]; then
  qt=${TK_QT_MINGW:-$(ls -d /var/cache/tk650downloader/qt-mingw-* 2>/dev/null | grep -v '\.work$' | head -n 1)}
  [ -f "$qt/bin/Qt6Core.dll" ] || {
    echo "no Qt DLLs beside the programs and none in TK_QT_MINGW ($qt)" >&2
    exit 2
  }
  for dll in Qt6Core Qt6Gui Qt6Widgets Qt6Network; do cp "$qt/bin/$dll.dll" "$app/"; done
  mkdir -p "$app/platforms"
  cp "$qt/plugins/platforms/qwindows.dll" "$app/platforms/"
  for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    cp "$(x86_64-w64-mingw32-g++-posix -print-file-name="$dll")" "$app/"
  done
fi
for helper in fakepdt shortpath; do
  x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -static -municode \
    "$root/scripts/windows/checks/$helper.cpp" -o "$work/$helper.exe" || exit 2
done

echo "making the Wine prefix"
wineboot -i >/dev/null 2>&1
wineserver -w

# run_app ARGS...: the downloader under Wine; its exit status in $rc.
run_app() {
  (cd "$work/files" && wine "$app/Tk650Downloader.exe" "$@" </dev/null >>"$log" 2>&1)
  rc=$?
}
# expect NAME WANTED [DETAIL]: compares $rc with an exit code of the program.
expect() {
  local want
  want=$(status_of "$2")
  if [ "$rc" -eq "$want" ]; then pass "$1"; else fail "$1" "exit status $rc, expected $want${3:+; $3}"; fi
}

# ---------------------------------------------------------------- network
payload="$work/files/pay load.bin"
head -c 300000 /dev/urandom >"$payload"
wpayload=$(winpath "$payload")

if start_sim net-ok --listen 127.21.0.1:5142 --store "$work/store" --quiet; then
  run_app -n "$wpayload" -ip 127.21.0.1 -silent
  if [ "$rc" -eq 0 ] && cmp -s "$payload" "$work/store/pay load.bin"; then
    pass "network download: exit 0, file byte-identical"
  else
    fail "network download: exit 0, file byte-identical" "exit status $rc"
  fi
  # The long-path step: a short 8.3 name is announced by its stored long name.
  rm -f "$work/store/pay load.bin"
  short=$(wine "$work/shortpath.exe" "$wpayload" 2>/dev/null)
  run_app -n "$short" -ip 127.21.0.1 -silent
  stop_sim
  if [ "$rc" -eq 0 ] && [ "$short" != "$wpayload" ] && cmp -s "$payload" "$work/store/pay load.bin"; then
    pass "network download of a short name ($short): sent under its long name"
  else
    fail "network download of a short name: sent under its long name" "exit status $rc; ${short:-no short name}; stored: $(ls "$work/store")"
  fi
  stored=$(wine reg query 'HKCU\Software\Quillon\Tk650Downloader' /v lastIP 2>/dev/null | tr -d '\r')
  if grep -q 'lastIP.*127\.21\.0\.1' <<<"$stored"; then
    pass "settings store: lastIP in HKCU\\Software\\Quillon\\Tk650Downloader"
  else
    fail "settings store: lastIP in HKCU\\Software\\Quillon\\Tk650Downloader" "${stored:-nothing}"
  fi
else
  fail "network download: exit 0, file byte-identical" "no simulator"
fi

# A name outside the ANSI code page: the program reads its command line in
# Unicode, finds the file and announces the name in the ANSI code page
# (cp1252 here: ï is EF, ✓ has no place and becomes "?").
unicode_file="$work/files/zaïre ✓.bin"
head -c 5000 /dev/urandom >"$unicode_file"
if start_sim net-unicode --listen 127.21.0.5:5142; then
  run_app -n "$(winpath "$unicode_file")" -ip 127.21.0.5 -silent
  stop_sim
  if [ "$rc" -eq 0 ] && grep -qF 'DLD:za<EF>re ?.bin|5000|' "$sim_log"; then
    pass "network download of a file named outside the ANSI code page: exit 0"
  else
    fail "network download of a file named outside the ANSI code page: exit 0" \
      "exit status $rc; $(grep -o 'DLD:[^|]*' "$sim_log")"
  fi
fi

# A terminal answering NOSPACE, one closing after "DLD:", one that never
# reports the install (the wait limited to 3 s).
net_case() { # NAME WANTED ADDRESS SIM-ARGS...
  local name=$1 want=$2 address=$3
  shift 3
  if start_sim "net-$want" --listen "$address:5142" --quiet "$@"; then
    run_app -n "$wpayload" -ip "$address" -silent
    stop_sim
    expect "$name" "$want"
  else
    fail "$name" "no simulator"
  fi
}
net_case "network download, NOSPACE: -5" -5 127.21.0.2 --dld nospace
net_case "network download, closed after DLD: -6" -6 127.21.0.3 --strike close --strike-at DLD:
export TK650_INSTALL_TIMEOUT=3
net_case "network download, no install result within 3 s: -4" -4 127.21.0.4 --install silent
unset TK650_INSTALL_TIMEOUT
# A far terminal: every answer comes 2.6 s late, after the first version wait
# ran out; its failed install must not pass for an older daemon's success.
net_case "network download to a far terminal whose install fails: -6" -6 127.21.0.6 \
  --reply-delay 2600 --install fail

# ----------------------------------------------------------------- serial
serial_file="$work/files/ser file.tgz"
head -c 1000 /dev/urandom >"$serial_file"
wserial=$(winpath "$serial_file")
wapp=$(winpath "$app")
ksyn_file="$work/files/my app.tgz"
: >"$ksyn_file"
# The simulator's serial line on a pseudo-terminal, mapped to COM12 (a number
# above 9 needs the device form \\.\COM12) and to COM5.
if start_sim serial --no-daemon --pty; then
  pty=$(sed -n 's/^serial port: //p' "$sim_log" | head -n 1)
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com12"
  ln -sfn "$pty" "$WINEPREFIX/dosdevices/com5"

  # The fake tool beside the program; its codes and the program's.
  cp "$work/fakepdt.exe" "$app/pdt.exe"
  want_line="cmdline=\"$wapp\\pdt.exe\" -w4 -p12 -b38400 -i\"ser file.tgz\""
  want_cwd="cwd=$(winpath "$work/files")"
  rm -f "$app/pdt-calls.txt"
  echo 0 >"$app/pdt-exit.txt"
  run_app -s "$wserial" -port 12 -baud 38400 -silent
  got_line=$(sed -n 1p "$app/pdt-calls.txt" 2>/dev/null)
  got_cwd=$(sed -n 2p "$app/pdt-calls.txt" 2>/dev/null)
  if [ "$rc" -eq 0 ] && [ "$got_line" = "$want_line" ] && [ "$got_cwd" = "$want_cwd" ]; then
    pass "serial download: the tool's exact command line and folder, exit 0"
  else
    fail "serial download: the tool's exact command line and folder, exit 0" \
      "exit status $rc; got [$got_line] [$got_cwd], expected [$want_line] [$want_cwd]"
  fi

  mapping_ok=1
  mapping_bad=
  for pair in 1:-1 2:-5 3:-7 7:-2 8:-2 10:-4 9:-6 11:-6 -1:-6; do
    tool=${pair%%:*}
    want=${pair#*:}
    echo "$tool" >"$app/pdt-exit.txt"
    run_app -s "$wserial" -port 12 -timeout 7 -silent
    if [ "$rc" -ne "$(status_of "$want")" ]; then
      mapping_ok=0
      mapping_bad+=" tool $tool gave $rc (expected $(status_of "$want"))"
    fi
  done
  if [ "$mapping_ok" -eq 1 ]; then
    pass "serial download: the tool's codes 1 2 3 7 8 10 9 11 -1 map to -1 -5 -7 -2 -2 -4 -6 -6 -6"
  else
    fail "serial download: the tool's exit codes map to the program's" "$mapping_bad"
  fi
  if grep -q -- '-w7 ' "$app/pdt-calls.txt"; then
    pass "serial download: -timeout 7 reaches the tool as -w7"
  else
    fail "serial download: -timeout 7 reaches the tool as -w7" "$(tail -n 2 "$app/pdt-calls.txt")"
  fi
  echo 0 >"$app/pdt-exit.txt"

  # A pdt.exe that is no program: it cannot be started, which is -6.
  mv "$app/pdt.exe" "$work/pdt.keep"
  echo "not a program" >"$app/pdt.exe"
  run_app -s "$wserial" -port 12 -silent
  mv "$work/pdt.keep" "$app/pdt.exe"
  expect "serial download, a tool that cannot be started: -6" -6

  # KSYN alone: the frame arrives whole, the ACK gives 0.
  # The simulator checks the frame's check byte: a good frame is logged so.
  frame_log='serial KSYN file my_app.tgz type F restart 2'
  run_app -k "$(winpath "$ksyn_file")" -port 5 -baud 115200 -type f -restart 2
  if [ "$rc" -eq 0 ] && grep -qF "$frame_log" "$sim_log"; then
    pass "KSYN on COM5: the frame arrives, the ACK gives 0"
  else
    fail "KSYN on COM5: the frame arrives, the ACK gives 0" \
      "exit status $rc; simulator: $(grep 'serial <-' "$sim_log" | tail -n 1)"
  fi

  # A serial download with KSYN first: frame, ACK, then the tool.
  rm -f "$app/pdt-calls.txt"
  frames_before=$(grep -c 'serial KSYN file' "$sim_log")
  run_app -s "$wserial" -port 12 -ksyn -silent
  frames_after=$(grep -c 'serial KSYN file' "$sim_log")
  if [ "$rc" -eq 0 ] && [ "$frames_after" -eq $((frames_before + 1)) ] &&
    grep -q -- '-p12 ' "$app/pdt-calls.txt" 2>/dev/null; then
    pass "serial download with KSYN on COM12: frame, ACK, then the tool, exit 0"
  else
    fail "serial download with KSYN on COM12: frame, ACK, then the tool, exit 0" \
      "exit status $rc; frames $frames_before -> $frames_after"
  fi

  # A port that does not exist.
  run_app -k "$(winpath "$ksyn_file")" -port 9 -timeout 1
  expect "KSYN on a COM port that does not exist: -7" -7
  stop_sim
else
  fail "serial checks" "no simulator"
fi

# A terminal that never answers the frame.
if start_sim serial-silent --no-daemon --pty --ksyn silent; then
  ln -sfn "$(sed -n 's/^serial port: //p' "$sim_log" | head -n 1)" "$WINEPREFIX/dosdevices/com5"
  run_app -k "$(winpath "$ksyn_file")" -port 5 -timeout 1
  expect "KSYN without an answer: -4" -4
  stop_sim
fi

# -------------------------------------------------------------- tk650push
push_file="$work/files/push file.bin"
head -c 200000 /dev/urandom >"$push_file"
report="$work/files/report.json"
mkdir -p "$work/pushstore"
if start_sim push --listen 127.21.1.1:5142 --terminals 3 --store "$work/pushstore" --quiet; then
  (cd "$work/files" && wine "$app/tk650push.exe" --report "$(winpath "$report")" \
    "$(winpath "$push_file")" 127.21.1.1 127.21.1.2 127.21.1.3 </dev/null >>"$log" 2>"$work/push.err")
  rc=$?
  stop_sim
  verdict=$(python3 - "$report" 200000 <<'EOF'
import json, sys
try:
    r = json.load(open(sys.argv[1], encoding="utf-8"))
except Exception as e:
    print(f"no report: {e}"); sys.exit()
t = r.get("terminals", [])
want = ["127.21.1.1", "127.21.1.2", "127.21.1.3"]
if sorted(x.get("address") for x in t) != want:
    print(f"addresses {[x.get('address') for x in t]}")
elif any(x.get("outcome") != "installed" or x.get("exitCode") != 0 or x.get("bytes") != int(sys.argv[2]) for x in t):
    print("outcomes " + ", ".join(f"{x.get('outcome')}/{x.get('bytes')}" for x in t))
elif r.get("succeeded") != 3 or r.get("failed") != 0 or r.get("cancelled"):
    print(f"summary {r.get('succeeded')} {r.get('failed')} {r.get('cancelled')}")
else:
    print("ok")
EOF
)
  if [ "$rc" -eq 0 ] && [ "$verdict" = ok ]; then
    pass "tk650push to three terminals: exit 0, report correct"
  else
    fail "tk650push to three terminals: exit 0, report correct" "exit status $rc; $verdict"
  fi
  received=$(grep -c 'push file.bin' "$work/pushstore/tk650sim-received.txt" 2>/dev/null)
  if cmp -s "$push_file" "$work/pushstore/push file.bin" && [ "${received:-0}" -eq 3 ]; then
    pass "tk650push: the file arrived byte-identical at all three"
  else
    fail "tk650push: the file arrived byte-identical at all three" "received ${received:-0} times"
  fi
else
  fail "tk650push to three terminals" "no simulator"
fi

# Ctrl+C while the terminals install: Wine turns SIGINT into the console's
# CTRL_C_EVENT. The pushes are stopped and the report still written: each
# terminal has the whole file and installs it, so each is "delivered".
if start_sim push-ctrlc --listen 127.21.2.1:5142 --terminals 3 --install-delay 600000 --quiet; then
  rm -f "$report"
  : >"$work/push-ctrlc.err"
  (cd "$work/files" && exec wine "$app/tk650push.exe" --report "$(winpath "$report")" \
    "$(winpath "$push_file")" 127.21.2.1 127.21.2.2 127.21.2.3 </dev/null >>"$log" 2>"$work/push-ctrlc.err") &
  push_pid=$!
  installing() { [ "$(grep -c 'Installing' "$work/push-ctrlc.err")" -ge 3 ]; }
  if wait_for 300 installing; then
    kill -INT "$push_pid"
    # Ended within the deadline?
    ended() { ! kill -0 "$push_pid" 2>/dev/null; }
    wait_for 150 ended
    if ended; then
      wait "$push_pid"
      rc=$?
      cancelled=$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); print(r["cancelled"], r["failed"], r["delivered"], sorted({t["outcome"] for t in r["terminals"]}))' "$report" 2>&1)
      if [ "$rc" -eq 3 ] && [ "$cancelled" = "True 0 3 ['delivered']" ]; then
        pass "tk650push, Ctrl+C while installing: stopped, each delivered, report written, exit 3"
      else
        fail "tk650push, Ctrl+C while installing: stopped, each delivered, report written, exit 3" "exit status $rc; $cancelled"
      fi
    else
      kill -KILL "$push_pid" 2>/dev/null
      fail "tk650push, Ctrl+C while installing" "still running 15 s after Ctrl+C"
    fi
  else
    kill -KILL "$push_pid" 2>/dev/null
    fail "tk650push, Ctrl+C while installing" "the pushes never reached the install: $(tail -n 2 "$work/push-ctrlc.err")"
  fi
  wait "$push_pid" 2>/dev/null
  stop_sim
fi

# ------------------------------------------------- interactive, under Xvfb
# Send pressed by the command line with the window shown: the tool starts in
# a console window of its own, without -w; the program stays open until closed.
if [ -f "$root/scripts/lib/xdisplay.sh" ] && start_sim serial-window --no-daemon --pty; then
  ln -sfn "$(sed -n 's/^serial port: //p' "$sim_log" | head -n 1)" "$WINEPREFIX/dosdevices/com12"
  # shellcheck source=../lib/xdisplay.sh
  . "$root/scripts/lib/xdisplay.sh"
  wineserver -k 2>/dev/null
  wineserver -w
  start_x_display
  rm -f "$app/pdt-calls.txt"
  (cd "$work/files" && exec wine "$app/Tk650Downloader.exe" -s "$wserial" -port 12 -baud 9600 -send \
    </dev/null >>"$log" 2>&1) &
  window_pid=$!
  called() { [ -s "$app/pdt-calls.txt" ]; }
  wait_for 300 called
  got_line=$(sed -n 1p "$app/pdt-calls.txt" 2>/dev/null)
  want_line="cmdline=\"$wapp\\pdt.exe\" -p12 -b9600 -i\"ser file.tgz\""
  if [ "$got_line" = "$want_line" ] && kill -0 "$window_pid" 2>/dev/null; then
    pass "interactive serial download: the tool's command line without -w, the window stays"
  else
    fail "interactive serial download: the tool's command line without -w, the window stays" \
      "got [$got_line], expected [$want_line]"
  fi
  kill "$window_pid" 2>/dev/null
  wait "$window_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w
  stop_x_display
  stop_sim
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
