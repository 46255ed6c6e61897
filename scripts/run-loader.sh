#!/usr/bin/env bash
# Starts the loader window from a build tree: `scripts/run-loader.sh BUILD_DIR`.
# Without serial hardware it also starts the device simulator (bootsim), which
# announces itself every second, so its port shows up in the window's port menu and a
# whole transfer can be tried; the simulator is stopped when the window closes.
# LOADER_SIM=1 starts the simulator anyway, LOADER_SIM=0 never.
set -euo pipefail

build=${1:-build}
loader="$build/src/app/loader"
bootsim="$build/tools/bootsim/bootsim"
cli="$build/tools/loader-cli/loader-cli"

if [ ! -x "$loader" ]; then
  echo "run-loader: $loader is not built (is Qt 6 installed? try: make run)" >&2
  exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-loader: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "run-loader: on a machine without a desktop run it under a virtual one:" >&2
  echo "    xvfb-run -a scripts/run-loader.sh $build" >&2
  exit 1
fi

# Serial hardware: USB/ACM adapters, anything under /dev/serial, or a port the
# loader's own discovery lists that is neither a simulator nor a legacy ttyS slot.
have_hardware() {
  local dev
  for dev in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM*; do
    [ -e "$dev" ] && return 0
  done
  if [ -x "$cli" ]; then
    "$cli" ports 2>/dev/null | grep -vqE '^(bootsim[0-9]+|ttyS[0-9]+|/dev/ttyS[0-9]+)?$' && return 0
  fi
  return 1
}

sim_pid=
sim_out=
cleanup() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  [ -n "$sim_out" ] && rm -f "$sim_out"
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

want_sim=${LOADER_SIM:-auto}
if [ "$want_sim" = auto ]; then
  if have_hardware; then want_sim=0; else want_sim=1; fi
fi

if [ "$want_sim" = 1 ]; then
  if [ ! -x "$bootsim" ]; then
    echo "run-loader: no serial hardware found and $bootsim is not built" >&2
  else
    sim_out=$(mktemp)
    "$bootsim" --announce-every 1000 --keep-going >"$sim_out" &
    sim_pid=$!
    # The simulator prints its terminal once the port is published.
    for _ in $(seq 1 50); do
      [ -s "$sim_out" ] && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -s "$sim_out" ]; then
      echo "run-loader: no serial hardware found; simulated device on $(head -n1 "$sim_out")"
      echo "run-loader: choose its port (bootsimN) from the port menu, a HEX file (for example"
      echo "run-loader: one from examples/), then press Старт; it answers within a second."
    else
      echo "run-loader: the simulated device did not start" >&2
    fi
  fi
fi

"$loader"
