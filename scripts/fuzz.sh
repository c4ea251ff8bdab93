#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, ASan + UBSan, build/fuzz) and
# runs each one for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# SECONDS_PER_TARGET defaults to 30. Targets run two at a time (FUZZ_JOBS,
# default 2). Each target starts from seeds made by the project's own
# encoders (korvex_fuzz_seeds, written fresh every run), the corpus it built
# up in earlier runs (build/fuzz/corpus/TARGET) and the inputs that once
# crashed it (tests/fixtures/fuzz/TARGET), which therefore replay every run.
#
# Prints each target's executions and coverage (cov: edges, ft: features),
# ends with "N passed, M failed" and exits non-zero when any target crashed,
# leaked, hung or broke an invariant; the input that did is kept under
# build/fuzz/artifacts/TARGET/ and the log under build/fuzz/logs/.
#
# Debian 12's default clang (14) cannot compile the tree: with libstdc++ 12
# it does not get std::expected. Debian's clang-19 can; it is installed with
# its libFuzzer runtime (libclang-rt-19-dev) when missing.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
readonly ROOT=$PWD
readonly SECONDS_PER_TARGET=${1:-30}
shift || true
readonly JOBS=${FUZZ_JOBS:-2}
readonly BUILD=$ROOT/build/fuzz
readonly CLANG_VERSION=19

readonly PACKAGES=(
    cmake ninja-build pkg-config
    "clang-$CLANG_VERSION" "libclang-rt-$CLANG_VERSION-dev"
    libsodium-dev nlohmann-json3-dev libqrencode-dev libavahi-client-dev libasio-dev
    libx11-dev libxtst-dev  # the project's configure looks for them
)

step() { printf '\n==> %s\n' "$*"; }

log() { echo "fuzz: $*" >&2; }
die() {
    log "error: $*"
    exit 1
}
# shellcheck source=lib.sh
source "$ROOT/scripts/lib.sh"

[[ $SECONDS_PER_TARGET =~ ^[0-9]+$ && $SECONDS_PER_TARGET -gt 0 ]] || {
    echo "usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]" >&2
    exit 2
}

started=$SECONDS
ensure_packages "${PACKAGES[@]}"

step "Fuzz build (build/fuzz, clang-$CLANG_VERSION, ASan + UBSan)"
cmake -S fuzz -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE= \
    -DCMAKE_C_COMPILER="clang-$CLANG_VERSION" -DCMAKE_CXX_COMPILER="clang++-$CLANG_VERSION" >/dev/null
cmake --build "$BUILD" --parallel "$(nproc 2>/dev/null || echo 2)"
built=$SECONDS

targets=("$@")
if [[ ${#targets[@]} == 0 ]]; then
    mapfile -t targets < <(find "$BUILD" -maxdepth 1 -type f -name 'fuzz_*' -executable -printf '%f\n' | sort)
fi
[[ ${#targets[@]} -gt 0 ]] || { echo "no fuzz targets were built"; exit 1; }

step "Seeds (korvex_fuzz_seeds)"
rm -rf "$BUILD/seeds"
"$BUILD/korvex_fuzz_seeds" "$BUILD/seeds" "$ROOT"
mkdir -p "$BUILD/logs"

# Readable stacks in the reports (clang-19 ships no llvm-symbolizer of its own
# without the llvm-19 package; the machine's llvm-symbolizer reads its output).
for symbolizer in /usr/lib/llvm-$CLANG_VERSION/bin/llvm-symbolizer /usr/bin/llvm-symbolizer /usr/bin/llvm-symbolizer-14; do
    if [[ -x $symbolizer ]]; then
        export ASAN_SYMBOLIZER_PATH=${ASAN_SYMBOLIZER_PATH:-$symbolizer}
        break
    fi
done

# Leaks count as findings; a single input running 25 s counts as a hang.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
    local target=$1
    local corpus=$BUILD/corpus/$target artifacts=$BUILD/artifacts/$target/
    mkdir -p "$corpus" "$artifacts" "$BUILD/seeds/$target"
    local dirs=("$corpus" "$BUILD/seeds/$target")
    [[ -d $ROOT/tests/fixtures/fuzz/$target ]] && dirs+=("$ROOT/tests/fixtures/fuzz/$target")
    "$BUILD/$target" -max_total_time="$SECONDS_PER_TARGET" -timeout=25 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "${dirs[@]}" >"$BUILD/logs/$target.log" 2>&1
}

passed=0
failed=0
failures=()

# One line per finished target, from its log.
report() {
    local target=$1 rc=$2 log=$BUILD/logs/$1.log
    local last execs cov ft corp rate
    last=$(grep -E '^#[0-9]+' "$log" | tail -n1 || true)
    execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n1)
    [[ -n $execs ]] || execs=$(sed -nE 's/^#([0-9]+).*/\1/p' <<<"$last")
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$last")
    rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n1)
    printf '%-24s %10s execs  %6s/s  cov: %-6s ft: %-7s corpus: %s\n' \
        "$target" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corp:-?}"
    if [[ $rc == 0 ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        local artifact
        artifact=$(sed -nE 's/.*Test unit written to (.*)$/\1/p' "$log" | tail -n1)
        failures+=("$target (exit $rc): ${artifact:-see $log}")
        grep -E 'ERROR: |runtime error|invariant failed|SUMMARY' "$log" | head -n5 | sed 's/^/    /'
    fi
}

step "Fuzzing ${#targets[@]} targets, $SECONDS_PER_TARGET s each, $JOBS at a time"
declare -A pid_target=()
for target in "${targets[@]}"; do
    [[ -x $BUILD/$target ]] || { failed=$((failed + 1)); failures+=("$target: not built"); continue; }
    while [[ ${#pid_target[@]} -ge $JOBS ]]; do
        rc=0
        wait -n -p done_pid "${!pid_target[@]}" || rc=$?
        report "${pid_target[$done_pid]}" "$rc"
        unset "pid_target[$done_pid]"
    done
    run_target "$target" &
    pid_target[$!]=$target
done
while [[ ${#pid_target[@]} -gt 0 ]]; do
    rc=0
    wait -n -p done_pid "${!pid_target[@]}" || rc=$?
    report "${pid_target[$done_pid]}" "$rc"
    unset "pid_target[$done_pid]"
done

echo
for f in "${failures[@]+"${failures[@]}"}"; do echo "failed: $f"; done
if [[ $failed -gt 0 ]]; then
    echo "Reproduce with: build/fuzz/TARGET ARTIFACT; add the input to tests/fixtures/fuzz/TARGET/ and a"
    echo "case to tests/core/fuzz_regression_test.cpp."
fi
echo "Build $((built - started)) s, fuzzing $((SECONDS - built)) s, total $((SECONDS - started)) s"
echo "fuzz: $passed passed, $failed failed"
[[ $failed == 0 ]]
