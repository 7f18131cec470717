#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer and UndefinedBehavior-
# Sanitizer, build-fuzz/) and runs each for SECONDS (default 30), one after another, starting
# from its seeds in fuzz/corpus/<target>/. The seeds are only read: what the fuzzer adds goes to
# a temporary folder, removed afterwards. The first crash, sanitizer report, leak or time-out
# fails the run; its input is kept and named, with the fuzzer's log.
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     TARGET: link_reply devsim_request
#                                                   store_directory clip_file profile_file
#                                                   device_endpoint (default: all)
#
# Each target's line gives its executions, its coverage (cov: edges, ft: features) and how many
# inputs it added. Reproduce a failure with build-fuzz/fuzz/fuzz_<target> <input>.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
case "$seconds" in
  '' | *[!0-9]*)
    echo "usage: $0 [SECONDS] [TARGET...]" >&2
    exit 2
    ;;
esac
[ $# -gt 0 ] && shift
all=(link_reply devsim_request store_directory clip_file profile_file device_endpoint)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")

bash scripts/install-deps.sh
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

work=$(mktemp -d "${TMPDIR:-/tmp}/orvana-fuzz.XXXXXX")
keep=0
cleanup() { [ "$keep" -eq 1 ] || rm -rf "$work"; }
trap cleanup EXIT

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}"
for t in "${targets[@]}"; do
  bin="build-fuzz/fuzz/fuzz_$t"
  seeds="fuzz/corpus/$t"
  if [ ! -x "$bin" ] || [ ! -d "$seeds" ]; then
    echo "no such fuzz target: $t" >&2
    exit 2
  fi
  mkdir -p "$work/$t/new"
  # Room for a whole page of data pieces where the input is a list of datagrams.
  case "$t" in
    link_reply | devsim_request) maxLen=(-max_len=9000) ;;
    *) maxLen=() ;;
  esac
  log="$work/$t/log"
  start=$(date +%s)
  rc=0
  "$bin" "${maxLen[@]}" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
    -print_final_stats=1 -artifact_prefix="$work/$t/" "$work/$t/new" "$seeds" >"$log" 2>&1 || rc=$?
  took=$(($(date +%s) - start))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  added=$(find "$work/$t/new" -type f | wc -l)
  if [ "$rc" -ne 0 ]; then
    keep=1
    echo "$t: FAILED after ${took}s (exit $rc)" >&2
    grep -E 'ERROR|SUMMARY|runtime error|Test unit written' "$log" >&2 || tail -n 40 "$log" >&2
    echo "log and input kept in $work/$t/" >&2
    exit 1
  fi
  printf '%-16s %9s runs  cov %5s  ft %6s  +%s inputs  %ss\n' "$t" "${runs:-?}" "${cov:-?}" \
    "${ft:-?}" "$added" "$took"
done
