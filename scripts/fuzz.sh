#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz (or $TAVELO_FUZZ_BUILD_DIR) and runs
# each one: first once over its saved regression inputs and over big inputs (512 KiB each)
# that make a quadratic parser time out, then fuzzing for SECONDS seconds from its seed corpus.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]      SECONDS defaults to 30, TARGETs to all of them
#
# A crash, a sanitizer report, a broken property or a timeout (10 s for one input) fails the run;
# the input is kept in build-fuzz/artifacts/<target>/. Once fixed, it goes to
# fuzz/regressions/<target>/ so that every later run replays it.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_FUZZ_BUILD_DIR:-$here/build-fuzz}"
seconds="${1:-30}"
[ $# -gt 0 ] && shift

# libFuzzer ships with clang's run-time libraries (Debian 12: clang 14).
"$here/scripts/deps.sh" clang-14 libclang-rt-14-dev

cmake -S "$here/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build "$build" --parallel

if (($#)); then
    targets=("$@")
else
    targets=()
    for source in "$here"/fuzz/fuzz_*.cpp; do
        name="$(basename "$source" .cpp)"
        targets+=("${name#fuzz_}")
    done
fi

rm -rf "$build/big"
python3 "$here/fuzz/big_inputs.py" "$here/fuzz" "$build/big"

dictionary_of() {
    case "$1" in
        decode_text | header_reply | first_lines | recipients | rules) echo "$here/fuzz/dict/headers.dict" ;;
        list_reply | uidl_reply | capa_stat | reply_assembler) echo "$here/fuzz/dict/pop3.dict" ;;
        accounts_data | account_access | filters_data) echo "$here/fuzz/dict/datafiles.dict" ;;
        preview) echo "$here/fuzz/dict/mime.dict" ;;
    esac
}

passed=0
failed=()
for target in "${targets[@]}"; do
    binary="$build/fuzz_$target"
    artifacts="$build/artifacts/$target/"
    work="$build/corpus/$target"
    log="$build/logs/$target"
    mkdir -p "$artifacts" "$work" "$build/logs"
    common=(-timeout=10 -rss_limit_mb=4096 "-artifact_prefix=$artifacts")

    started=$SECONDS
    inputs=()
    shopt -s nullglob
    inputs+=("$here/fuzz/regressions/$target"/* "$build/big/$target"/*)
    shopt -u nullglob
    if ((${#inputs[@]})) && ! "$binary" "${common[@]}" "${inputs[@]}" >"$log.replay" 2>&1; then
        echo "FAIL $target: a regression or big input fails (log: $log.replay)"
        grep -E 'Running:|ERROR|SUMMARY|property does not hold' "$log.replay" | tail -n 6
        failed+=("$target")
        continue
    fi

    dictionary="$(dictionary_of "$target")"
    # New inputs go to the work corpus in the build directory; the seeds in the repository stay as they are.
    if ! "$binary" "${common[@]}" ${dictionary:+"-dict=$dictionary"} -max_total_time="$seconds" -print_final_stats=1 \
        "$work" "$here/fuzz/corpus/$target" >"$log" 2>&1; then
        echo "FAIL $target: the fuzzer found a failing input (log: $log; input in $artifacts)"
        grep -E 'ERROR|SUMMARY|property does not hold|Test unit written' "$log" | tail -n 6
        failed+=("$target")
        continue
    fi
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    coverage="$(grep -Eo 'cov: [0-9]+' "$log" | tail -n 1)"
    echo "ok   $target: ${#inputs[@]} inputs replayed, $runs fuzzed, $coverage ($((SECONDS - started)) s)"
    passed=$((passed + 1))
done

echo "fuzz: $passed passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
