#!/usr/bin/env bash
# Builds Keyvane for the host terminal as a release and installs it: the
# wedge, the console, the stand-in decoder library, the manual pages, the
# console's bash completion, and the samples under the documentation folder.
#
#   tools/install.sh              install into /usr/local
#   tools/install.sh DIR          install into DIR (bin/, lib/, share/ below it)
#   tools/install.sh --deb        build the Debian package and install it (apt)
#
# Uses sudo where the destination is not writable.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""; [[ $(id -u) != 0 ]] && SUDO="sudo"
need=()
for pkg in cmake g++ make pkg-config libzxing-dev libspng-dev libturbojpeg0-dev libcpp-httplib-dev; do
  dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
done
[[ "${1:-}" == "--deb" ]] && { dpkg -s dpkg-dev >/dev/null 2>&1 || need+=(dpkg-dev); }
if ((${#need[@]})); then
  echo "== installing: ${need[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
fi

build=build/install
prefix=/usr/local
[[ -n "${1:-}" && "$1" != "--deb" ]] && prefix=$1
jobs=$(nproc 2>/dev/null || echo 2)
echo "== building a release into $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKEYVANE_TESTS=OFF -DKEYVANE_BENCHMARKS=OFF \
      -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$build" -j"$jobs" >/dev/null

if [[ "${1:-}" == "--deb" ]]; then
  (cd "$build" && cpack -G DEB >/dev/null)
  deb=$(ls "$PWD/$build"/keyvane_*.deb)
  echo "== installing $deb"
  $SUDO apt-get install -y "$deb"
  exit 0
fi
mkdir -p "$prefix" 2>/dev/null || true
[[ -w "$prefix" ]] && SUDO=""
echo "== installing into $prefix"
$SUDO cmake --install "$build" --strip
echo "== done: $prefix/bin/keyvane-terminal --version"
"$prefix/bin/keyvane-terminal" --version
