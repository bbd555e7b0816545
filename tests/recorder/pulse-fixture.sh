#!/bin/sh
# pulse-fixture.sh start|stop DIR
# A private PulseAudio server whose default source "vmic" is a virtual
# microphone: whatever is played into the sink "vmic_sink" is what it hears.
# Clients reach it with PULSE_SERVER=unix:DIR/native.
#
# Without PulseAudio a developer's machine skips the tests that need it
# (they find no socket); under CI=true a missing server is a failure.
set -u
action=${1:-}
dir=${2:-}
[ -n "$action" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

under_ci() { case "${CI:-}" in true|TRUE|True|1) return 0 ;; esac; return 1; }

give_up() {
    echo "pulse-fixture: $*" >&2
    stop_server
    if under_ci; then exit 1; fi
    echo "pulse-fixture: tests that need a microphone will be skipped" >&2
    exit 0
}

# Running and not merely a zombie waiting for a parent that is not us.
alive() {
    state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

kill_pid_file() {
    [ -f "$1" ] || return 0
    pid=$(cat "$1" 2>/dev/null)
    rm -f "$1"
    case "$pid" in ''|*[!0-9]*) return 0 ;; esac
    kill "$pid" 2>/dev/null || return 0
    i=0
    while alive "$pid" && [ $i -lt 50 ]; do i=$((i + 1)); sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    return 0
}

stop_server() {
    kill_pid_file "$dir/keepalive.pid"
    kill_pid_file "$dir/pid"
    rm -rf "$dir"
}

start_server() {
    for program in pulseaudio pactl pacat; do
        command -v "$program" >/dev/null 2>&1 || give_up "$program is not installed"
    done
    stop_server # a run that was interrupted may have left one behind
    mkdir -p "$dir" && chmod 700 "$dir" || give_up "cannot create $dir"
    cat > "$dir/vmic.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=vmic_sink rate=44100 channels=1 sink_properties=device.description=VirtualMicSink
load-module module-remap-source master=vmic_sink.monitor source_name=vmic source_properties=device.description=VirtualMic
set-default-sink vmic_sink
set-default-source vmic
PA
    # -n: no default script (no hardware probing). Root (as in CI) only gets a
    # warning for a per-user server, which is what we want: --system would
    # ignore our socket and configuration.
    PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir" pulseaudio --daemonize=yes -n -F "$dir/vmic.pa" \
        --exit-idle-time=-1 --use-pid-file=yes --log-target=file:"$dir/pulse.log" \
        </dev/null >/dev/null 2>&1 || give_up "pulseaudio did not start: $(tail -n 3 "$dir/pulse.log" 2>/dev/null)"
    export PULSE_SERVER="unix:$dir/native"
    i=0
    until pactl info >/dev/null 2>&1; do
        i=$((i + 1)); [ $i -gt 50 ] && give_up "pulseaudio does not answer"
        sleep 0.1
    done
    # A null sink only runs while something plays into it; without that the
    # microphone would deliver nothing at all instead of silence.
    pacat --raw --format=s16le --rate=44100 --channels=1 --latency-msec=30 --stream-name=keepalive \
        /dev/zero </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/keepalive.pid"
    # A fresh null sink has about 2 s of silence rendered ahead; the microphone
    # stays mute until that has drained.
    i=0
    while :; do
        latency=$(pactl list sinks | sed -n 's/.*Latency: \([0-9]*\) usec.*/\1/p' | head -n 1)
        [ "${latency:-9999999}" -lt 50000 ] && break
        i=$((i + 1)); [ $i -gt 60 ] && give_up "the virtual microphone sink never drained (${latency}us)"
        sleep 0.1
    done
    echo "pulse-fixture: PulseAudio with a virtual microphone at unix:$dir/native"
}

case "$action" in
start) start_server ;;
stop) stop_server ;;
*) echo "usage: $0 start|stop DIR" >&2; exit 2 ;;
esac
