#!/usr/bin/env bash
# Checks the Windows package of a build: builds the .zip (cpack) and looks
# at what a user unpacks: Keyvane.exe and Decoder.dll without debug
# information and with the project's version resource, the sample settings
# and the text on running the program.
#
#   tools/windows/package-check.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: package-check.sh BUILD_DIR}" && pwd)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[[ -n "$version" ]] || { echo "no project version in $build/CMakeCache.txt"; exit 1; }
objdump=x86_64-w64-mingw32-objdump
windres=x86_64-w64-mingw32-windres

work=$(mktemp -d /tmp/keyvane-zip.XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "WINDOWS PACKAGE CHECK FAILED: $*"; exit 1; }

echo "-- packaging $build"
rm -f "$build"/Keyvane-*-win64.zip
(cd "$build" && cpack -G ZIP >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
zip="$build/Keyvane-$version-win64.zip"
[[ -f "$zip" ]] || fail "no $(basename "$zip")"
unzip -q "$zip" -d "$work"
top="$work/Keyvane-$version-win64"
for f in Keyvane.exe Decoder.dll README.txt Zentrova/Keyvane.ini Zentrova/DecodeSettings.Vqf; do
  [[ -f "$top/$f" ]] || fail "$f is not in the zip"
done
extra=$(cd "$top" && find . -type f | sort | grep -v -x -e ./Keyvane.exe -e ./Decoder.dll -e ./README.txt \
        -e ./Zentrova/Keyvane.ini -e ./Zentrova/DecodeSettings.Vqf || true)
[[ -z "$extra" ]] || fail "unexpected files in the zip: $extra"

for binary in Keyvane.exe Decoder.dll; do
  file="$top/$binary"
  if "$objdump" -h "$file" | grep -q -e '\.debug_' -e '\.zdebug_'; then fail "$binary carries debug information"; fi
  "$objdump" -t "$file" | grep -q "no symbols" || fail "$binary carries a symbol table"
  "$windres" -i "$file" -O rc -o "$work/$binary.rc" 2>/dev/null || fail "$binary has no resources"
  numbers="${version//./, }, 0"
  grep -q "FILEVERSION $numbers\$" "$work/$binary.rc" || fail "$binary: no FILEVERSION $numbers"
  grep -q "\"FileVersion\", \"$version\"" "$work/$binary.rc" || fail "$binary: no FileVersion $version"
  grep -q "\"OriginalFilename\", \"$binary\"" "$work/$binary.rc" || fail "$binary: OriginalFilename"
  echo "   $binary: $(stat -c %s "$file") bytes, version $version, no debug information"
done
# The program's own resources are still there beside the version.
grep -q "WAVE" "$work/Keyvane.exe.rc" || fail "Keyvane.exe lost its sounds"
echo "== Windows package check passed: $(basename "$zip")"
