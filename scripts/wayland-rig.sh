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

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
fi
compositor=${RUVEX_RIG_COMPOSITOR:-sway}
case "$compositor" in
sway | mutter | kwin) ;;
*)
    echo "wayland-rig: unknown compositor '$compositor' (sway, mutter or kwin)" >&2
    exit 2
    ;;
esac

rig_dir=$(mktemp -d "${TMPDIR:-/tmp}/ruvex-wayland-rig.XXXXXX")
chmod 755 "$rig_dir"
pids=() # in start order
names=()
x_display=""

log() { echo "wayland-rig: $*" >&2; }

teardown() {
    local i pid tries
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -TERM "$pid" 2>/dev/null || continue
        kill -CONT "$pid" 2>/dev/null || true # a test may have left it stopped
        for ((tries = 0; tries < 60; tries++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        if kill -0 "$pid" 2>/dev/null; then
            log "${names[i]} ($pid) did not stop; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    done
    pids=()
    # A compositor's XWayland that was killed leaves its lock and socket behind; only ours go.
    if [ -n "$x_display" ]; then
        rm -f "/tmp/.X${x_display}-lock" "/tmp/.X11-unix/X${x_display}"
    fi
    rm -rf "$rig_dir"
}
trap teardown EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

record() { # NAME PID
    names+=("$1")
    pids+=("$2")
}

fail() {
    local i
    log "$1"
    if [ -f "$rig_dir/logs/$2.log" ]; then tail -n 40 "$rig_dir/logs/$2.log" | sed 's/^/  | /' >&2; fi
    for ((i = 0; i < ${#pids[@]}; i++)); do
        kill -0 "${pids[i]}" 2>/dev/null || log "${names[i]} (${pids[i]}) has gone"
    done
    exit 1
}

# Polls CHECK (a command) every 20 ms for up to 20 s.
wait_for() { # WHAT CHECK...
    local what=$1 tries
    shift
    for ((tries = 0; tries < 1000; tries++)); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.02
    done
    fail "$what did not come up" "$what"
}

# 1. Private home and XDG folders.
mkdir -p "$rig_dir"/{home,config,data,cache,runtime,logs}
chmod 700 "$rig_dir/runtime"
export HOME="$rig_dir/home"
export XDG_CONFIG_HOME="$rig_dir/config" XDG_DATA_HOME="$rig_dir/data"
export XDG_CACHE_HOME="$rig_dir/cache" XDG_RUNTIME_DIR="$rig_dir/runtime"
export XDG_SESSION_TYPE=wayland RUVEX_RIG=1 RUVEX_RIG_COMPOSITOR="$compositor"
unset WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS PULSE_SERVER SWAYSOCK \
    GNOME_KEYRING_CONTROL SSH_AUTH_SOCK SESSION_MANAGER QT_QPA_PLATFORM DISPLAY XDG_CURRENT_DESKTOP
logs="$rig_dir/logs"
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
fi

# 2. The session bus first: the compositor and every program after it join it.
bus_info=$(dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
    --print-address=1 --print-pid=1 2>"$logs/dbus.log") || fail "dbus-daemon did not start" dbus
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
record dbus-daemon "$(sed -n 2p <<<"$bus_info")"

bus_has() { # NAME
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep 'boolean true' >/dev/null
}

# 3. The accessibility bus, so that toolkits expose their widgets.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$logs/at-spi.log" 2>&1 &
record at-spi-bus-launcher $!
wait_for at-spi bus_has org.a11y.Bus

# 4. The compositor.
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

# 5. The keyring: a throw-away password creates and unlocks the "login" collection, no prompt.
head -c 24 /dev/urandom | base64 |
    gnome-keyring-daemon --foreground --unlock --components=secrets \
        --control-directory="$XDG_RUNTIME_DIR/keyring" >"$logs/keyring.log" 2>&1 &
record gnome-keyring-daemon $!
wait_for keyring bus_has org.freedesktop.secrets

# 6. PulseAudio with a null sink and a remapped (non-monitor) source as the default microphone.
mkdir -p "$XDG_CONFIG_HOME/pulse"
echo "autospawn = no" >"$XDG_CONFIG_HOME/pulse/client.conf"
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    --realtime=no --high-priority=no --log-target=stderr \
    -L "module-native-protocol-unix socket=$XDG_RUNTIME_DIR/pulse/native" \
    -L "module-null-sink sink_name=vmic_out" \
    -L "module-remap-source master=vmic_out.monitor source_name=vmic" \
    >"$logs/pulseaudio.log" 2>&1 &
record pulseaudio $!
export RUVEX_RIG_PULSEAUDIO_PID=$!
wait_for pulseaudio pactl info
pactl set-default-source vmic

# The command runs as a child the rig waits for, so that an interrupt reaches the rig at once.
"$@" <&0 &
command_pid=$!
trap 'kill -INT "$command_pid" 2>/dev/null || true' INT
trap 'kill -TERM "$command_pid" 2>/dev/null || true' TERM
status=0
wait "$command_pid" || status=$?
while kill -0 "$command_pid" 2>/dev/null; do
    status=0
    wait "$command_pid" || status=$?
done
exit $status
