# What scripts/rig.sh and scripts/wayland-rig.sh share, sourced by both: the private folders, the
# bookkeeping that stops every process by its PID, and the services around the display server (the
# session bus, the AT-SPI bus, the keyring, PulseAudio with the virtual microphone). The caller sets
# rig_name (for its log lines) and may set x_display (an X display whose lock files teardown removes).

if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENT...]" >&2
    exit 2
fi

# 755, not 700: a compositor that refuses root runs as another uid and must reach its folder.
rig_dir=$(mktemp -d "${TMPDIR:-/tmp}/ruvex-$rig_name.XXXXXX")
chmod 755 "$rig_dir"
pids=() # in start order
names=()
x_display=""

log() { echo "$rig_name: $*" >&2; }

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
    # An X server that was killed leaves its lock and socket behind; only ours go.
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

fail() { # WHY LOG
    local i
    log "$1"
    if [ -f "$rig_dir/logs/$2.log" ]; then tail -n 40 "$rig_dir/logs/$2.log" | sed 's/^/  | /' >&2; fi
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

# Private home and XDG folders; nothing of the caller's desktop, keyring or sound server leaks in.
mkdir -p "$rig_dir"/{home,config,data,cache,runtime,logs}
chmod 700 "$rig_dir/runtime"
export HOME="$rig_dir/home"
export XDG_CONFIG_HOME="$rig_dir/config" XDG_DATA_HOME="$rig_dir/data"
export XDG_CACHE_HOME="$rig_dir/cache" XDG_RUNTIME_DIR="$rig_dir/runtime"
export RUVEX_RIG=1
unset WAYLAND_DISPLAY XAUTHORITY DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS PULSE_SERVER SWAYSOCK \
    GNOME_KEYRING_CONTROL SSH_AUTH_SOCK SESSION_MANAGER QT_QPA_PLATFORM DISPLAY XDG_CURRENT_DESKTOP
logs="$rig_dir/logs"
# Russian text passes through terminals and toolkits in the tests: make sure they run in UTF-8.
if [ "$(locale charmap 2>/dev/null)" != UTF-8 ]; then
    export LC_ALL=C.UTF-8 LANG=C.UTF-8
fi

# The session bus, before any program that might start a stray one of its own.
start_session_bus() {
    local bus_info
    bus_info=$(dbus-daemon --session --fork --address="unix:path=$XDG_RUNTIME_DIR/bus" \
        --print-address=1 --print-pid=1 2>"$logs/dbus.log") || fail "dbus-daemon did not start" dbus
    DBUS_SESSION_BUS_ADDRESS=$(sed -n 1p <<<"$bus_info")
    export DBUS_SESSION_BUS_ADDRESS
    record dbus-daemon "$(sed -n 2p <<<"$bus_info")"
}

# The checks pipe into a grep that reads all its input: with pipefail, a grep -q leaving early could
# fail the check through the writer's SIGPIPE.
bus_has() { # NAME
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep 'boolean true' >/dev/null
}

# The accessibility bus, so that toolkits expose their widgets.
start_accessibility_bus() {
    /usr/libexec/at-spi-bus-launcher --launch-immediately >"$logs/at-spi.log" 2>&1 &
    record at-spi-bus-launcher $!
    # Wait for the name without calling it: a call before the launcher owns the name would make the
    # bus activate a second launcher of its own.
    wait_for at-spi bus_has org.a11y.Bus
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress |
        grep 'unix:' >/dev/null || fail "the AT-SPI bus gives no address" at-spi
}

# The keyring (a throw-away password creates and unlocks the "login" collection, no prompt) and
# PulseAudio with a null sink and a remapped (non-monitor) source as the default microphone. Tests
# that simulate a hung or vanished service stop or kill it by RUVEX_RIG_KEYRING_PID and
# RUVEX_RIG_PULSEAUDIO_PID.
start_keyring_and_sound() {
    head -c 24 /dev/urandom | base64 |
        gnome-keyring-daemon --foreground --unlock --components=secrets \
            --control-directory="$XDG_RUNTIME_DIR/keyring" >"$logs/keyring.log" 2>&1 &
    record gnome-keyring-daemon $!
    export RUVEX_RIG_KEYRING_PID=$!
    wait_for keyring bus_has org.freedesktop.secrets

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
}

# The command runs as a child the rig waits for, so that an interrupt reaches the rig at once: it is
# passed on to the command, and the desktop is still torn down after the command has gone.
run_command() {
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
}
