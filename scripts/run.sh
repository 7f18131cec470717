#!/usr/bin/env bash
# Installs what is needed, builds, and runs Orvana.
#
#   bash scripts/run.sh                 the window when a display is available, else "orvana-cli info"
#   bash scripts/run.sh --gui [ARGS]    the window
#   bash scripts/run.sh cli ARGS...     orvana-cli ARGS... (default: info)
#   bash scripts/run.sh COMMAND ...     the same as "cli COMMAND ..."
#
# When no device is configured (no ORVANA_DEVICE and no itf_ip.ini) a simulated device is started
# on 127.0.0.1:21249 (ORVANA_SIM_PORT) with its flash kept in the data folder, so the store
# survives from one run to the next. On its first start Clip 1 is formatted and a demo clip is
# written into it through the program's own write; a marker written only when that has worked
# makes an interrupted first start do it again. Replies come to ORVANA_HOST_PORT (default 21248).
set -euo pipefail
here=$PWD
cd "$(dirname "$0")/.."

mode=auto
case "${1:-}" in
  --gui) mode=gui; shift ;;
  cli) mode=cli; shift ;;
  "") ;;
  *) mode=cli ;;
esac

bash scripts/build.sh
bin="$PWD/build/apps"
cli_bin="$bin/orvana-cli/orvana-cli"

