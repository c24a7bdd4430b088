#!/usr/bin/env bash
# Runs a command inside a private desktop session: Xvfb with a window manager (openbox), a D-Bus
# session bus, and a PulseAudio server whose default sink is the null sink "game" and whose
# default source is the monitor of a second null sink "mic". Tones played into "game" are the
# system sound, tones played into "mic" are the microphone. Everything started here is stopped
# when the command ends, whatever its outcome.
#
# With --pipewire the sound server is PipeWire with its Pulse server and WirePlumber instead
# (the default of most current distributions), with the same sinks; there the microphone is the
# source "microphone", fed by whatever plays into "mic".
#
# With --wayland the session is a Wayland desktop instead: a headless sway (1280x720, background
# #204060; Xwayland starts when the first X client connects, and its display is left out of
# DISPLAY: tests that want X clients find it in sway's X lock file) run as the unprivileged user
# "nobody" (sway refuses root), PipeWire with its Pulse server and WirePlumber and the same sinks
# as --pipewire, and xdg-desktop-portal with its wlroots backend on a private session bus that
# starts nothing by itself but the permission store (which keeps the screen-cast restore
# tokens). The portal backend's screen chooser is $VANTEL_SESSION_DIR/chooser, which answers
# "HEADLESS-1" and appends a line to $VANTEL_SESSION_DIR/chooser.log each time it is asked: the
# dialog a user would see. A virtual keyboard stays attached, so keys typed with wtype reach the
# focused window.
#
# $VANTEL_RESTART_SOUND is a command that restarts the sound server as a crash and a restart by
# the desktop would: `pulseaudio -k` and a new PulseAudio with the same sinks, or (PipeWire) the
# end of pipewire-pulse and a new one that loads the sinks again. It returns once the new server
# answers with its default sink and source in place.
#
# Usage: tests/e2e/session.sh [--pipewire|--wayland] COMMAND [ARGS...]
# The command sees DISPLAY (X11 only), PULSE_SERVER, DBUS_SESSION_BUS_ADDRESS,
# VANTEL_RESTART_SOUND and VANTEL_SESSION_DIR; under --wayland also WAYLAND_DISPLAY, SWAYSOCK, XDG_SESSION_TYPE=wayland,
# XDG_CURRENT_DESKTOP=sway, XDG_RUNTIME_DIR, XDG_STATE_HOME and QT_QPA_PLATFORM=wayland.
set -uo pipefail

# Inside a running session: restart its sound server (see VANTEL_RESTART_SOUND above).
if [[ "${1:-}" == "--restart-sound" ]]; then
    restart_sound=$2
    session=$VANTEL_SESSION_DIR
fi

sound=pulseaudio
desktop=x11
if [[ "${1:-}" == "--pipewire" ]]; then
    sound=pipewire
    shift
elif [[ "${1:-}" == "--wayland" ]]; then
    sound=pipewire
    desktop=wayland
    shift
fi
here="$(cd "$(dirname "$0")" && pwd)"
if [[ -n "${restart_sound:-}" ]]; then
    : # the session's programs were checked when it started
elif [[ $desktop == wayland ]]; then
    "$here/check-programs.sh" wayland || exit 1
else
    "$here/check-programs.sh" "$([[ $sound == pipewire ]] && echo pipewire || echo x11)" || exit 1
fi

pids=()
cleanup() {
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
    # A sound server started again by VANTEL_RESTART_SOUND is not among them.
    [[ -s "$session/pipewire-pulse.pid" ]] && kill "$(cat "$session/pipewire-pulse.pid")" 2>/dev/null
    [[ -n "${PULSE_SERVER:-}" ]] && pactl exit >/dev/null 2>&1
    sleep 0.3
    for pid in "${pids[@]}"; do kill -9 "$pid" 2>/dev/null; done
    rm -rf "$session"
}
if [[ -z "${restart_sound:-}" ]]; then
    trap cleanup EXIT
    trap 'exit 130' INT TERM
fi

free_display() {
    local n
    for n in $(seq 90 140); do
        [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] || { echo "$n"; return; }
    done
    return 1
}

start_x() {
    local n
    n="$(free_display)" || { echo "no free X display" >&2; return 1; }
    # -noreset: tests connect and disconnect all the time; a server that resets whenever its
    # last client leaves would refuse connections meanwhile and forget keymaps and monitors.
    Xvfb ":$n" -screen 0 "${VANTEL_SCREEN:-1920x1080x24}" -nolisten tcp -noreset +extension RANDR \
        >"$session/xvfb.log" 2>&1 &
    pids+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
    xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; cat "$session/xvfb.log" >&2; return 1; }
    openbox --sm-disable >"$session/openbox.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.05
    done
    echo "the window manager did not start" >&2
    cat "$session/openbox.log" >&2
    return 1
}

start_dbus() {
    eval "$(dbus-launch --sh-syntax)"
    pids+=("$DBUS_SESSION_BUS_PID")
}

