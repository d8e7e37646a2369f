#!/usr/bin/env bash
# Starts the program with no display to show a window on: it must end with a failure status
# and one line that says it needs a desktop and what plays without one (not Qt's plugin error).
set -u
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -eq 0 ]; then
    echo "FAIL: exit status 0"
    exit 1
fi
if [ "$(printf '%s\n' "$out" | wc -l)" -ne 1 ]; then
    echo "FAIL: more than one line"
    exit 1
fi
if ! grep -q 'needs a desktop session.*varko-render --demo --play' <<<"$out"; then
    echo "FAIL: not the sentence"
    exit 1
fi
