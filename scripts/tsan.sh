#!/usr/bin/env bash
# Builds the window and write tests with ThreadSanitizer (preset "tsan", in build-tsan/) and runs
# the ones that write through the overlapped WriteProcess: the worker building the next frame
# must share nothing with what the UI thread runs while it pumps events. Slow (minutes on two
# cores), so CI leaves it out.
#
#   bash scripts/tsan.sh          the window's writes and the headless overlapped writes
#   bash scripts/tsan.sh --full   also every test of write_tests and write_resume_tests
#
# A race in the project's code fails its test with TSan's report (halt_on_error=1); the
# suppressions (tests/tsan.supp) cover uninstrumented system libraries only.
# If TSan stops with "unexpected memory mapping", the kernel's vm.mmap_rnd_bits is above 28;
# run the script under `setarch -R`.
set -euo pipefail
cd "$(dirname "$0")/.."

full=0
case "${1:-}" in
  --full) full=1 ;;
  "") ;;
  *)
    echo "usage: $0 [--full]" >&2
    exit 2
    ;;
esac

bash scripts/install-deps.sh
# Objects are shared between work trees of the same sources.
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

targets=(window_tests write_resume_tests)
[ "$full" -eq 1 ] && targets+=(write_tests)

cmake --preset tsan >/dev/null
time cmake --build --preset tsan --target "${targets[@]}" -j "$(nproc)"

if [ "$full" -eq 1 ]; then
  time ctest --preset tsan \
    -R '^WindowTest\..*(Write|Cancel|Closing)|^WriteProcessTest\.|^Cases/(Continue|Failure)Test\.'
else
  time ctest --preset tsan
fi
