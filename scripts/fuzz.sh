#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs each for the given number of seconds from its seed corpus in tests/fuzz/corpus.
#   scripts/fuzz.sh [seconds] [target...]     (default 60 s, every target)
# Each target works on a copy of its seed corpus under build/fuzz/fuzz-runs/<target>/, so the
# tree is never changed; what a run finds stays there (crash-*, leak-*, timeout-*, oom-* files)
# together with its log. Any crash, leak, timeout or sanitizer report fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -eq 0 ]; then
  echo "usage: scripts/fuzz.sh [seconds] [target...]" >&2
  exit 2
fi

# clang and its libFuzzer runtime are needed here only, so they are not among the default
# dependencies.
need_clang() {
  command -v clang++ >/dev/null || return 0
  echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address -o /dev/null - 2>/dev/null && return 1
  return 0
}
if need_clang; then
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
  echo "fuzz: installing clang and its libFuzzer runtime"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
    clang libclang-rt-dev
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-$(nproc)}" --target fuzzers

list=build/fuzz/tests/fuzz/fuzzers.txt
runs="$PWD/build/fuzz/fuzz-runs"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# One run: the target from a copy of its seed corpus; its exit status lands in $work/status.
fuzz_one() {
  local name=$1 corpus=$2 bin="$PWD/build/fuzz/tests/fuzz/$1" work="$runs/$1" status=0
  rm -rf "$work"
  mkdir -p "$work/artifacts"
  cp -r "$corpus" "$work/corpus"
  echo "fuzz: $name for $seconds s"
  (cd "$work" && nice -n 10 "$bin" -max_total_time="$seconds" -timeout=25 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=artifacts/ corpus \
    >"$work/fuzz.log" 2>&1) || status=$?
  echo "$status" >"$work/status"
}

# As many targets at once as there are cores: each is single-threaded.
selected=()
running=0
while read -r name corpus; do
  if [ "$#" -gt 0 ] && [[ " $* " != *" $name "* ]]; then
    continue
  fi
  selected+=("$name")
  fuzz_one "$name" "$corpus" &
  running=$((running + 1))
  if [ "$running" -ge "${JOBS:-$(nproc)}" ]; then
    wait -n || true
    running=$((running - 1))
  fi
done <"$list"
wait

failed=()
summary=()
for name in "${selected[@]}"; do
  work="$runs/$name"
  status=$(cat "$work/status" 2>/dev/null || echo 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/fuzz.log" | tail -1)
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    failed+=("$name")
    summary+=("$(printf '%-24s %6s s %12s execs  FAILED (see %s)' "$name" "$seconds" "${execs:-?}" \
      "$work/fuzz.log")")
    tail -n 40 "$work/fuzz.log"
  else
    summary+=("$(printf '%-24s %6s s %12s execs  ok' "$name" "$seconds" "${execs:-?}")")
  fi
done

printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
