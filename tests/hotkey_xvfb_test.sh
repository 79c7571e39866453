#!/usr/bin/env bash
# F2 hides and shows the real window while another program has the focus, on an X server of
# its own (Xvfb). Skipped (exit 77) only where Xvfb or the X tools are missing.
set -u
collector="$1"
for tool in Xvfb xdotool xmessage xdpyinfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)"
    exit 77
  fi
done

work="$(mktemp -d)"
cleanup() {
  kill "${app:-}" "${other:-}" "${third:-}" "${xvfb:-}" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The store and the settings in folders of this test's own, never the user's: the same store
# is one window, so two runs at once on the user's store would find each other.
cp "$collector" "$work/collector"
export XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config"
export QT_QPA_PLATFORM=xcb
visible() { xdotool search --onlyvisible --name "Tarvola采集器" >/dev/null 2>&1; }

# An X server of our own on a display nobody holds: neither its lock file here nor its name in
# the abstract socket namespace, which clients try first and a container may share with others.
start_x_server() {
  local n
  for _ in $(seq 10); do
    n=$((100 + RANDOM % 800))
    [ -e "/tmp/.X$n-lock" ] && continue
    grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix 2>/dev/null && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp 2>"$work/xvfb" &
    xvfb=$!
    export DISPLAY=":$n"
    for _ in $(seq 100); do
      xdpyinfo >/dev/null 2>&1 && return 0
      kill -0 "$xvfb" 2>/dev/null || break
      sleep 0.1
    done
    kill "$xvfb" 2>/dev/null
    wait "$xvfb" 2>/dev/null
  done
  echo "FAIL: no X server would start: $(cat "$work/xvfb")"
  exit 1
}

# --print-state: the window's state lines on stdout, read back below. A start that cannot
# reach its X server is tried once more on a new one: this test is about the hot key.
for try in 1 2; do
  start_x_server
  "$work/collector" --print-state >"$work/state" 2>"$work/errors" &
  app=$!
  for _ in $(seq 300); do
    visible && break
    kill -0 "$app" 2>/dev/null || break
    sleep 0.1
  done
  visible && break
  if [ "$try" = 2 ] || kill -0 "$app" 2>/dev/null ||
    ! grep -q 'could not connect to display' "$work/errors"; then
    echo "FAIL: the window did not appear on $DISPLAY: $(cat "$work/errors")"
    exit 1
  fi
  echo "note: the window ended before it appeared on $DISPLAY: $(cat "$work/errors")"
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
done

xmessage -name other "another program" &
other=$!
for _ in $(seq 50); do xdotool search --name "^other$" >/dev/null 2>&1 && break; sleep 0.1; done
xdotool search --name "^other$" | head -1 | xargs -r xdotool windowfocus 2>/dev/null

said() {  # the last state line says visible=on|off
  grep '^state ' "$work/state" | tail -1 | grep -q " visible=$1 "
}
expect() {  # expect visible|hidden after one F2, on the screen and in the state lines
  xdotool key F2
  for _ in $(seq 100); do
    if [ "$1" = visible ] && visible && said on; then return 0; fi
    if [ "$1" = hidden ] && ! visible && said off; then return 0; fi
    sleep 0.1
  done
  echo "FAIL: after F2 the window should be $1 (state: $(grep '^state ' "$work/state" | tail -1))"
  exit 1
}
grep -q '^state records=0/0 pages=0/0 precollect=on start=off stop=off startpage=1 rows=0 visible=on failures=0 status=等待$' "$work/state" ||
  { echo "FAIL: no first state line: $(head -3 "$work/state")"; exit 1; }
expect hidden
expect visible
expect hidden
kill -0 "$app" || { echo "FAIL: the program ended"; exit 1; }

# Started again for the same store, the program opens no second window: the hidden one is
# shown and raised, and the second start ends at once.
timeout 20 "$work/collector" --print-state >"$work/second" 2>/dev/null
[ $? -eq 0 ] || { echo "FAIL: the second start did not end cleanly: $(cat "$work/second")"; exit 1; }
grep -q '^instance: ' "$work/second" || { echo "FAIL: the second start opened a window: $(head -3 "$work/second")"; exit 1; }
for _ in $(seq 50); do visible && grep -q '^raised$' "$work/state" && break; sleep 0.1; done
visible && grep -q '^raised$' "$work/state" || { echo "FAIL: the first window was not brought back"; exit 1; }
[ "$(xdotool search --onlyvisible --name "Tarvola采集器" | wc -l)" = 1 ] || { echo "FAIL: two windows"; exit 1; }

# Another store has a window of its own; the hot key the first holds is said to be taken.
"$work/collector" --print-state --store "$work/other.db" >"$work/third" 2>/dev/null &
third=$!
for _ in $(seq 100); do grep -q 'status=F2 已被其他程序占用，请换一个$' "$work/third" && break; sleep 0.1; done
grep -q '^hotkey F2=taken$' "$work/third" && grep -q 'status=F2 已被其他程序占用，请换一个$' "$work/third" ||
  { echo "FAIL: a taken hot key was not said: $(grep -E '^(hotkey|state)' "$work/third" | tail -2)"; exit 1; }
kill "$third" 2>/dev/null
echo "PASS: F2 hid, showed and hid the window; a second start raised it; a taken key was said"
