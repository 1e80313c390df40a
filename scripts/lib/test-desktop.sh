# A private headless desktop for the tests: an Xvfb display and a PulseAudio daemon whose
# default sink is a null sink and whose default source is that sink's monitor (so whatever is
# played into the default sink is what the "microphone" hears).
#
# Source this file, then call start_test_desktop; it exports DISPLAY, PULSE_SERVER and
# XDG_RUNTIME_DIR, and stop_test_desktop ends what it started.

start_test_desktop() {
    QUENDA_DESKTOP_DIR=$(mktemp -d /tmp/quenda-desktop-XXXXXX)
    chmod 700 "$QUENDA_DESKTOP_DIR"
    export XDG_RUNTIME_DIR="$QUENDA_DESKTOP_DIR"

    # A display number no other X server here uses. (Xvfb's own -displayfd search starts at :0
    # and, while probing, unlinks the socket files of servers that run in other network
    # namespaces, such as another test run's.)
    local number
    for _ in $(seq 50); do
        number=$((100 + RANDOM % 900))
        [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
    done
    echo "$number" >"$QUENDA_DESKTOP_DIR/display"
    Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp >"$QUENDA_DESKTOP_DIR/xvfb.log" 2>&1 &
    QUENDA_XVFB_PID=$!

    cat >"$QUENDA_DESKTOP_DIR/test.pa" <<'PA'
load-module module-native-protocol-unix
load-module module-null-sink sink_name=DefaultSink sink_properties=device.description=DefaultSink
set-default-sink DefaultSink
set-default-source DefaultSink.monitor
PA
    pulseaudio --daemonize=no --exit-idle-time=-1 -n -F "$QUENDA_DESKTOP_DIR/test.pa" \
        --log-target=file:"$QUENDA_DESKTOP_DIR/pulse.log" >/dev/null 2>&1 &
    QUENDA_PULSE_PID=$!
    export PULSE_SERVER="unix:$QUENDA_DESKTOP_DIR/pulse/native"

    for _ in $(seq 100); do
        if [ -s "$QUENDA_DESKTOP_DIR/display" ]; then
            export DISPLAY=":$(head -n1 "$QUENDA_DESKTOP_DIR/display")"
            if xdpyinfo >/dev/null 2>&1 && pactl info >/dev/null 2>&1; then
                echo "test desktop: DISPLAY=$DISPLAY PULSE_SERVER=$PULSE_SERVER"
                return 0
            fi
        fi
        sleep 0.1
    done
    echo "test desktop did not start; logs:" >&2
    cat "$QUENDA_DESKTOP_DIR"/*.log >&2 || true
    return 1
}

stop_test_desktop() {
    [ -n "${QUENDA_PULSE_PID:-}" ] && kill "$QUENDA_PULSE_PID" 2>/dev/null
    [ -n "${QUENDA_XVFB_PID:-}" ] && kill "$QUENDA_XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    [ -n "${QUENDA_DESKTOP_DIR:-}" ] && rm -rf "$QUENDA_DESKTOP_DIR"
    return 0
}
