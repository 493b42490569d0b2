#!/usr/bin/env bash
# Runs COMMAND inside a private headless desktop and tears the desktop down afterwards:
#   scripts/rig.sh ctest --preset dev
# Brings up, in this order and with a temporary HOME and XDG folders: Xvfb, a D-Bus session bus,
# openbox, xcompmgr, the AT-SPI bus, gnome-keyring (secrets, unlocked) and PulseAudio with a virtual
# microphone "vmic" (played into through the sink "vmic_out"). Every process is stopped by the PID
# recorded when it was started, in reverse order, also when COMMAND fails or the rig is interrupted.
# Exits with COMMAND's status. Works as root, with no display and no sound card.
# COMMAND sees DISPLAY, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER, RUVEX_RIG=1, RUVEX_RIG_PULSEAUDIO_PID and
# RUVEX_RIG_KEYRING_PID.
set -euo pipefail

rig_name=rig
source "$(dirname "$0")/rig-lib.sh"
export XDG_SESSION_TYPE=x11

# Xvfb picks a free display number and writes it to the file once it accepts connections.
# -noreset: by default the server resets when its last client leaves, and refuses connections while
# it does, which made a client starting just then (openbox after the first probe) fail now and then.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$rig_dir/display" >"$logs/Xvfb.log" 2>&1 &
record Xvfb $!
display_ready() { [ -n "$(tr -d '[:space:]' <"$rig_dir/display")" ]; }
wait_for Xvfb display_ready
export DISPLAY=":$(tr -d '[:space:]' <"$rig_dir/display")"
# Clients must get through before anything else starts (on a busy machine the first could fail).
wait_for Xvfb xdpyinfo

start_session_bus

# A window manager (focus, _NET_ACTIVE_WINDOW) and a compositor (translucent windows).
openbox --sm-disable >"$logs/openbox.log" 2>&1 &
record openbox $!
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep 'window id' >/dev/null; }
wait_for openbox wm_ready
xcompmgr >"$logs/xcompmgr.log" 2>&1 &
record xcompmgr $!

start_accessibility_bus
start_keyring_and_sound
run_command "$@"
