#!/usr/bin/env bash
# The Keyvane demo: installs what the build needs (on Debian, when missing),
# builds the wedge, the stand-in scan engine and the console, and runs the
# demo scenario on a fresh host terminal made from samples/terminal.
#
#   tools/demo/run-demo.sh            build into build/demo and run
#   tools/demo/run-demo.sh --keep     keep the demo's terminal root to look at
#
# Exits 0 only when every step of the session came out as expected.
set -euo pipefail
cd "$(dirname "$0")/../.."

need=()
for pkg in cmake g++ make pkg-config libzxing-dev libspng-dev libturbojpeg0-dev libcpp-httplib-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if ((${#need[@]})); then
  echo "== installing: ${need[*]}"
  SUDO=""; [[ $(id -u) != 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

build=build/demo
jobs=$(nproc 2>/dev/null || echo 2)
echo "== building the wedge, the scan engine and the console into $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEYVANE_TESTS=OFF -DKEYVANE_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target keyvane Decoder keyvane-terminal >/dev/null

echo "== the demo session (samples/scenarios/demo.scenario)"
exec "$build/keyvane-terminal" run samples/scenarios/demo.scenario "$@"
