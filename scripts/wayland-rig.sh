#!/usr/bin/env bash
# Runs COMMAND inside a private headless Wayland desktop and tears it down afterwards:
#   scripts/wayland-rig.sh ctest --preset dev -L wayland
# The compositor is chosen by RUVEX_RIG_COMPOSITOR:
#   sway (default)  wlroots, headless, no XWayland; started as the unprivileged uid 65534 (sway refuses
#                   to run as root) with a runtime folder of its own; one persistent virtual keyboard
#                   (wtype) stands in for the physical one, which keeps the focused window's states.
#   mutter          GNOME's compositor, headless, with XWayland: also exports DISPLAY and XAUTHORITY
#                   (the hybrid mode's X11 side).
#   kwin            KDE's compositor (optional: needs the kwin-wayland package), virtual, no XWayland;
#                   RUVEX_RIG_LAYOUT sets its keyboard layouts (e.g. "ru" or "ru,us").
# Around it, as in scripts/rig.sh and with a temporary HOME and XDG folders: a D-Bus session bus, the
# AT-SPI bus, gnome-keyring (secrets, unlocked) and PulseAudio with a virtual microphone "vmic"
# (played into through the sink "vmic_out"). Every process is stopped by the PID recorded when it
# was started, in reverse order, also when COMMAND fails or the rig is interrupted; X lock files the
# compositor's XWayland leaves behind are removed. Exits with COMMAND's status. Works as root.
# COMMAND sees WAYLAND_DISPLAY (an absolute path), XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP,
# RUVEX_RIG=1, RUVEX_RIG_COMPOSITOR, DBUS_SESSION_BUS_ADDRESS, PULSE_SERVER, RUVEX_RIG_PULSEAUDIO_PID,
# and SWAYSOCK (sway) or DISPLAY and XAUTHORITY (mutter).
set -euo pipefail

compositor=${RUVEX_RIG_COMPOSITOR:-sway}
case "$compositor" in
sway | mutter | kwin) ;;
*)
    echo "wayland-rig: unknown compositor '$compositor' (sway, mutter or kwin)" >&2
    exit 2
    ;;
esac

rig_name=wayland-rig
source "$(dirname "$0")/rig-lib.sh"
export XDG_SESSION_TYPE=wayland RUVEX_RIG_COMPOSITOR="$compositor"

# The session bus first: the compositor and every program after it join it.
start_session_bus
start_accessibility_bus

# The compositor.
socket_up() { [ -S "$1" ]; }
case "$compositor" in
sway)
    # sway will not run as root: it runs as uid 65534 in a runtime folder of its own, which root's
    # clients reach through the absolute socket paths.
    sway_runtime="$rig_dir/sway-runtime"
    mkdir -p "$sway_runtime"
    chmod 700 "$sway_runtime"
    cat >"$sway_runtime/config" <<'EOF'
xwayland disable
output HEADLESS-1 resolution 1280x800
default_border none
EOF
    chown -R 65534:65534 "$sway_runtime"
    env -u DBUS_SESSION_BUS_ADDRESS HOME="$sway_runtime" XDG_RUNTIME_DIR="$sway_runtime" \
        WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
        setpriv --reuid=65534 --regid=65534 --clear-groups sway -c "$sway_runtime/config" \
        >"$logs/sway.log" 2>&1 </dev/null &
    record sway $!
    wait_for sway socket_up "$sway_runtime/wayland-1"
    export WAYLAND_DISPLAY="$sway_runtime/wayland-1" XDG_CURRENT_DESKTOP=sway
    ipc_up() { compgen -G "$sway_runtime/sway-ipc.*.sock" >/dev/null; }
    wait_for sway ipc_up
    SWAYSOCK=$(compgen -G "$sway_runtime/sway-ipc.*.sock" | head -n 1)
    export SWAYSOCK
    # The stand-in for the physical keyboard: with no keyboard left on the seat, a window loses its
    # active and focused states when a short-lived virtual keyboard goes away.
    wtype -s 86400000 >"$logs/keyboard.log" 2>&1 &
    record keyboard $!
    ;;
mutter)
    mutter --wayland --headless --virtual-monitor 1280x800 --wayland-display=wayland-ruvex \
        >"$logs/mutter.log" 2>&1 </dev/null &
    record mutter $!
    wait_for mutter socket_up "$XDG_RUNTIME_DIR/wayland-ruvex"
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/wayland-ruvex" XDG_CURRENT_DESKTOP=GNOME
    # Mutter names its X display in the log and writes the X authority into the runtime folder.
    x_named() { grep -o 'Using public X11 display :[0-9]*' "$logs/mutter.log"; }
    wait_for mutter x_named
    x_display=$(x_named | head -n 1 | sed 's/.*://')
    export DISPLAY=":$x_display"
    auth_written() { compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" >/dev/null; }
    wait_for mutter auth_written
    XAUTHORITY=$(compgen -G "$XDG_RUNTIME_DIR/.mutter-Xwaylandauth.*" | head -n 1)
    export XAUTHORITY
    wait_for mutter xdpyinfo
    ;;
kwin)
    # Debian's binary carries a file capability, which some sandboxes refuse to execute; a copy has
    # none. It must keep its name: KWin finds its Qt platform plugin by it.
    mkdir -p "$rig_dir/bin"
    cp /usr/bin/kwin_wayland "$rig_dir/bin/kwin_wayland"
    if [ -n "${RUVEX_RIG_LAYOUT:-}" ]; then
        printf '[Layout]\nLayoutList=%s\nUse=true\n' "$RUVEX_RIG_LAYOUT" >"$XDG_CONFIG_HOME/kxkbrc"
    fi
    QT_QPA_PLATFORM= "$rig_dir/bin/kwin_wayland" --virtual --no-lockscreen --socket wayland-ruvex \
        --width 1280 --height 800 >"$logs/kwin.log" 2>&1 </dev/null &
    record kwin $!
    wait_for kwin socket_up "$XDG_RUNTIME_DIR/wayland-ruvex"
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/wayland-ruvex" XDG_CURRENT_DESKTOP=KDE
    ;;
esac

start_keyring_and_sound
run_command "$@"
