#!/usr/bin/env bash
# Runs the whole test suite RUNS times in a row (default 5), two tests at a time as CI does,
# while two busy loops keep both processors loaded, and stops at the first run that fails. Each
# run's result and time are printed. A suite that passes here does not lean on an idle machine.
#
#   bash scripts/stress-tests.sh [RUNS] [BUILD_DIR]
#
# BUILD_DIR (default build/) is built first if anything changed; a folder that was never
# configured gets the default preset's settings.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=${1:-5}
dir=${2:-build}
case "$runs" in
  '' | *[!0-9]* | 0)
    echo "usage: $0 [RUNS] [BUILD_DIR]" >&2
    exit 2
    ;;
esac

bash scripts/install-deps.sh
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"
[ -f "$dir/CMakeCache.txt" ] || cmake --preset default -B "$dir" >/dev/null
cmake --build "$dir" -j "$(nproc)"

hogs=()
stop_hogs() {
  for pid in "${hogs[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${hogs[@]}"; do wait "$pid" 2>/dev/null || true; done
  hogs=()
}
trap stop_hogs EXIT
trap 'exit 130' INT TERM
for _ in 1 2; do
  sh -c 'while :; do :; done' &
  hogs+=($!)
done

export QT_QPA_PLATFORM=offscreen
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s)
  log=$(mktemp "${TMPDIR:-/tmp}/orvana-stress.XXXXXX")
  # The default test preset's settings, for any build folder.
  if ctest --test-dir "$dir" -j 2 --timeout 300 --output-on-failure --no-tests=error >"$log" 2>&1; then
    echo "run $i/$runs: passed in $(($(date +%s) - start)) s ($(grep -E 'tests passed' "$log"))"
    rm -f "$log"
  else
    echo "run $i/$runs: FAILED after $(($(date +%s) - start)) s; output in $log"
    sed -n '/The following tests FAILED/,$p' "$log"
    exit 1
  fi
done
