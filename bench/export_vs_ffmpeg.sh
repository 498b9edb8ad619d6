#!/usr/bin/env bash
# Export speed against a plain transcode. A 10-second 1920x1080 30 fps synthetic recording (the
# demo's desktop with typing, a dragged window, pointer, clicks, keys and microphone, exported
# with the default look) goes through `quillvane export --preset compact`; in the same run the
# ffmpeg command transcodes the same screen video and microphone with the encoder settings that
# `compact` uses (libx264 veryfast, crf 23, High profile, automatic threads; AAC 128 kb/s; see
# docs/export.md). Each side runs three times, interleaved; the median times count.
#
# Prints the peak memory of the export, the frames per second of every preset, of a compact
# export with the demo's 1280x720 webcam as a bubble with its background removed, and of a
# compact export whose document has a blur mask for 2 of its 10 seconds (beside the same export
# without it), and as its last line "ratio R": export time divided by transcode time (without
# the webcam).
#
# Run from the repository root; QV_BUILD_DIR names the build folder (default: build).
set -euo pipefail

build_dir="${QV_BUILD_DIR:-build}"
quillvane="$build_dir/Quillvane/quillvane"
if [ ! -x "$quillvane" ]; then
  echo "export_vs_ffmpeg: $quillvane not found; build first (cmake --build $build_dir)" >&2
  exit 1
fi
for tool in ffmpeg ffprobe /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "export_vs_ffmpeg: $tool is needed" >&2; exit 1; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/qv-bench-XXXXXX")"
trap 'rm -rf "$work"' EXIT
export QUILLVANE_LOG=error

"$quillvane" demo --recording-only --no-edits --size 1920x1080 --seconds 10 --fps 30 \
  -o "$work" > /dev/null
recording="$work/recording"
# A copy keeps the camera for the webcam line: bubble on, background removed.
[ -f "$recording/webcam.mp4" ] || { echo "export_vs_ffmpeg: the demo recording has no webcam" >&2; exit 1; }
mkdir -p "$work/cam"
cp -r "$recording" "$work/cam/recording"
camera="$work/cam/recording"
cat > "$camera/edits.json" << 'EDITS'
{"scene": {"webcamPosition": "corner-br", "webcamShape": "circle", "webcamSize": 0.3,
           "webcamRemoveBackground": true}}
EDITS
# The comparison with the transcode leaves the camera out: ffmpeg does not draw one either.
rm "$recording/webcam.mp4"
sed -i 's/"hasWebcam": *true/"hasWebcam": false/' "$recording/meta.json"
# A copy with a blur mask from 4 s to 6 s, over a fifth of the screen; the look is otherwise the
# default, as for the plain recording.
mkdir -p "$work/blur"
cp -r "$recording" "$work/blur/recording"
blurred="$work/blur/recording"
cat > "$blurred/edits.json" << 'EDITS'
{"masks": [{"id": "secret", "startMs": 4000, "endMs": 6000, "style": "blur",
            "keyframes": [{"tMs": 0, "x": 0.5, "y": 0.2, "width": 0.4, "height": 0.5}]}]}
EDITS
frames="$(ffprobe -v error -count_frames -select_streams v:0 \
  -show_entries stream=nb_read_frames -of csv=p=0 "$recording/screen.mp4")"
echo "recording: 1920x1080, 30 fps, $frames frames"

# Runs a command under /usr/bin/time; prints "seconds peak-kilobytes".
timed() {
  /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt" || {
    cat "$work/stderr.txt" >&2
    return 1
  }
  cat "$work/time.txt"
}

median() { sort -g | sed -n '2p'; }

export_times=()
ffmpeg_times=()
peak_kb=0
for run in 1 2 3; do
  result="$(timed "$quillvane" export "$recording" --preset compact -o "$work/export.mp4")"
  read -r seconds kb <<< "$result"
  export_times+=("$seconds")
  [ "$kb" -gt "$peak_kb" ] && peak_kb="$kb"
  result="$(timed ffmpeg -v error -y -i "$recording/screen.mp4" \
    -i "$recording/mic.m4a" -map 0:v:0 -map 1:a:0 \
    -c:v libx264 -preset veryfast -crf 23 -profile:v high -threads 0 \
    -c:a aac -b:a 128k -movflags +faststart "$work/transcode.mp4")"
  read -r seconds kb <<< "$result"
  ffmpeg_times+=("$seconds")
  echo "run $run: export ${export_times[-1]} s, transcode $seconds s"
done
export_s="$(printf '%s\n' "${export_times[@]}" | median)"
ffmpeg_s="$(printf '%s\n' "${ffmpeg_times[@]}" | median)"

for preset in web compact proRes hevc; do
  extension=mp4
  [ "$preset" = proRes ] && extension=mov
  result="$(timed "$quillvane" export "$recording" --preset "$preset" \
    -o "$work/preset.$extension")"
  read -r seconds kb <<< "$result"
  [ "$preset" = compact ] && compact_s="$seconds"
  awk -v p="$preset" -v f="$frames" -v s="$seconds" -v k="$kb" \
    'BEGIN { printf "preset %-8s %6.1f fps  (%.2f s, peak %d MB)\n", p, f / s, s, k / 1024 }'
done

result="$(timed "$quillvane" export "$camera" --preset compact -o "$work/camera.mp4")"
read -r seconds kb <<< "$result"
cam_size="$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=s=x:p=0 \
  "$camera/webcam.mp4")"
awk -v f="$frames" -v s="$seconds" -v k="$kb" -v c="$cam_size" \
  'BEGIN { printf "webcam compact %6.1f fps  (%s camera, bubble, background removed; %.2f s, peak %d MB)\n", f / s, c, s, k / 1024 }'

result="$(timed "$quillvane" export "$blurred" --preset compact -o "$work/blurred.mp4")"
read -r seconds kb <<< "$result"
awk -v f="$frames" -v s="$seconds" -v c="$compact_s" \
  'BEGIN { printf "blur compact   %6.1f fps  (blur mask for 2 s of 10; %.2f s; without it %.1f fps, %.2f s)\n", f / s, s, f / c, c }'

awk -v s="$export_s" -v k="$peak_kb" 'BEGIN { printf "export compact: %.2f s (median of 3), peak memory %d MB\n", s, k / 1024 }'
awk -v s="$ffmpeg_s" 'BEGIN { printf "ffmpeg transcode: %.2f s (median of 3)\n", s }'
awk -v e="$export_s" -v f="$ffmpeg_s" 'BEGIN { printf "ratio %.2f\n", e / f }'
