#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer,
# every library instrumented) and runs each for the given minutes with its seeds
# (fuzz/corpus/<target>) and dictionary (fuzz/dict/<target>.dict), two at a time.
# New corpus entries go to $BUILD/corpus-work/<target>, findings (crash-*, leak-*,
# timeout-*, oom-*) to $BUILD/findings/<target>, logs to $BUILD/fuzz-logs; the
# repository is not written. Prints one line per target (findings: this run's);
# exits 1 on any finding.
#
# Usage: scripts/fuzz.sh [minutes]       (default 1)
# Environment: BUILD (default build-fuzz), TARGETS (names; default all),
#              JOBS (targets at once; default 2), RUNS (stop a target after this
#              many executions as well), NO_BUILD=1 (use the built fuzzers as they are).
set -euo pipefail

minutes=${1:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build-fuzz}
case $build in /*) ;; *) build=$root/$build ;; esac
jobs=${JOBS:-2}

all_targets=()
for source in "$root"/fuzz/*/*_fuzzer.cc; do
  all_targets+=("$(basename "$source" .cc)")
done
read -r -a targets <<<"${TARGETS:-${all_targets[*]}}"

if [ -z "${NO_BUILD:-}" ]; then
  if ! command -v clang++ >/dev/null; then "$root"/scripts/install-deps.sh fuzz; fi
  if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DQNCHAT_FUZZ=ON \
      -DQNCHAT_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  # Build-time generators are instrumented too; their leaks at exit are not findings.
  ASAN_OPTIONS=detect_leaks=0 ninja -C "$build" -j2 "${targets[@]}" >"$build/fuzz-build.log" 2>&1 || {
    tail -30 "$build/fuzz-build.log"
    exit 2
  }
fi

binary() { find "$build/fuzz" -type f -name "$1" -perm -u+x | head -1; }

run_one() {
  local target=$1 bin work findings log dict=()
  bin=$(binary "$target")
  work=$build/corpus-work/$target
  findings=$build/findings/$target
  log=$build/fuzz-logs/$target.log
  mkdir -p "$work" "$findings" "$build/fuzz-logs"
  [ -f "$root/fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
  local seeds=()
  [ -d "$root/fuzz/corpus/$target" ] && seeds=("$root/fuzz/corpus/$target")
  local runs=()
  [ -n "${RUNS:-}" ] && runs=(-runs="$RUNS")
  # Targets whose work grows with the input: longer inputs than these reach
  # no new code (256 five-byte packets wrap every assembler slot; pictures of
  # 2 KB already split into fragments) and only slow the run.
  case $target in
    chat_packet_assembler_fuzzer | rtp_packetizer_fuzzer) runs+=(-max_len=2048) ;;
  esac
  # The first directory takes the new entries; the seeds are only read.
  "$bin" -max_total_time=$((minutes * 60)) "${runs[@]}" -timeout=25 -print_final_stats=1 \
    "${dict[@]}" -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$log" 2>&1 || true
}

summary() {
  local target=$1 log=$build/fuzz-logs/$1.log execs rate cov found
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  found=$(find "$build/findings/$target" -maxdepth 1 -type f -newer "$build/fuzz-logs/.started" \
            \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf '%-30s executions %12s  exec/s %8s  cov %6s  findings %s\n' \
    "$target" "${execs:-?}" "${rate:-?}" "${cov:-?}" "$found"
  [ "$found" -eq 0 ]
}

for target in "${targets[@]}"; do
  [ -n "$(binary "$target")" ] || { echo "$target: not built" >&2; exit 2; }
done

# Findings of earlier runs stay in their directories; only this run's count.
mkdir -p "$build/fuzz-logs"
touch "$build/fuzz-logs/.started"
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge "$jobs" ]; then
    wait -n || true
    running=$((running - 1))
  fi
  run_one "$target" &
  running=$((running + 1))
done
wait

status=0
for target in "${targets[@]}"; do summary "$target" || status=1; done
exit $status
