#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, each in a
# working folder of its own (the readers write fixed file names into the
# working folder). New inputs go to that folder, never into the checked-in
# corpus; a finding is kept there as crash-*, leak-* or timeout-*.
#
#   fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]     (default: all targets)
#
# KV_FUZZ_JOBS     targets run at the same time (default 1)
# KV_FUZZ_BUDGET   when set, the whole run's seconds: each target gets
#                  BUDGET * JOBS / TARGETS seconds, at most SECONDS_PER_TARGET and at least 5
# KV_FUZZ_FLAGS    further libFuzzer flags
# KV_FUZZ_WORK     where the corpora, logs and findings go (default BUILD_DIR/fuzzwork)
# KV_FUZZ_RUN      where each process runs and its harness writes its input files: a memory file
#                  system (default /dev/shm when writable, else KV_FUZZ_WORK); a file written and
#                  renamed per execution on disk costs several times the reading itself
#
# Exits 1 when any target reports a finding, after running all of them.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
work="${KV_FUZZ_WORK:-$build/fuzzwork}"
mkdir -p "$work" && work="$(cd "$work" && pwd)"
jobs="${KV_FUZZ_JOBS:-1}"
run="${KV_FUZZ_RUN:-}"
if [ -z "$run" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then run=/dev/shm; else run="$work"; fi
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/bin/fuzz_*; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" | sed 's/^fuzz_//')")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no targets in $build/bin"
  exit 1
fi
if [ -n "${KV_FUZZ_BUDGET:-}" ]; then
  share=$(( KV_FUZZ_BUDGET * jobs / ${#targets[@]} ))
  [ "$share" -lt "$seconds" ] && seconds=$share
  [ "$seconds" -lt 5 ] && seconds=5
fi

# One target; its verdict goes to $dir/verdict.
fuzz_one() {
  local name="$1" bin="$build/bin/fuzz_$1" dir="$work/$1"
  mkdir -p "$dir/corpus"
  local args=(-max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
              -artifact_prefix="$dir/")
  [ -f "$here/$name.dict" ] && args+=(-dict="$here/$name.dict")
  local inputs=("$dir/corpus") extra
  for extra in "$here/corpus/$name" "$here/repro/$name"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  # The harnesses' private folders go under the running folder too.
  local here_run
  here_run="$(mktemp -d "$run/kvfuzz-$name.XXXXXX")" || return 1
  # shellcheck disable=SC2086
  (cd "$here_run" && TMPDIR="$here_run" "$bin" "${args[@]}" ${KV_FUZZ_FLAGS:-} "${inputs[@]}" >"$dir/log" 2>&1)
  local rc=$?
  rm -rf "$here_run"
  if [ $rc -ne 0 ]; then
    {
      echo "fuzz $name: FINDING (exit $rc), log and input in $dir"
      grep -E 'ERROR|invariant|SUMMARY|Test unit written' "$dir/log" | head -n 8
    } >"$dir/verdict"
  else
    echo "fuzz $name: ok $(grep -E '^stat::number_of_executed_units' "$dir/log" | tail -n 1)" >"$dir/verdict"
  fi
  return $rc
}

echo "fuzz: ${#targets[@]} targets, ${seconds} s each, ${jobs} at a time"
running=0
for name in "${targets[@]}"; do
  rm -f "$work/$name/verdict"
  fuzz_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=()
for name in "${targets[@]}"; do
  if [ -f "$work/$name/verdict" ]; then
    cat "$work/$name/verdict"
    head -n 1 "$work/$name/verdict" | grep -q ': ok' || failed+=("$name")
  else
    echo "fuzz $name: no verdict"
    failed+=("$name")
  fi
done
echo "fuzz: $(( ${#targets[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]}"
  exit 1
fi