start_pulse() {
    export PULSE_SERVER="unix:$session/pulse.sock"
    export PULSE_RUNTIME_PATH="$session/pulse-runtime"
    export PULSE_STATE_PATH="$session/pulse-state"
    mkdir -p "$PULSE_RUNTIME_PATH" "$PULSE_STATE_PATH"
    # A pid file in the private runtime folder, so that `pulseaudio -k` finds this server.
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=yes \
        --system=false --disable-shm=true \
        --load="module-native-protocol-unix socket=$session/pulse.sock auth-anonymous=1" \
        --load="module-null-sink sink_name=game rate=48000 channels=2" \
        --load="module-null-sink sink_name=mic rate=48000 channels=2" \
        </dev/null >>"$session/pulse.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    pactl info >/dev/null 2>&1 || { echo "PulseAudio did not start" >&2; cat "$session/pulse.log" >&2; return 1; }
    pactl set-default-sink game
    pactl set-default-source mic.monitor
}

# A Secret Service (gnome-keyring) on the session bus, unlocked before any program asks: a
# locked or bus-activated keyring would open a password dialog on the display instead. Its
# keyrings live in the session folder.
start_keyring() {
    local home="$session/keyring"
    mkdir -p "$home/data" "$home/run"
    chmod 700 "$home/run"
    printf 'vantel-session' | env HOME="$home" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home/run" \
        gnome-keyring-daemon --foreground --unlock --components=secrets >"$session/keyring.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null |
            grep -q 'boolean true' && return 0
        sleep 0.05
    done
    echo "gnome-keyring did not start" >&2
    cat "$session/keyring.log" >&2
    return 1
}

# Waits up to 5 s for a command to succeed.
await() {
    for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.05; done
    "$@" >/dev/null 2>&1
}

start_pipewire() {
    # Runtime and state folders of our own: wireplumber remembers default devices and stream
    # targets, which must not leak from one session into the next.
    export XDG_RUNTIME_DIR="$session/run" XDG_STATE_HOME="$session/state"
    export PIPEWIRE_RUNTIME_DIR="$XDG_RUNTIME_DIR"
    export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR" "$XDG_STATE_HOME"
    pipewire >"$session/pipewire.log" 2>&1 &
    pids+=($!)
    await pw-cli info 0 || { echo "PipeWire did not start" >&2; return 1; }
    wireplumber >"$session/wireplumber.log" 2>&1 &
    pids+=($!)
    start_pipewire_pulse
}

# The Pulse server of PipeWire with the session's sinks and defaults. Its pid is in a file of its
# own, as VANTEL_RESTART_SOUND replaces it.
start_pipewire_pulse() {
    pipewire-pulse </dev/null >>"$session/pipewire-pulse.log" 2>&1 &
    echo $! >"$session/pipewire-pulse.pid"
    await pactl info || { echo "pipewire-pulse did not start" >&2; return 1; }
    pactl load-module module-null-sink sink_name=game rate=48000 channels=2 >/dev/null
    pactl load-module module-null-sink sink_name=mic rate=48000 channels=2 >/dev/null
    pactl load-module module-remap-source master=mic.monitor source_name=microphone >/dev/null
    # The defaults are wireplumber's to apply: wait until it has seen the devices.
    await sh -c 'pactl list short sinks | grep -q "^[0-9]*\sgame\s"' || return 1
    await sh -c 'pactl set-default-sink game && pactl get-default-sink | grep -qx game' || {
        echo "wireplumber did not take the default sink" >&2; return 1; }
    await sh -c 'pactl set-default-source microphone &&
        pactl get-default-source | grep -qx microphone' || {
        echo "wireplumber did not take the default source" >&2; return 1; }
}

# sway refuses to run as root: it runs as "nobody" in a runtime folder of its own, and its
# socket is linked into ours, where every other client looks for it.
start_sway() {
    local sway_run="$session/run-sway"
    chmod 711 "$session"
    mkdir -p -m 0700 "$sway_run"
    chown 65534:65534 "$sway_run"
    cat >"$session/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1280x720 position 0 0 bg #204060 solid_color
default_border none
xwayland enable
CONF
    chmod 644 "$session/sway.conf"
    env -u WAYLAND_DISPLAY -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$sway_run" \
        HOME="$sway_run" WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
        WLR_HEADLESS_OUTPUTS=1 setpriv --reuid=65534 --regid=65534 --clear-groups \
        sway -c "$session/sway.conf" >"$session/sway.log" 2>&1 &
    pids+=($!)
    await test -S "$sway_run/wayland-1" || { echo "sway did not start" >&2; return 1; }
    ln -sf "$sway_run/wayland-1" "$XDG_RUNTIME_DIR/wayland-1"
    # A full path: programs under test run with runtime folders of their own.
    export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/wayland-1"
    await sh -c 'ls "$0"/sway-ipc.*.sock' "$sway_run" || { echo "sway has no IPC socket" >&2; return 1; }
    SWAYSOCK="$(ls "$sway_run"/sway-ipc.*.sock | head -n 1)"
    export SWAYSOCK
    await sh -c 'swaymsg -t get_outputs | grep -q "\"width\": 1280"' || {
        echo "sway has no 1280x720 output" >&2; return 1; }
    # A headless seat has no keyboard, and a client binds one only while the seat has it: a
    # virtual keyboard for the whole session, so that keys typed later (wtype) reach windows.
    wtype -s 2000000000 >"$session/keyboard.log" 2>&1 &
    pids+=($!)
    await sh -c 'swaymsg -t get_seats | grep -q "\"capabilities\": [1-9]"' || {
        echo "the session has no keyboard" >&2; return 1; }
}

