#!/usr/bin/env bash
# The application's figures: start to a visible window, and its resident memory with a
# 10-minute 1920x1080 recording open, playing (with its sound, into a private PulseAudio
# daemon's null sink) and scrubbed, under a private Xvfb. Goals: under 1 s to the window, under
# 400 MB of memory.
#
# Arguments: the recording's minutes (default 10) and the seconds to play (default 20).
# QV_RECORDING names a recording folder to use instead of writing the demo (writing a 10-minute
# 1080p demo takes a few minutes). Run from the repository root; QV_BUILD_DIR names the build
# folder (default: build), which needs the quillvane and app_figures targets. QV_PROFILER runs
# the program under a profiler.
set -euo pipefail

minutes="${1:-10}"
play_seconds="${2:-20}"
build_dir="${QV_BUILD_DIR:-build}"
quillvane="$build_dir/Quillvane/quillvane"
figures="$build_dir/bench/app_figures"
for f in "$quillvane" "$figures"; do
  [ -x "$f" ] || { echo "app_figures: $f not found; build first" >&2; exit 1; }
done
for tool in Xvfb pulseaudio pactl; do
  command -v "$tool" > /dev/null || { echo "app_figures: $tool is needed" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/qv-app-bench-XXXXXX")"
pids=()
source "$(dirname "$0")/private_session.sh"
trap cleanup_private_session EXIT
export QUILLVANE_LOG=error QUILLVANE_LIBRARY="$work/library" QUILLVANE_SETTINGS="$work/settings.json"
export HOME="$work" XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY XDG_SESSION_TYPE
mkdir -p "$work/library/recordings" "$work/runtime" && chmod 700 "$work/runtime"
echo '{"onboardingComplete": true, "showFrameRate": true}' > "$QUILLVANE_SETTINGS"

if [ -n "${QV_RECORDING:-}" ]; then
  cp -r "$QV_RECORDING" "$work/library/recordings/recording"
else
  echo "writing a ${minutes}-minute 1920x1080 demo recording"
  "$quillvane" demo -o "$work/demo" --recording-only --size 1920x1080 \
    --seconds $((minutes * 60)) --fps 30 > "$work/demo.log" 2>&1 \
    || { cat "$work/demo.log" >&2; exit 1; }
  mv "$work/demo/recording" "$work/library/recordings/recording"
fi

start_private_xvfb

start_private_pulse

# QV_PROFILER runs the program under a profiler, e.g. QV_PROFILER="heaptrack -o /tmp/app".
${QV_PROFILER:-} "$figures" "$play_seconds"
