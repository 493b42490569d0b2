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

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
fi

rig_dir=$(mktemp -d "${TMPDIR:-/tmp}/ruvex-rig.XXXXXX")
chmod 700 "$rig_dir"
pids=()  # in start order
names=()

log() { echo "rig: $*" >&2; }

teardown() {
    local i pid tries
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        pid=${pids[i]}
        kill -TERM "$pid" 2>/dev/null || continue
        kill -CONT "$pid" 2>/dev/null || true # a test may have left it stopped
        for ((tries = 0; tries < 40; tries++)); do
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
    if [ -f "$rig_dir/logs/$2.log" ]; then sed 's/^/  | /' "$rig_dir/logs/$2.log" >&2; fi
    for ((i = 0; i < ${#pids[@]}; i++)); do
        kill -0 "${pids[i]}" 2>/dev/null || log "${names[i]} (${pids[i]}) has gone"
    done
    exit 1
}

# Polls CHECK (a command) every 20 ms for up to 20 s (a loaded CI machine can be slow to start X).
wait_for() { # WHAT CHECK...
    local what=$1 tries
    shift
    for ((tries = 0; tries < 1000; tries++)); do
        if "$@" >/dev/null 2>&1; then return 0; fi
        sleep 0.02
    done
    fail "$what did not come up" "$what"
}

# 1. Private home and XDG folders; nothing of the caller's desktop, keyring or sound server leaks in.
mkdir -p "$rig_dir"/{home,config,data,cache,runtime,logs}
chmod 700 "$rig_dir/runtime"
export HOME="$rig_dir/home"
export XDG_CONFIG_HOME="$rig_dir/config" XDG_DATA_HOME="$rig_dir/data"
export XDG_CACHE_HOME="$rig_dir/cache" XDG_RUNTIME_DIR="$rig_dir/runtime"
export XDG_SESSION_TYPE=x11 RUVEX_RIG=1
unset WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS PULSE_SERVER \
    GNOME_KEYRING_CONTROL SSH_AUTH_SOCK SESSION_MANAGER QT_QPA_PLATFORM DISPLAY
logs="$rig_dir/logs"
# Russian text passes through terminals and toolkits in the tests: make sure they run in UTF-8.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
fi

# 2. Xvfb picks a free display number and writes it to the file once it accepts connections.
# -noreset: by default the server resets when its last client leaves, and refuses connections while
# it does, which made a client starting just then (openbox after the first probe) fail now and then.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp -noreset 3>"$rig_dir/display" >"$logs/Xvfb.log" 2>&1 &
record Xvfb $!
display_ready() { [ -n "$(tr -d '[:space:]' <"$rig_dir/display")" ]; }
wait_for Xvfb display_ready
export DISPLAY=":$(tr -d '[:space:]' <"$rig_dir/display")"
# Clients must get through before anything else starts (on a busy machine the first could fail).
wait_for Xvfb xdpyinfo

# 3. The session bus, before any program that might start a stray one of its own.
bus_info=$(dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
    --print-address=1 --print-pid=1 2>"$logs/dbus.log") || fail "dbus-daemon did not start" dbus
export DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
record dbus-daemon "$(sed -n 2p <<<"$bus_info")"

# The checks pipe into a grep that reads all its input: with pipefail, a grep -q leaving early could
# fail the check through the writer's SIGPIPE.
bus_has() { # NAME
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep 'boolean true' >/dev/null
}

# 4. A window manager (focus, _NET_ACTIVE_WINDOW) and a compositor (translucent windows).
openbox --sm-disable >"$logs/openbox.log" 2>&1 &
record openbox $!
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep 'window id' >/dev/null; }
wait_for openbox wm_ready
xcompmgr >"$logs/xcompmgr.log" 2>&1 &
record xcompmgr $!

# 5. The accessibility bus, so that toolkits expose their widgets.
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$logs/at-spi.log" 2>&1 &
record at-spi-bus-launcher $!
# Wait for the name without calling it: a call before the launcher owns the name would make the bus
# activate a second launcher of its own.
wait_for at-spi bus_has org.a11y.Bus
dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress |
    grep 'unix:' >/dev/null || fail "the AT-SPI bus gives no address" at-spi

# 6. The keyring: a throw-away password creates and unlocks the "login" collection, no prompt.
head -c 24 /dev/urandom | base64 |
    gnome-keyring-daemon --foreground --unlock --components=secrets \
        --control-directory="$XDG_RUNTIME_DIR/keyring" >"$logs/keyring.log" 2>&1 &
record gnome-keyring-daemon $!
# Tests that simulate a hung or vanished keyring stop or kill it by this PID.
export RUVEX_RIG_KEYRING_PID=$!
wait_for keyring bus_has org.freedesktop.secrets

# 7. PulseAudio with a null sink and a remapped (non-monitor) source as the default microphone.
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
# Tests that simulate a hung sound server stop and continue it by this PID.
export RUVEX_RIG_PULSEAUDIO_PID=$!
wait_for pulseaudio pactl info
pactl set-default-source vmic

# The command runs as a child the rig waits for, so that an interrupt reaches the rig at once: it is
# passed on to the command, and the desktop is still torn down after the command has gone.
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
