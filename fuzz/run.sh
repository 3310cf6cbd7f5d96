#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a bounded time, one after the
# other, each in a working folder of its own (the readers write fixed file
# names into the working folder). New inputs go to that folder, never into the
# checked-in corpus; a finding is kept there as crash-*, leak-* or timeout-*.
#
#   fuzz/run.sh BUILD_DIR SECONDS_PER_TARGET [TARGET...]     (default: all targets)
#   extra libFuzzer flags may come in KV_FUZZ_FLAGS, e.g. KV_FUZZ_FLAGS="-jobs=4 -workers=4"
#
# Exits 1 when any target reports a finding, after running all of them.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
seconds="$2"
shift 2
work="${KV_FUZZ_WORK:-$build/fuzzwork}"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/bin/fuzz_*; do
    [ -x "$bin" ] && targets+=("$(basename "$bin" | sed 's/^fuzz_//')")
  done
fi

failed=()
for name in "${targets[@]}"; do
  bin="$build/bin/fuzz_$name"
  dir="$work/$name"
  mkdir -p "$dir/corpus"
  args=(-max_total_time="$seconds" -max_len=4096 -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$dir/")
  [ -f "$here/$name.dict" ] && args+=(-dict="$here/$name.dict")
  inputs=("$dir/corpus")
  for extra in "$here/corpus/$name" "$here/repro/$name"; do
    [ -d "$extra" ] && inputs+=("$extra")
  done
  # shellcheck disable=SC2086
  (cd "$dir" && "$bin" "${args[@]}" ${KV_FUZZ_FLAGS:-} "${inputs[@]}" >"$dir/log" 2>&1)
  rc=$?
  stats="$(grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units)' "$dir/log" | tail -n 1)"
  if [ $rc -ne 0 ]; then
    failed+=("$name")
    echo "fuzz $name: FINDING (exit $rc), log and input in $dir"
    grep -E 'ERROR|invariant|SUMMARY|Test unit written' "$dir/log" | head -n 8
  else
    echo "fuzz $name: ok $stats"
  fi
done

echo "fuzz: $(( ${#targets[@]} - ${#failed[@]} )) passed, ${#failed[@]} failed"
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz findings in: ${failed[*]}"
  exit 1
fi
