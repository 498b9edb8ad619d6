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
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
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

exec 3> "$work/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 2> /dev/null &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"

mkdir -p "$work/pulse"
HOME="$work/pulse" XDG_RUNTIME_DIR="$work/pulse" PULSE_RUNTIME_PATH="$work/pulse" \
  PULSE_STATE_PATH="$work/pulse" pulseaudio -n --daemonize=no --exit-idle-time=-1 \
  --disable-shm=true --use-pid-file=false -L "module-null-sink sink_name=qvnull" \
  -L "module-native-protocol-unix socket=$work/pulse/native auth-anonymous=1" 2> /dev/null &
pids+=($!)
export PULSE_SERVER="unix:$work/pulse/native"
for _ in $(seq 100); do pactl info > /dev/null 2>&1 && break; sleep 0.1; done

# QV_PROFILER runs the program under a profiler, e.g. QV_PROFILER="heaptrack -o /tmp/app".
${QV_PROFILER:-} "$figures" "$play_seconds"
