#!/usr/bin/env bash
# Peak memory of an export whose document has many cuts: every segment's instruction shares the
# one document, so memory grows with the document, not with its square.
# usage: bench/cuts_memory.sh [build-dir] [cuts...]   (default: build 10000 100000)
set -euo pipefail
build=${1:-build}
shift || true
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(10000 100000)
bin="$build/Quillvane/quillvane"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for n in "${counts[@]}"; do
    rec="$work/rec-$n"
    mkdir -p "$rec"
    # Two milliseconds of source per cut: one kept, one cut.
    seconds=$(( (2 * n + 999) / 1000 + 1 ))
    ffmpeg -v error -f lavfi -i "testsrc=size=64x48:rate=10:duration=$seconds" \
        -pix_fmt yuv420p -c:v libx264 -preset ultrafast "$rec/screen.mp4"
    printf '{"id":"rec-%s","durationMs":%s,"width":64,"height":48}\n' "$n" $((seconds * 1000)) \
        > "$rec/meta.json"
    python3 - "$n" > "$rec/edits.json" <<'PY'
import json, sys
n = int(sys.argv[1])
print(json.dumps({"cuts": [{"startMs": 2 * i + 1, "endMs": 2 * i + 2} for i in range(n)]}))
PY
    /usr/bin/time -v "$bin" export "$rec" --preset compact -o "$work/out-$n.mp4" \
        > "$work/log-$n.txt" 2>&1 || { cat "$work/log-$n.txt"; exit 1; }
    peak=$(grep 'Maximum resident set size' "$work/log-$n.txt" | awk '{print $NF}')
    wall=$(grep 'Elapsed (wall clock)' "$work/log-$n.txt" | awk '{print $NF}')
    echo "cuts=$n peak_rss_mb=$((peak / 1024)) wall=$wall"
done
