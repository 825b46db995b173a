#!/usr/bin/env bash
# Sets up the machine, builds the plugin and its tests, and runs every test: once in the
# release build and once with the address and undefined-behaviour sanitizers.
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
if [ "$(tree_state)" != "$before" ]; then
    echo "The tests changed the source tree:"
    diff <(echo "$before") <(tree_state) || true
    exit 1
fi
echo "All tests passed."
