# Sourced by scripts that need a virtual X display (Xvfb, from xvfb) and, with
# --wm, the openbox window manager:
#   start_x_display [--wm]   exports DISPLAY once the server answers; the
#                            screen is X_DISPLAY_SIZE (1280x900) large
#   stop_x_display           ends what start_x_display started
# Xvfb picks a free display number itself (-displayfd), so several runs at once
# never collide.
x_display_pids=()

start_x_display() {
  local numberfile
  numberfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 "${X_DISPLAY_SIZE:-1280x900}x24" -nolisten tcp 3>"$numberfile" >/dev/null 2>&1 &
  x_display_pids+=($!)
  for _ in $(seq 100); do
    [ -s "$numberfile" ] && break
    sleep 0.1
  done
  export DISPLAY=:$(tr -dc 0-9 <"$numberfile")
  rm -f "$numberfile"
  for _ in $(seq 100); do
    xprop -root >/dev/null 2>&1 && break
    sleep 0.1
  done
  if [ "${1:-}" = --wm ]; then
    openbox >/dev/null 2>&1 &
    x_display_pids+=($!)
    for _ in $(seq 100); do
      xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
      sleep 0.1
    done
  fi
}

stop_x_display() {
  local pid
  for pid in "${x_display_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${x_display_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  x_display_pids=()
}
