#!/usr/bin/env bash
# Runs a command on the X display of the caller (xvfb-run) under a window manager that frames
# windows, as a desktop would.
set -euo pipefail
wm=
trap '[ -n "$wm" ] && kill $wm 2>/dev/null || true' EXIT
managed() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
# A display that has only just come up may refuse the first connection: try again.
for _ in 1 2 3; do
    openbox --sm-disable &
    wm=$!
    # Ready when it names itself on the root window (up to 30 s on a loaded machine).
    for _ in $(seq 300); do
        managed && break
        kill -0 $wm 2>/dev/null || break
        sleep 0.1
    done
    managed && break
    sleep 0.5
done
if ! managed; then
    echo "openbox did not start" >&2
    exit 1
fi
"$@"
