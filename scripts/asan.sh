#!/usr/bin/env bash
# Builds the programs and tests with AddressSanitizer and UndefinedBehaviorSanitizer (preset
# "asan", build-asan/, -O1) and runs the test suite under them, two tests at a time. Any invalid
# memory access, leak or undefined behaviour in the project's code fails its test with the
# sanitizer's report (halt_on_error, no recovery from undefined behaviour).
#
#   bash scripts/asan.sh
#
# The options come from the presets (CMakePresets.json): ASAN_OPTIONS, LSAN_OPTIONS and
# UBSAN_OPTIONS with the suppression files tests/asan.supp, tests/lsan.supp and tests/ubsan.supp,
# which name third-party libraries only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Objects are shared between work trees of the same sources.
export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-true}" CCACHE_BASEDIR="${CCACHE_BASEDIR:-$PWD}"

cmake --preset asan >/dev/null
time cmake --build --preset asan -j "$(nproc)"
time ctest --preset asan -j 2