bus_has() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" | grep -q 'boolean true'
}

# A session bus that starts nothing by itself but the permission store: the default one would
# start a second portal racing ours, the document portal (a FUSE mount) and a keyring.
start_private_bus() {
    local services="$session/dbus-services"
    mkdir -p "$services"
    cp /usr/share/dbus-1/services/org.freedesktop.impl.portal.PermissionStore.service "$services/"
    cat >"$session/dbus-session.conf" <<CONF
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$XDG_RUNTIME_DIR/bus</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    dbus-daemon --config-file="$session/dbus-session.conf" --nofork >"$session/dbus.log" 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$XDG_RUNTIME_DIR/bus"
    await bus_has org.freedesktop.DBus || { echo "the session bus did not start" >&2; return 1; }
}

# xdg-desktop-portal with the wlroots backend. The backend gets the shared-memory shim (see
# xdpw_shm_shim.c) and keeps restore tokens ("permanent"; otherwise it never hands one out).
start_portals() {
    local shim="$session/xdpw-shm-shim.so"
    gcc -shared -fPIC -O2 -o "$shim" "$here/xdpw_shm_shim.c" -ldl -lwayland-client || {
        echo "the portal shim did not build" >&2; return 1; }
    cat >"$session/chooser" <<CHOOSER
#!/bin/sh
echo asked >>"$session/chooser.log"
echo HEADLESS-1
CHOOSER
    chmod 755 "$session/chooser"
    mkdir -p "$XDG_CONFIG_HOME/xdg-desktop-portal-wlr"
    cat >"$XDG_CONFIG_HOME/xdg-desktop-portal-wlr/config" <<CONF
[screencast]
chooser_type=simple
chooser_cmd=$session/chooser
max_fps=60
CONF
    LD_PRELOAD="$shim" XDPW_PERSIST_MODE=permanent /usr/libexec/xdg-desktop-portal-wlr -l ${VANTEL_XDPW_LOG:-INFO} \
        >"$session/xdpw.log" 2>&1 &
    pids+=($!)
    await bus_has org.freedesktop.impl.portal.desktop.wlr || {
        echo "xdg-desktop-portal-wlr did not start" >&2; return 1; }
    /usr/libexec/xdg-desktop-portal -v >"$session/xdp.log" 2>&1 &
    pids+=($!)
    await dbus-send --session --print-reply --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.portal.ScreenCast string:version || {
        echo "xdg-desktop-portal did not start" >&2; return 1; }
}

start_wayland() {
    # Folders of our own: the permission store (restore tokens) and wireplumber's memory must
    # not leak into the next session.
    export XDG_RUNTIME_DIR="$session/run" XDG_STATE_HOME="$session/state"
    export XDG_CONFIG_HOME="$session/config" XDG_DATA_HOME="$session/data"
    export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=wayland
    unset DISPLAY
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
    mkdir -p "$XDG_STATE_HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
    start_sway || return 1
    start_private_bus || return 1
    start_pipewire || return 1
    start_portals || return 1
}

# The restart runs in the caller's process group, outside this script's cleanup: its new server
# is stopped by the session's cleanup (pactl exit, or the pid file) like the first one.
if [[ -n "${restart_sound:-}" ]]; then
    if [[ $restart_sound == pipewire ]]; then
        kill "$(cat "$session/pipewire-pulse.pid")" || exit 1
        await sh -c '! pactl info' || { echo "pipewire-pulse did not stop" >&2; exit 1; }
        start_pipewire_pulse || exit 1
    else
        pulseaudio -k || exit 1
        await sh -c '! pactl info' || { echo "PulseAudio did not stop" >&2; exit 1; }
        start_pulse || exit 1
    fi
    exit 0
fi

session="$(mktemp -d "${TMPDIR:-/tmp}/vantel-session-XXXXXX")"
export VANTEL_SESSION_DIR="$session"
export VANTEL_RESTART_SOUND="$here/session.sh --restart-sound $sound"
if [[ $desktop == wayland ]]; then
    start_wayland || exit 1
else
    start_x || exit 1
    start_dbus || exit 1
    if [[ $sound == pipewire ]]; then
        start_pipewire || exit 1
    else
        start_pulse || exit 1
    fi
    start_keyring || exit 1
fi
"$@"
status=$?
if [[ $status -ne 0 ]]; then
    for log in xvfb openbox pulse pipewire wireplumber pipewire-pulse keyring sway dbus xdpw xdp; do
        [[ -s "$session/$log.log" ]] && { echo "--- $log.log" >&2; tail -n 20 "$session/$log.log" >&2; }
    done
fi
exit $status
