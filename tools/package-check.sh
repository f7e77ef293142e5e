#!/usr/bin/env bash
# Checks the host packages of a build as a user gets them: builds the Debian
# package and the .tar.gz (cpack), unpacks each into a fresh prefix in a
# temporary folder, and runs the installed programs from there only:
#   - no installed file names the source or build tree, the environment
#     names none of our programs, and the working folder is outside both;
#   - keyvane-terminal --version finds the installed wedge and decoder
#     library of the same version;
#   - the demo and images scenarios of the installed documentation pass
#     (the image reader process installed beside the decoder library);
#   - KEYVANE_DECODER still chooses the decoder library;
#   - serve --from the installed samples serves the installed page, with the
#     wedge running, and removes its terminal when it ends;
#   - the man pages render without warnings; the bash completion completes.
#
#   tools/package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: package-check.sh BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "no project version in $build/CMakeCache.txt"; exit 1; }

work=$(mktemp -d /tmp/keyvane-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "PACKAGE CHECK FAILED: $*"; exit 1; }

echo "-- packaging $build"
rm -f "$build"/keyvane_*.deb "$build"/keyvane-*.tar.gz
(cd "$build" && cpack -G "DEB;TGZ" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$build"/keyvane_"$version"_*.deb) || fail "no keyvane_${version}_*.deb"
tgz=$(ls "$build"/keyvane-"$version"-Linux-*.tar.gz) || fail "no keyvane-$version-Linux-*.tar.gz"
[[ $(dpkg-deb -f "$deb" Package) == keyvane ]] || fail "package name"
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "package version"

mkdir -p "$work/deb" "$work/tgz" "$work/home"
dpkg-deb -x "$deb" "$work/deb"
tar -xzf "$tgz" -C "$work/tgz" --strip-components=1

# Runs an installed program with nothing of the trees in reach.
installed() {
  (cd "$work/home" && env -i HOME="$work/home" PATH="$prefix/bin:/usr/bin:/bin" LC_ALL=C.UTF-8 "$@")
}

check_prefix() {
  prefix=$1
  echo "-- $(basename "$2") unpacked into $prefix"
  for f in bin/keyvane bin/keyvane-terminal share/man/man1/keyvane.1.gz share/man/man1/keyvane-terminal.1.gz \
           share/man/man5/keyvane.ini.5.gz share/bash-completion/completions/keyvane-terminal share/doc/keyvane/samples/scenarios/demo.scenario \
           share/doc/keyvane/samples/terminal/Zentrova/Keyvane.ini share/keyvane/web/index.html \
           share/keyvane/web/app.js share/keyvane/web/style.css; do
    [[ -e "$prefix/$f" ]] || fail "$f is missing"
  done
  library=$(find "$prefix/lib" -name libDecoder.so)
  [[ -n "$library" ]] || fail "no decoder library under lib/"
  [[ -x "$(dirname "$library")/keyvane-reader" ]] || fail "no image reader beside the decoder library"
  if grep -rlF -e "$build" -e "$source_dir" "$prefix" >"$work/refs"; then
    cat "$work/refs"
    fail "installed files name the build or source tree"
  fi

  installed keyvane-terminal --version >"$work/version" || fail "--version"
  cat "$work/version"
  grep -qx "keyvane-terminal $version" "$work/version" || fail "console version"
  grep -qx "wedge $version $prefix/bin/keyvane" "$work/version" || fail "wedge version or path"
  grep -qx "decoder $version $library" "$work/version" || fail "decoder version or path"

  echo "-- the demo from the installed files"
  installed keyvane-terminal run "$prefix/share/doc/keyvane/samples/scenarios/demo.scenario" --quiet \
    || fail "the installed demo"
  echo "-- the images scenario from the installed files (the image reader process)"
  installed keyvane-terminal run "$prefix/share/doc/keyvane/samples/scenarios/images.scenario" --quiet \
    || fail "the installed images scenario"

  echo "-- explain from the installed files: the sample terminal's settings, on a terminal of its own"
  installed keyvane-terminal explain --settings "$prefix/share/doc/keyvane/samples/terminal/Zentrova/Keyvane.ini" \
    12345 --sym code128 >"$work/explain" || fail "the installed explain"
  grep -qF '   typed:    "C128 12345 END\n"' "$work/explain" || fail "explain typed: $(cat "$work/explain")"
  grep -qF '   serial:   COM3 xr1, sequence 1, length 5, CRC ok: "12345"' "$work/explain" \
    || fail "explain serial: $(cat "$work/explain")"

  echo "-- serve from the installed files: the sample terminal's page, the wedge running"
  # Started so that $! is the server itself, which SIGINT ends (a shell
  # between them would wait for it and never pass the signal on).
  (cd "$work/home" && exec env -i HOME="$work/home" PATH="$prefix/bin:/usr/bin:/bin" LC_ALL=C.UTF-8 \
    keyvane-terminal serve --from "$prefix/share/doc/keyvane/samples/terminal" --port 0) >"$work/serve" 2>&1 &
  served=$!
  for _ in $(seq 100); do grep -q '^open http' "$work/serve" && break; sleep 0.1; done
  url=$(sed -n 's/^open \(http[^ ]*\)/\1/p' "$work/serve")
  [[ -n "$url" ]] || { kill "$served"; fail "serve printed no address: $(cat "$work/serve")"; }
  port=${url#http://127.0.0.1:}; port=${port%%/*}; token=${url##*token=}
  page() {  # GET $1 with the token, the whole answer
    exec 3<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nX-Keyvane-Token: %s\r\nConnection: close\r\n\r\n' "$1" "$port" "$token" >&3
    cat <&3
    exec 3<&-
  }
  page / | grep -q '<title>Keyvane terminal</title>' || { kill "$served"; fail "serve: no page"; }
  page /api/state | grep -q '"status":{"running": true' || { kill "$served"; fail "serve: the wedge not running"; }
  root=$(sed -n 's/^serving //p' "$work/serve")
  kill -INT "$served"
  for _ in $(seq 300); do kill -0 "$served" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$served" 2>/dev/null && { kill -KILL "$served"; fail "serve did not end within 30 s of Ctrl-C"; }
  wait "$served" || fail "serve did not end cleanly"
  [[ ! -e "$root" ]] || fail "serve left its temporary terminal $root"

  echo "-- KEYVANE_DECODER chooses the decoder library"
  cp "$library" "$work/home/libDecoder.so"
  installed env KEYVANE_DECODER="$work/home" keyvane-terminal --version | grep -qx "decoder $version $work/home/libDecoder.so" \
    || fail "KEYVANE_DECODER not used"
  rm "$work/home/libDecoder.so"
}

check_prefix "$work/deb/usr" "$deb"
check_prefix "$work/tgz" "$tgz"
prefix=$work/deb/usr

echo "-- man pages"
for page in "$prefix"/share/man/man*/*.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null) || fail "man $page"
  [[ -z "$warnings" ]] || fail "$page: $warnings"
done
MANWIDTH=80 man -l "$prefix/share/man/man1/keyvane-terminal.1.gz" 2>/dev/null | grep -q -- "--version" \
  || fail "keyvane-terminal(1) does not render"
# keyvane.ini(5) lists every key the installed console knows.
MANWIDTH=200 man -l "$prefix/share/man/man5/keyvane.ini.5.gz" 2>/dev/null >"$work/ini.txt"
installed keyvane-terminal settings | awk '/^[^ ]/ {print $1}' >"$work/keys"
[[ -s "$work/keys" ]] || fail "the console lists no settings keys"
while read -r key; do
  grep -qw -- "$key" "$work/ini.txt" || fail "keyvane.ini(5) lacks $key"
done <"$work/keys"

echo "-- bash completion"
complete_words() {
  installed bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"
                     _keyvane_terminal; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$prefix/share/bash-completion/completions/keyvane-terminal" "$@"
}
[[ $(complete_words keyvane-terminal pee | sort | tr '\n' ' ') == "peer peer-clear peer-close peer-open peer-send " ]] \
  || fail "command completion: $(complete_words keyvane-terminal pee | tr '\n' ' ')"
complete_words keyvane-terminal --root /tmp start --t | grep -qx -- "--timeout" || fail "option completion"
complete_words keyvane-terminal command q | grep -qx quit || fail "command word completion"
complete_words keyvane-terminal --v | grep -qx -- "--version" || fail "global option completion"
echo "== package check passed: $(basename "$deb"), $(basename "$tgz")"
