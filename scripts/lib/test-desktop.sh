# A private headless desktop for the tests: an Xvfb display and a sound server whose default
# sink is a null sink "DefaultSink" and whose default source is that sink's monitor (so whatever
# is played into the default sink is what the "microphone" hears).
#
# The sound server is the PulseAudio daemon, or PipeWire with WirePlumber and its PulseAudio
# interface (pipewire-pulse), as Debian's GNOME, Fedora and Ubuntu run it:
#
#   start_test_desktop               QUENDA_SOUND_SERVER, else pulseaudio
#   start_test_desktop pipewire
#
# Source this file, then call start_test_desktop; it exports DISPLAY, PULSE_SERVER,
# XDG_RUNTIME_DIR and QUENDA_SOUND_SERVER (and for PipeWire its session bus and private XDG
# state and configuration folders, so WirePlumber remembers nothing of other runs), and
# stop_test_desktop ends what it started.

start_test_desktop() {
    local server=${1:-${QUENDA_SOUND_SERVER:-pulseaudio}}
    case "$server" in
        pulseaudio | pipewire) ;;
        *) echo "start_test_desktop: unknown sound server '$server'" >&2; return 1 ;;
    esac
    export QUENDA_SOUND_SERVER=$server
    QUENDA_DESKTOP_DIR=$(mktemp -d /tmp/quenda-desktop-XXXXXX)
    chmod 700 "$QUENDA_DESKTOP_DIR"
    export XDG_RUNTIME_DIR="$QUENDA_DESKTOP_DIR"
    QUENDA_DESKTOP_PIDS=()

    # A display number no other X server here uses. (Xvfb's own -displayfd search starts at :0
    # and, while probing, unlinks the socket files of servers that run in other network
    # namespaces, such as another test run's.)
    local number
    for _ in $(seq 50); do
        number=$((100 + RANDOM % 900))
        [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
    done
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$QUENDA_DESKTOP_DIR/xvfb.log" 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    export DISPLAY=":$number"
    export PULSE_SERVER="unix:$QUENDA_DESKTOP_DIR/pulse/native"

    if [ "$server" = pulseaudio ]; then
        _start_test_pulseaudio
    else
        _start_test_pipewire
    fi || { _test_desktop_failed; return 1; }

    if ! _wait_for 100 xdpyinfo; then
        _test_desktop_failed
        return 1
    fi
    echo "test desktop: DISPLAY=$DISPLAY PULSE_SERVER=$PULSE_SERVER ($server)"
}

stop_test_desktop() {
    local pid i
    # Last started, first ended: pipewire-pulse and WirePlumber before PipeWire and the bus.
    for ((i = ${#QUENDA_DESKTOP_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${QUENDA_DESKTOP_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        wait "$pid" 2>/dev/null || true  # (safe under set -e: a killed child's status is 143)
    done
    QUENDA_DESKTOP_PIDS=()
    [ -n "${QUENDA_DESKTOP_DIR:-}" ] && rm -rf "$QUENDA_DESKTOP_DIR"
    return 0
}

# Runs the command until it succeeds, at most `tries` times 0.1 s apart.
_wait_for() {
    local tries=$1
    shift
    for _ in $(seq "$tries"); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

_test_desktop_failed() {
    echo "test desktop ($QUENDA_SOUND_SERVER) did not start; logs:" >&2
    tail -n 40 "$QUENDA_DESKTOP_DIR"/*.log >&2 || true
    stop_test_desktop
}

_start_test_pulseaudio() {
    cat >"$QUENDA_DESKTOP_DIR/test.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=DefaultSink sink_properties=device.description=DefaultSink
set-default-sink DefaultSink
set-default-source DefaultSink.monitor
PA
    pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$QUENDA_DESKTOP_DIR/test.pa" \
        --log-target=file:"$QUENDA_DESKTOP_DIR/pulse.log" >/dev/null 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    echo "$!" >"$QUENDA_DESKTOP_DIR/sound-server.pid"
    _wait_for 100 pactl info
}

_start_test_pipewire() {
    # WirePlumber keeps the sink each application last played into, and the default devices,
    # under XDG_STATE_HOME: a fresh folder per desktop, so no run inherits another's choices.
    export XDG_STATE_HOME="$QUENDA_DESKTOP_DIR/state" XDG_CONFIG_HOME="$QUENDA_DESKTOP_DIR/config"
    mkdir -p "$XDG_STATE_HOME" "$XDG_CONFIG_HOME"
    # WirePlumber needs a session bus (it reserves devices and talks to the portal over it).
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$QUENDA_DESKTOP_DIR/bus" \
        >"$QUENDA_DESKTOP_DIR/dbus.log" 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$QUENDA_DESKTOP_DIR/bus"
    _wait_for 50 test -S "$QUENDA_DESKTOP_DIR/bus" || return 1

    pipewire >"$QUENDA_DESKTOP_DIR/pipewire.log" 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    _wait_for 50 test -S "$QUENDA_DESKTOP_DIR/pipewire-0" || return 1
    wireplumber >"$QUENDA_DESKTOP_DIR/wireplumber.log" 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    pipewire-pulse >"$QUENDA_DESKTOP_DIR/pipewire-pulse.log" 2>&1 &
    QUENDA_DESKTOP_PIDS+=($!)
    echo "$!" >"$QUENDA_DESKTOP_DIR/sound-server.pid"
    _wait_for 100 pactl info || return 1

    # Wait for WirePlumber to have set up the session (it makes the fallback "auto_null"
    # sink when there is no sound card), so that its default choice cannot overrule ours.
    _wait_for 100 sh -c 'pactl list short sinks | grep -q .' || return 1
    pactl load-module module-null-sink sink_name=DefaultSink \
        sink_properties=device.description=DefaultSink >/dev/null || return 1
    _wait_for 50 sh -c 'pactl list short sinks | grep -q DefaultSink' || return 1
    pactl set-default-sink DefaultSink && pactl set-default-source DefaultSink.monitor || return 1
    _wait_for 50 sh -c 'pactl info | grep -q "^Default Sink: DefaultSink$"' || return 1
}
