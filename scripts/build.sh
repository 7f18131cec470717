#!/usr/bin/env bash
# Installs the dependencies (Debian packages) and builds everything with the default preset.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
