#!/usr/bin/env bash
# Sets up the machine, builds the plugin and its tests, and runs every test: once in the
# release build and once with the address and undefined-behaviour sanitizers; then fuzzes the
# multistatus parser for a minute.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

# Tests must not leave files in the source tree.
tree_state() { git status --porcelain --untracked-files=all 2>/dev/null | grep -v -E '^\?\? build(-[a-z]+)?/' || true; }
before=$(tree_state)

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@"
    cmake --build "$dir" -j2
    ctest --test-dir "$dir" -j2 --output-on-failure --timeout 300
}

run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DVODAREZAZUV_SANITIZE=ON

# A short libFuzzer run over the multistatus parser, seeded with the fixture bodies. A crash,
# a leak, a sanitizer report or a hang fails the command; the input is kept in build-fuzz/.
fuzz_multistatus() {
    cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DVODAREZAZUV_FUZZ=ON -DVODAREZAZUV_TESTS=OFF \
        -DVODAREZAZUV_BENCH=OFF
    cmake --build build-fuzz -j2 --target multistatus_fuzzer
    mkdir -p build-fuzz/corpus
    if ! build-fuzz/fuzz/multistatus_fuzzer -max_total_time=60 -max_len=16384 -timeout=10 \
        -rss_limit_mb=2048 -dict=fuzz/multistatus.dict -artifact_prefix=build-fuzz/ \
        build-fuzz/corpus tests/data/multistatus >build-fuzz/fuzz.log 2>&1; then
        tail -n 80 build-fuzz/fuzz.log
        echo "The multistatus fuzzer failed; see build-fuzz/fuzz.log and the input in build-fuzz/."
        exit 1
    fi
    grep -E '^Done [0-9]+ runs' build-fuzz/fuzz.log || tail -n 1 build-fuzz/fuzz.log
}
fuzz_multistatus
if [ "$(tree_state)" != "$before" ]; then
    echo "The tests changed the source tree:"
    diff <(echo "$before") <(tree_state) || true
    exit 1
fi
echo "All tests passed."
