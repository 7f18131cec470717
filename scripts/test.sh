#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. Tests keep all their files in temporary
# folders and talk only to simulated devices on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --preset default -j 2
