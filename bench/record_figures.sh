#!/usr/bin/env bash
# The recorder's figures: a 1920x1080 30 fps recording with the microphone and input, under a
# private Xvfb and PulseAudio daemon. A test client (build/tests/colour_window) fills the screen,
# moves a band of stripes across its top quarter 30 times a second, and on every click swaps its
# colour and plays a tone into the null sink that the recorder listens to; xdotool clicks it
# every two seconds.
#
# Prints the frames written and dropped, the recorder's average CPU (user + system time over the
# wall time, in cores), and for each click the distance from its tMs to the first frame showing
# the new colour, then the largest. Arguments: the seconds to record (default 60).
#
# Run from the repository root; QV_BUILD_DIR names the build folder (default: build), which needs
# the quillvane and colour_window targets.
set -euo pipefail

seconds="${1:-60}"
build_dir="${QV_BUILD_DIR:-build}"
quillvane="$build_dir/Quillvane/quillvane"
client="$build_dir/tests/colour_window"
for f in "$quillvane" "$client"; do
  [ -x "$f" ] || { echo "record_figures: $f not found; build first" >&2; exit 1; }
done
for tool in Xvfb pulseaudio parec xdotool ffmpeg ffprobe python3 /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "record_figures: $tool is needed" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/qv-record-bench-XXXXXX")"
pids=()
source "$(dirname "$0")/private_session.sh"
trap cleanup_private_session EXIT
export QUILLVANE_LOG=error QUILLVANE_LIBRARY="$work/library"
unset WAYLAND_DISPLAY XDG_SESSION_TYPE

start_private_xvfb -extension SECURITY -noreset

start_private_pulse

mkfifo "$work/client-in"
"$client" 0 0 1920 1080 tone busy < "$work/client-in" > "$work/client-out" &
pids+=($!)
exec 4> "$work/client-in"
# The null sink delivers sound in real time only once a stream has asked for a short latency.
for _ in $(seq 20); do
  bytes=$( (timeout 0.5 parec -d qvnull.monitor --format=s16le --rate=48000 --channels=1 \
    --latency-msec=20 || true) | wc -c)
  [ "$bytes" -ge 33600 ] && break
done

/usr/bin/time -f "%U %S %e" -o "$work/time" "$quillvane" record --mic qvnull.monitor \
  --seconds "$seconds" --id bench > "$work/record-out" 2> "$work/record-err" &
recorder=$!
for _ in $(seq 100); do grep -q "^recording" "$work/record-out" && break; sleep 0.1; done
sleep 1
end=$((SECONDS + seconds - 2))
while [ $SECONDS -lt $end ]; do
  xdotool click 1
  sleep 2
done
wait $recorder || { cat "$work/record-err" >&2; exit 1; }
exec 4>&-

folder="$work/library/recordings/bench"
grep -E "^wrote" "$work/record-out"
read -r user system wall < "$work/time"
python3 - "$user" "$system" "$wall" << 'PY'
import sys
user, system, wall = map(float, sys.argv[1:])
print(f"recorder CPU: {(user + system) / wall:.2f} cores ({user:.1f} s user, {system:.1f} s system, {wall:.1f} s wall)")
PY

# The centre pixel's luma of every frame with its time, then the click-to-picture distances.
ffprobe -v error -select_streams v -show_entries frame=pts_time -of csv=p=0 \
  "$folder/screen.mp4" > "$work/times"
ffmpeg -v error -i "$folder/screen.mp4" -vf "crop=2:2:959:539,format=gray" -fps_mode passthrough \
  -f rawvideo - > "$work/luma"
python3 - "$work/times" "$work/luma" "$folder/clicks.json" << 'PY'
import json, sys
times = [float(t.split(",")[0]) * 1000 for t in open(sys.argv[1]).read().split()]
luma = open(sys.argv[2], "rb").read()[::4]
clicks = [c["tMs"] for c in json.load(open(sys.argv[3]))["clicks"]]
changes = [times[i] for i in range(1, min(len(times), len(luma)))
           if (luma[i] > 128) != (luma[i - 1] > 128)]
print(f"{len(clicks)} clicks, {len(changes)} colour changes")
worst = 0
for i, (c, f) in enumerate(zip(clicks, changes)):
    worst = max(worst, abs(f - c))
    print(f"click {i}: tMs {c}, picture {f:.1f} ms, distance {f - c:+.1f} ms")
print(f"largest click-to-picture distance: {worst:.1f} ms")
PY
