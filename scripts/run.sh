#!/usr/bin/env bash
# Installs what is needed, builds, and runs Orvana. When no device is configured (no
# ORVANA_DEVICE and no itf_ip.ini) a simulated device is started on loopback with its flash kept
# in the data folder, so the store survives from one run to the next.
# Arguments are passed to orvana-cli (default: "info"); use --gui for the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bin="$PWD/build/apps"

if [ -n "${ORVANA_HOME:-}" ]; then
  config="$ORVANA_HOME"; data="$ORVANA_HOME"
else
  config="${XDG_CONFIG_HOME:-$HOME/.config}/orvana"; data="${XDG_DATA_HOME:-$HOME/.local/share}/orvana"
fi
if [ -z "${ORVANA_DEVICE:-}" ] && [ ! -f "$config/itf_ip.ini" ]; then
  sim_port=21249
  mkdir -p "$data/devsim"
  if ! pgrep -f "orvana-devsim.*--port $sim_port" >/dev/null; then
    "$bin/orvana-devsim/orvana-devsim" --address 127.0.0.1 --port "$sim_port" \
      --reply-port "${ORVANA_HOST_PORT:-21248}" --store "$data/devsim" \
      >"$data/devsim.log" 2>&1 &
    sleep 0.3
    echo "Simulated device on 127.0.0.1:$sim_port (flash in $data/devsim, log $data/devsim.log)"
  fi
  export ORVANA_DEVICE="127.0.0.1:$sim_port"
fi

if [ "${1:-}" = "--gui" ]; then
  shift
  exec "$bin/orvana/orvana" "$@"
fi
[ $# -gt 0 ] || set -- info
exec "$bin/orvana-cli/orvana-cli" "$@"
