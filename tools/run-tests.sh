#!/usr/bin/env bash
# Sets up a fresh Debian machine (when something is missing), builds Keyvane
# for the host terminal and runs the whole suite: the normal build, the
# address/undefined-behaviour sanitizer build, the thread sanitizer build,
# the Windows program under wine (when mingw-w64 and wine are available);
# then the packages: a Release build (warnings are errors, as in every build
# here) packaged as .deb and .tar.gz and run from a fresh prefix
# (tools/package-check.sh), and the Windows .zip (tools/windows/package-check.sh).
#
#   tools/run-tests.sh            everything
#   tools/run-tests.sh --quick    the normal build only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[[ "${1:-}" == "--quick" ]] && quick=1

need=()
for pkg in cmake g++ make pkg-config libgtest-dev libgmock-dev libbenchmark-dev libinih-dev \
           libzxing-dev libspng-dev libturbojpeg0-dev zbar-tools tmux \
           libx11-dev libxtst-dev xvfb xdotool xterm x11-xkb-utils xkb-data x11-apps x11-utils \
           x11-xserver-utils imagemagick libcpp-httplib-dev chromium; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
if [[ $quick == 0 ]]; then
  for pkg in g++-mingw-w64-x86-64 wine wine64 xvfb dpkg-dev man-db unzip; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
  done
fi
if ((${#need[@]})); then
  echo "== installing: ${need[*]}"
  SUDO=""; [[ $(id -u) != 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The browser tests drive Chromium with puppeteer-core (tests/web): node and
# npm from Debian where the machine has no node of its own, the package
# pinned by tests/web/package-lock.json.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "== installing: nodejs npm"
  SUDO=""; [[ $(id -u) != 0 ]] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq nodejs npm >/dev/null
fi
echo "== npm ci: tests/web"
(cd tests/web && npm ci --no-audit --no-fund --loglevel=error)
# Here the browser tests must run: a missing browser fails them instead of skipping.
export KEYVANE_REQUIRE_BROWSER=1

jobs=$(nproc 2>/dev/null || echo 2)

run_preset() {
  local preset=$1
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  echo "== test: $preset"
  ctest --preset "$preset"
}

run_preset default
if [[ $quick == 0 ]]; then
  run_preset asan
  run_preset tsan
  if command -v x86_64-w64-mingw32-g++ >/dev/null && command -v wine >/dev/null; then
    echo "== build: windows"
    cmake --preset windows >/dev/null
    cmake --build --preset windows -j"$jobs"
    echo "== test: windows program under wine"
    tools/windows/smoke-test.sh build/windows
    echo "== package: windows"
    tools/windows/package-check.sh build/windows
  fi
  echo "== build: release"
  cmake --preset release >/dev/null
  cmake --build --preset release -j"$jobs"
  echo "== package: release"
  tools/package-check.sh build/release
fi
echo "== all passed"
