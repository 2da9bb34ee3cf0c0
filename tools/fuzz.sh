#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset) and runs each for SECONDS
# (default 60), one after the other, in a single process each. Every target
# starts from its seed corpus in fuzz/corpus/ plus a working corpus under
# build/fuzz/corpus/ that keeps what earlier runs found, so repeated runs go
# deeper. Stops with exit code 1 at the first finding (crash, failed check,
# sanitizer report, leak, hang over 10 s or over 2 GB of memory); the input
# is saved under build/fuzz/findings/ and can be replayed with
#   build/fuzz/fuzz/TARGET_fuzzer build/fuzz/findings/FILE
#
# Usage: tools/fuzz.sh [SECONDS] [TARGET...]
#   TARGET is parts_list_reader, file_names or job_script_writer (all three
#   by default). Installs clang and its sanitizer runtime on Debian when run
#   as root, and names the install line otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh

seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
  targets=(parts_list_reader file_names job_script_writer)

require_packages_for build clang
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j 2

mkdir -p build/fuzz/findings
for target in "${targets[@]}"; do
  fuzzer="build/fuzz/fuzz/${target}_fuzzer"
  [ -x "$fuzzer" ] || { echo "no fuzz target named '$target'" >&2; exit 2; }
  corpus="build/fuzz/corpus/$target"
  log="build/fuzz/$target.log"
  mkdir -p "$corpus"
  options=(
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
    -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$target-"
  )
  [ -f "fuzz/$target.dict" ] && options+=(-dict="fuzz/$target.dict")
  # The writer's work grows with the table. Half a kilobyte already holds a
  # table past the radix sort's switch (65 entries) beside a name longer than
  # the fuzz build's output buffer, and reaches every edge that longer inputs
  # reach; longer ones only slow the run down.
  [ "$target" = job_script_writer ] && options+=(-max_len=512)
  echo "--- fuzzing $target for $seconds s"
  if ! "$fuzzer" "${options[@]}" "$corpus" "fuzz/corpus/$target" \
      >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FINDING in $target; the input is in build/fuzz/findings/" >&2
    exit 1
  fi
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "$target: $executions executions ($rate/s), no finding;" \
    "corpus of $(ls "$corpus" | wc -l) inputs"
done