# The programs run from the caller's folder, so a relative ORVANA_HOME must not move with them.
if [ -n "${ORVANA_HOME:-}" ]; then
  case "$ORVANA_HOME" in /*) ;; *) export ORVANA_HOME="$here/$ORVANA_HOME" ;; esac
  config="$ORVANA_HOME"; data="$ORVANA_HOME"
else
  config="${XDG_CONFIG_HOME:-$HOME/.config}/orvana"; data="${XDG_DATA_HOME:-$HOME/.local/share}/orvana"
fi

fail() {
  echo "run.sh: $*" >&2
  exit 1
}

# True when something on this machine has a UDP socket bound to port $1.
udp_port_busy() {
  local hex
  hex=$(printf '%04X' "$1")
  cat /proc/net/udp /proc/net/udp6 2>/dev/null | grep -qE "^ *[0-9]+: [0-9A-F]+:$hex "
}

# The orvana-devsim that serves port $sim_port, as "PID REPLY_PORT STORE"; fails when there is none.
find_sim() {
  local p i port reply store
  local -a args
  for p in /proc/[0-9]*; do
    [ "$(cat "$p/comm" 2>/dev/null)" = orvana-devsim ] || continue
    { mapfile -d '' -t args <"$p/cmdline"; } 2>/dev/null || continue
    port=0 reply=21248 store=
    for ((i = 1; i + 1 < ${#args[@]}; i++)); do
      case "${args[i]}" in
        --port) port=${args[i + 1]} ;;
        --reply-port) reply=${args[i + 1]} ;;
        --store) store=${args[i + 1]} ;;
      esac
    done
    if [ "$port" = "$sim_port" ]; then
      echo "${p#/proc/} $reply $store"
      return 0
    fi
  done
  return 1
}

# Waits (at most about 10 s) until simulated device $1 says it is listening.
wait_for_sim() {
  local pid=$1 i
  local deadline=$((SECONDS + 10))
  for ((i = 0; i < 100 && SECONDS <= deadline; i++)); do
    grep -q '^listening on' "$sim_log" 2>/dev/null && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  return 1
}

now_ms() {
  local t=${EPOCHREALTIME/[.,]/}
  echo $((t / 1000))
}

# One step of the first start: a line with its outcome and time; the programs' output goes to
# the seed log.
seed_step() {
  local label=$1 t0 ms
  shift
  t0=$(now_ms)
  printf '  %s ... ' "$label"
  echo "== $label: $*" >>"$seed_log"
  if "$@" >>"$seed_log" 2>&1 </dev/null; then
    ms=$(($(now_ms) - t0))
    printf 'done (%d.%d s)\n' $((ms / 1000)) $((ms % 1000 / 100))
    return 0
  fi
  echo "failed"
  return 1
}

seed_sim() {
  local demo="$data/demo.avi"
  # The device is named on every command, so a configured device is never reached from here.
  local -a cli=("$cli_bin" --device "127.0.0.1:$sim_port" --yes)
  seed_log="$data/seed.log"
  : >"$seed_log"
  echo "First start of the simulated device: Clip 1 gets a demo clip (details in $seed_log)"
  trap 'echo; echo "Interrupted; the first-start steps will be done again next time." >&2; exit 130' INT
  # A new chip holds no directory, so only a full format makes it usable.
  if seed_step "Formatting Clip 1 (full format)" "${cli[@]}" format --channel clip1 &&
    seed_step "Making the demo clip $demo" "${cli[@]}" demo-clip -o "$demo" &&
    seed_step "Writing it as clip 1 \"Demo\" (loop)" \
      "${cli[@]}" write --channel clip1 --number 1 --comment Demo --loop "$demo"; then
    date >"$store/seed.done"
    rm -f "$store/seed.pending"
  else
    tail -n 5 "$seed_log" | sed 's/^/    /' >&2
    echo "The first-start steps failed (see $seed_log); they will be tried again next time." >&2
  fi
  trap - INT
}

if [ -z "${ORVANA_DEVICE:-}" ] && [ ! -f "$config/itf_ip.ini" ]; then
  sim_port=${ORVANA_SIM_PORT:-21249}
  host_port=${ORVANA_HOST_PORT:-21248}
  store="$data/devsim"
  sim_log="$data/devsim.log"
  mkdir -p "$store"

  # Our own replies arrive on this port; a window or another command holding it would starve us.
  udp_port_busy "$host_port" &&
    fail "UDP port $host_port (replies from the device) is in use, perhaps by an open Orvana window or a test; set ORVANA_HOST_PORT to a free port"

  # One run.sh at a time starts the device and does the first-start steps; the lock is given up
  # before the program runs.
  exec 9>"$store/run.lock"
  flock -w 120 9 || fail "another run.sh has been starting the simulated device for 2 minutes; see $sim_log"
  if running=$(find_sim); then
    read -r sim_pid sim_reply sim_store <<<"$running"
    [ "$sim_store" = "$store" ] ||
      fail "port $sim_port is held by another simulated device (PID $sim_pid, flash in ${sim_store:-memory}); stop it with: kill $sim_pid"
    [ "$sim_reply" = "$host_port" ] ||
      fail "the simulated device (PID $sim_pid) replies to port $sim_reply, not $host_port; stop it with: kill $sim_pid"
  else
    udp_port_busy "$sim_port" &&
      fail "UDP port $sim_port (the simulated device's) is in use by another program; set ORVANA_SIM_PORT to a free port"
    # A store without chip files is new: it gets the first-start steps, until they have worked.
    shopt -s nullglob
    chips=("$store"/chip*.nand)
    shopt -u nullglob
    if [ ${#chips[@]} -eq 0 ]; then
      rm -f "$store/seed.done"
      touch "$store/seed.pending"
    fi
    "$bin/orvana-devsim/orvana-devsim" --address 127.0.0.1 --port "$sim_port" \
      --reply-port "$host_port" --store "$store" >"$sim_log" 2>&1 9>&- &
    sim_pid=$!
    if ! wait_for_sim "$sim_pid"; then
      kill "$sim_pid" 2>/dev/null || true
      fail "the simulated device did not start on 127.0.0.1:$sim_port: $(tail -n 2 "$sim_log" | tr '\n' ' ')"
    fi
    echo "Simulated device on 127.0.0.1:$sim_port (PID $sim_pid, flash in $store, log $sim_log)"
  fi
  export ORVANA_DEVICE="127.0.0.1:$sim_port"
  if [ -f "$store/seed.pending" ]; then seed_sim; fi
  exec 9>&-
fi

cd "$here"
if [ "$mode" = auto ]; then
  if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    mode=gui
  else
    echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the command line instead, \"orvana-cli info\"."
    mode=cli
  fi
fi
if [ "$mode" = gui ]; then
  exec "$bin/orvana/orvana" "$@"
fi
[ $# -gt 0 ] || set -- info
exec "$cli_bin" "$@"
