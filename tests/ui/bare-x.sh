#!/usr/bin/env bash
# Runs COMMAND on a private X server with no window manager and no compositing manager, the desktop
# where the pill must cut its own rounded shape. Stops the server it started when COMMAND ends.
set -uo pipefail
dir=$(mktemp -d "${TMPDIR:-/tmp}/ruvex-bare-x.XXXXXX")
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" >"$dir/Xvfb.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 250); do
    [ -n "$(tr -d '[:space:]' <"$dir/display")" ] && break
    sleep 0.02
done
display=$(tr -d '[:space:]' <"$dir/display")
if [ -z "$display" ]; then
    echo "bare-x: Xvfb did not start" >&2
    cat "$dir/Xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$display" QT_QPA_PLATFORM=xcb
unset XAUTHORITY WAYLAND_DISPLAY
status=0
"$@" || status=$?
exit $status
