#!/usr/bin/env bash
# Builds the native tree under the sanitizer presets and runs the whole
# native test suite under each:
#   asan  AddressSanitizer + UndefinedBehaviorSanitizer (build/asan)
#   tsan  ThreadSanitizer (build/tsan)
#
#   scripts/sanitize.sh [PRESET...]     (default: asan tsan)
#
# Ends with "N passed, M failed" over all presets and exits non-zero when a
# build failed or any test failed, crashed or drew a sanitizer report (the
# sanitizers make the test process exit non-zero, so ctest counts it failed).
#
# libsodium, libqrencode and libavahi come from Debian and are not
# instrumented; TSan reports that come only from inside them are listed,
# with the reason, in tests/tsan.supp.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
readonly ROOT=$PWD
readonly JOBS=${SANITIZE_JOBS:-2}


step() { printf '\n==> %s\n' "$*"; }

log() { echo "sanitize: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"

presets=("$@")
[[ ${#presets[@]} -gt 0 ]] || presets=(asan tsan)

# Every report fails the test that drew it. Leaks are reported at exit.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-suppressions=$ROOT/tests/tsan.supp:second_deadlock_stack=1:history_size=4}

passed=0
failed=0
problems=()
lines=()

problem() {
    problems+=("$1")
    failed=$((failed + 1))
}

run_preset() {
    local preset=$1 dir=$ROOT/build/$1 t0=$SECONDS
    step "$preset build (build/$preset)"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build "$dir" --parallel "$JOBS"; then
        problem "the $preset build failed"
        lines+=("$preset: build failed after $((SECONDS - t0)) s")
        return 0
    fi
    local built=$SECONDS
    step "$preset tests (ctest -j$JOBS)"
    local log=$dir/ctest.log rc=0
    ctest --test-dir "$dir" --parallel "$JOBS" --output-on-failure 2>&1 | tee "$log" || rc=$?
    local line bad total
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1) || true
    if [[ -z $line ]]; then
        problem "$preset: ctest gave no summary (exit $rc)"
        lines+=("$preset: no test summary")
        return 0
    fi
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [[ $rc == 0 || $bad != 0 ]] || problem "$preset: ctest exited with $rc"
    lines+=("$preset: $((total - bad)) passed, $bad failed (build $((built - t0)) s, tests $((SECONDS - built)) s)")
}

ensure_packages "${KORVEX_NATIVE_PACKAGES[@]}" "${KORVEX_NATIVE_TEST_PACKAGES[@]}"
started=$SECONDS
for preset in "${presets[@]}"; do run_preset "$preset"; done

echo
for p in "${problems[@]+"${problems[@]}"}"; do echo "failed: $p"; done
for l in "${lines[@]}"; do echo "$l"; done
echo "Took $((SECONDS - started)) s"
echo "sanitize: $passed passed, $failed failed"
[[ $failed == 0 && ${#problems[@]} == 0 ]]
