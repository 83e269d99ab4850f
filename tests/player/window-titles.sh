#!/usr/bin/env bash
# Under a real X server (Xvfb): the windows carry exactly their own titles (the toolkit appends
# nothing) and the window classes the desktop entries name.
# usage: window-titles.sh QLPLAYER   (run inside xvfb-run)
set -euo pipefail
qlplayer=$(realpath "$1")
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
# On the X server, whatever the test run chose for the other window tests.
export QT_QPA_PLATFORM=xcb QL_WINDOWS_DIR="$work" QL_MPV_AO=null QL_MPV_VO=null HOME="$work"

# Waits until a window with exactly this title is there; prints its line of the window tree.
wait_window() {
  for _ in $(seq 100); do
    line=$(xwininfo -root -tree | grep -F "\"$1\": (" || true)
    if [ -n "$line" ]; then echo "$line"; return 0; fi
    sleep 0.1
  done
  echo "window-titles: no window titled '$1'; there are:" >&2
  xwininfo -root -tree | grep -o '"[^"]*": (' >&2 || true
  return 1
}

"$qlplayer" --cd-extraction 2>/dev/null &
pid=$!
line=$(wait_window "Quillon Trackwell Release 1.09")
echo "$line" | grep -qF '"quillon-trackwell")' || { echo "wrong window class: $line" >&2; exit 1; }
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

# A first start without a list shows "File not found" under the program's own title.
"$qlplayer" 2>/dev/null &
pid=$!
wait_window "Quillon Media Player" >/dev/null
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=

# With a list the window comes up, titled by its list.
: >default-List.qlm
"$qlplayer" 2>/dev/null &
pid=$!
line=$(wait_window "$work/default-List.qlm - Quillon Media Player")
echo "$line" | grep -qF '"qlplayer")' || { echo "wrong window class: $line" >&2; exit 1; }
if xwininfo -root -tree | grep -q '—'; then
  echo "window-titles: a title has text appended:" >&2
  xwininfo -root -tree | grep '—' >&2
  exit 1
fi
echo "window-titles: passed"
