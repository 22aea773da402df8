#!/usr/bin/env bash
# Checks that the test rig provides what the tests rely on.
set -euo pipefail
fail() { echo "rig_check: $*" >&2; exit 1; }

[[ -n ${MUREL_RIG_ROOT:-} ]] || fail "not running inside scripts/rig"
case "$HOME" in "$MUREL_RIG_ROOT"/*) ;; *) fail "HOME is not a temporary folder: $HOME" ;; esac

extensions="$(xdpyinfo -display "$DISPLAY" | sed -n '/number of extensions/,/default screen/p')"
grep -q XInputExtension <<<"$extensions" || fail "X server lacks XInputExtension"
grep -q XTEST <<<"$extensions" || fail "X server lacks XTEST"
grep -q XFIXES <<<"$extensions" || fail "X server lacks XFIXES"

dbus-send --session --dest=org.freedesktop.DBus --print-reply /org/freedesktop/DBus \
  org.freedesktop.DBus.ListNames >/dev/null || fail "no D-Bus session"

sources="$(pactl list short sources)"
grep -q murel_test_mic <<<"$sources" || fail "no test microphone: $sources"
grep -q murel_test_sink.monitor <<<"$sources" || fail "no null sink"
[[ -p $MUREL_TEST_MIC_FIFO ]] || fail "no microphone fifo at $MUREL_TEST_MIC_FIFO"

# A device can be plugged and unplugged.
module="$(pactl load-module module-null-sink sink_name=rig_check_plug)"
pactl list short sinks | grep -q rig_check_plug || fail "plugging a device failed"
pactl unload-module "$module"
echo "rig ok"
