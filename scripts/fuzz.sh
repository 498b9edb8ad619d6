#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, replays every regression input and seed, then
# fuzzes each harness for a short, bounded time from a scratch copy of its seeds (the committed
# corpus never grows here). Exits non-zero when anything crashed.
#
#   FUZZ_SECONDS  seconds of fuzzing per harness (default 20; 0 replays only)
#   FUZZ_BUILD    build folder (default build-fuzz)
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-20}"
build="${FUZZ_BUILD:-build-fuzz}"
harnesses=(meta edits window_crop tracks)
# Builds share two cores with other work on this machine; one at a time.
lock=/tmp/qv-build.lock

started=$SECONDS
flock "$lock" cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DQV_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null || exit 1
flock "$lock" cmake --build "$build" --target fuzzers -j2 || exit 1
echo "fuzz.sh: built in $((SECONDS - started)) s"

# Undefined behaviour is fatal in the build already; these make the reports complete.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

artifacts="$build/fuzz-artifacts"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

failed=()
declare -A executions

# Each file on its own, so that one crash does not hide the next.
replay() {
    local name="$1" folder="$2" binary="$build/fuzz/fuzz_$1" log="$scratch/replay.log" file
    [ -d "$folder" ] || return 0
    local count=0 bad=0
    for file in "$folder"/*; do
        [ -f "$file" ] || continue
        count=$((count + 1))
        if ! "$binary" "$file" >"$log" 2>&1; then
            bad=$((bad + 1))
            failed+=("$name: replay of $file")
            echo "FAIL  $name  $file"
            grep -E 'ERROR|runtime error|property does not hold|terminate called|what\(\)' "$log" |
                head -3 | sed 's/^/      /'
            grep -E '^ +#[0-9]+ ' "$log" | grep -v -E 'libFuzzer|fuzzer::|libc\.so|_start' |
                head -6 | sed 's/^/      /'
        fi
    done
    echo "replay $name: $count files from $folder, $bad failed"
}

for name in "${harnesses[@]}"; do
    replay "$name" "fuzz/regressions/$name"
    replay "$name" "fuzz/corpus/$name"
done

if [ "$seconds" -gt 0 ]; then
    for name in "${harnesses[@]}"; do
        corpus="$scratch/corpus-$name"
        rm -rf "$artifacts/$name"
        mkdir -p "$corpus" "$artifacts/$name"
        cp fuzz/corpus/"$name"/* "$corpus"/
        # Regression inputs hold the edge values worth mutating, once they no longer crash.
        if ! printf '%s\n' "${failed[@]}" | grep -q "^$name: "; then
            cp fuzz/regressions/"$name"/* "$corpus"/ 2>/dev/null
        fi
        log="$scratch/fuzz-$name.log"
        echo "fuzz $name for ${seconds}s"
        "$build/fuzz/fuzz_$name" "$corpus" -dict=fuzz/json.dict -max_total_time="$seconds" \
            -timeout=10 -print_final_stats=1 -artifact_prefix="$artifacts/$name/" >"$log" 2>&1
        status=$?
        executions[$name]="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
        if [ "$status" -ne 0 ]; then
            failed+=("$name: fuzzing (exit $status)")
            echo "FAIL  fuzz $name, last lines of its log:"
            tail -40 "$log" | sed 's/^/      /'
            ls "$artifacts/$name" | sed "s|^|      artifact: $artifacts/$name/|"
        fi
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
            "$log" | sed 's/^/      /'
    done
    echo "executions per harness:"
    for name in "${harnesses[@]}"; do
        printf '  %-12s %s\n' "$name" "${executions[$name]:-none}"
    done
fi

echo "fuzz.sh: $((SECONDS - started)) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz.sh: ${#failed[@]} failure(s):"
    printf '  %s\n' "${failed[@]}"
    exit 1
fi
echo "fuzz.sh: no crashes"
