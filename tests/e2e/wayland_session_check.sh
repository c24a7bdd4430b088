#!/usr/bin/env bash
# Inside tests/e2e/session.sh --wayland: the session every Wayland test relies on is whole. The
# compositor shows its 1280x720 background, the portal offers a monitor screen cast with the
# cursor hidden or embedded, the sound server has the session's sinks as defaults, and nothing
# leaked in from the X11 session.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }

[[ -z "${DISPLAY:-}" ]] || fail "DISPLAY is set: $DISPLAY"
[[ "$XDG_SESSION_TYPE" == wayland ]] || fail "XDG_SESSION_TYPE is $XDG_SESSION_TYPE"

shot="$(mktemp --suffix=.png)"
trap 'rm -f "$shot"' EXIT
grim -o HEADLESS-1 "$shot"
size="$(identify -format '%wx%h' "$shot")"
[[ "$size" == 1280x720 ]] || fail "the output is $size"
pixel="$(convert "$shot" -format '%[pixel:p{640,360}]' info:)"
[[ "$pixel" == "srgb(32,64,96)" ]] || fail "the background is $pixel"

portal() {
    dbus-send --session --print-reply=literal --dest=org.freedesktop.portal.Desktop \
        /org/freedesktop/portal/desktop org.freedesktop.DBus.Properties.Get \
        string:org.freedesktop.portal.ScreenCast "string:$1" | awk '{print $NF}'
}
[[ "$(portal AvailableSourceTypes)" == 1 ]] || fail "source types: $(portal AvailableSourceTypes)"
[[ "$(portal AvailableCursorModes)" == 3 ]] || fail "cursor modes: $(portal AvailableCursorModes)"

[[ "$(pactl get-default-sink)" == game ]] || fail "default sink: $(pactl get-default-sink)"
[[ "$(pactl get-default-source)" == microphone ]] || fail "default source: $(pactl get-default-source)"
echo "wayland session ok"
