#!/usr/bin/env bash
# Fuzzes every parser of outside data (make fuzz): builds the fuzz preset (clang's libFuzzer with
# AddressSanitizer + UBSan), runs each target for FUZZ_SECONDS (default 60) on its seeds and on the
# corpus grown by earlier runs, then replays that corpus once more to measure the line coverage of
# the target's own source files. Prints executions, coverage and findings per target, and fails
# on any finding: a crash, a broken invariant, a leak, a timeout, running out of memory, or the
# process ending inside a library. Findings are kept in build/fuzz/findings/<target>/; once mended,
# copy each into fuzz/crashes/<target>/, which the tests replay.
#
# FUZZ_SECONDS=N  seconds per target      FUZZ_TARGETS="a b"  only these targets
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"dictionary transcript settings model_files stamps terms chat_reply audio engine"}

# The compiler, its fuzzing runtime and the coverage tools, besides what the build needs anyway.
scripts/setup.sh
missing=()
for pkg in clang-14 llvm-14 libclang-rt-14-dev; do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=()
    if [ "$(id -u)" != 0 ]; then sudo_cmd=(sudo); fi
    echo "fuzz: installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

bin="$root/build/fuzz/fuzz"
out="$root/build/fuzz"
mkdir -p "$out/work" "$out/findings" "$out/logs" "$out/coverage"

# What each target reads besides the defaults, and the source files whose coverage it reports.
options() {
    case "$1" in
    dictionary) echo "-max_len=4096" ;;
    transcript) echo "-max_len=4096" ;;
    settings) echo "-max_len=65536" ;;
    audio) echo "-max_len=65536" ;;
    # A recogniser is created for every input: larger and slower than the other targets.
    engine) echo "-rss_limit_mb=4096 -timeout=60" ;;
    *) echo "" ;;
    esac
}
# ASan's options for a target: the runtime asks for what a damaged model declares, and in the program
# an allocation too large for the machine fails and is reported, not a sanitizer error.
asan_options() {
    case "$1" in
    engine) echo "allocator_may_return_null=1" ;;
    *) echo "" ;;
    esac
}
sources() {
    case "$1" in
    dictionary) echo "src/text/Vocabulary.cpp" ;;
    transcript) echo "src/text/Transcript.cpp" ;;
    settings) echo "src/core/Defaults.cpp src/core/AtomicFile.cpp" ;;
    model_files) echo "src/speech/ModelFiles.cpp src/speech/OnnxModel.cpp" ;;
    stamps) echo "src/speech/ModelStamps.cpp" ;;
    terms) echo "src/text/Vocabulary.cpp src/speech/ModelFiles.cpp" ;;
    chat_reply) echo "src/text/ChatReply.cpp" ;;
    audio) echo "src/speech/AudioFile.cpp" ;;
    engine) echo "src/speech/Engine.cpp src/speech/ModelFiles.cpp src/speech/OnnxModel.cpp" ;;
    esac
}

export LSAN_OPTIONS="suppressions=$root/fuzz/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
summary=()
for target in $targets; do
    work="$out/work/$target"
    findings="$out/findings/$target"
    log="$out/logs/$target.log"
    rm -rf "$findings"
    mkdir -p "$work" "$findings"
    seeds=()
    for dir in "fuzz/corpus/$target" "fuzz/crashes/$target" "$bin/generated/$target"; do
        [ -d "$dir" ] && seeds+=("$dir")
    done
    echo "== fuzzing $target for $seconds s"
    set +e
    # shellcheck disable=SC2046
    ASAN_OPTIONS="$(asan_options "$target")" RUVEX_FUZZ_IN_FLIGHT="$findings/in-flight" LLVM_PROFILE_FILE=/dev/null \
        "$bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" \
        $(options "$target") "$work" "${seeds[@]}" >"$log" 2>&1
    result=$?
    set -e
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    found=$(find "$findings" -type f | wc -l)
    if [ "$result" != 0 ] || [ "$found" != 0 ]; then
        status=1
        echo "!! $target: exit status $result, $found finding(s) in $findings; log: $log"
        grep -E 'ERROR|invariant broken|SUMMARY' "$log" | head -5 || true
    fi

    # Line coverage of the target's own files over everything the corpus now holds.
    profile="$out/coverage/$target"
    rm -f "$profile".prof*
    set +e
    # shellcheck disable=SC2046
    ASAN_OPTIONS="$(asan_options "$target")" LLVM_PROFILE_FILE="$profile.profraw" "$bin/fuzz_$target" -runs=0 $(options "$target") "$work" "${seeds[@]}" \
        >"$out/logs/$target.coverage.log" 2>&1
    set -e
    coverage=""
    if [ -f "$profile.profraw" ] && llvm-profdata-14 merge -sparse "$profile.profraw" -o "$profile.profdata"; then
        # shellcheck disable=SC2046
        coverage=$(llvm-cov-14 report "$bin/fuzz_$target" -instr-profile="$profile.profdata" $(sources "$target") |
            awk '$1 ~ /\.cpp$/ { n = split($1, p, "/"); printf "%s %s  ", p[n], $10 }')
    fi
    summary+=("$(printf '%-12s %10s runs  %6s edges  %3s findings  lines: %s' "$target" "${executions:-?}" \
        "${edges:-?}" "$found" "$coverage")")
done

echo
echo "== fuzzing summary ($seconds s per target)"
printf '%s\n' "${summary[@]}"
exit $status
