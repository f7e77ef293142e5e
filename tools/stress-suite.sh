#!/usr/bin/env bash
# Runs the test suite repeatedly under load: each round runs two whole suites
# side by side while a CPU hog spins, then the tally says which tests failed
# in how many rounds. A test that fails here even once has a race to find.
#
#   tools/stress-suite.sh [ROUNDS] [PRESET] [-- CTEST-ARGS...]
#
# ROUNDS defaults to 20, PRESET to default (the preset must be built). Extra
# arguments go to both ctest runs (e.g. -- -R Listener). Logs of every run
# are kept in build/<preset>/stress/ (round-N-a.log, round-N-b.log).
set -uo pipefail
cd "$(dirname "$0")/.."

rounds=20
preset=default
if [[ $# -gt 0 && $1 != -- ]]; then rounds=$1; shift; fi
if [[ $# -gt 0 && $1 != -- ]]; then preset=$1; shift; fi
[[ $# -gt 0 && $1 == -- ]] && shift
extra=("$@")

if ! [[ $rounds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: tools/stress-suite.sh [ROUNDS] [PRESET] [-- CTEST-ARGS...]" >&2
  exit 2
fi
if [[ ! -d build/$preset ]]; then
  echo "build/$preset does not exist: build the preset first" >&2
  exit 2
fi

logs=build/$preset/stress
mkdir -p "$logs"
rm -f "$logs"/round-*.log

hog=""
stop_hog() {
  if [[ -n $hog ]]; then
    kill "$hog" 2>/dev/null
    wait "$hog" 2>/dev/null
    hog=""
  fi
}
trap 'stop_hog; exit 130' INT TERM
trap stop_hog EXIT

# Names of the tests a ctest log lists as failed (failed, timed out, crashed).
failed_tests() {
  sed -n '/The following tests FAILED:/,$p' "$1" | sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (.*)$/\1/p'
}

declare -A failures
bad_rounds=0
start=$(date +%s)
for ((round = 1; round <= rounds; round++)); do
  ( while :; do :; done ) &
  hog=$!
  ctest --preset "$preset" --output-on-failure "${extra[@]}" >"$logs/round-$round-a.log" 2>&1 &
  a=$!
  ctest --preset "$preset" --output-on-failure "${extra[@]}" >"$logs/round-$round-b.log" 2>&1 &
  b=$!
  wait "$a"
  ra=$?
  wait "$b"
  rb=$?
  stop_hog

  # A test counts once per round, however many of the two runs it failed in.
  round_failed=$( { failed_tests "$logs/round-$round-a.log"; failed_tests "$logs/round-$round-b.log"; } | sort -u)
  if [[ $ra != 0 || $rb != 0 ]]; then
    ((bad_rounds++))
    if [[ -z $round_failed ]]; then
      round_failed="(ctest exit $ra/$rb without a failed test; see $logs/round-$round-*.log)"
    fi
  fi
  summary="ok"
  if [[ -n $round_failed ]]; then
    summary=$(echo "$round_failed" | paste -sd ' ' -)
    while IFS= read -r name; do
      failures[$name]=$((${failures[$name]:-0} + 1))
    done <<<"$round_failed"
  fi
  echo "round $round/$rounds ($(($(date +%s) - start))s): $summary"
done

echo "== $rounds rounds, $bad_rounds with a failure"
for name in "${!failures[@]}"; do
  echo "${failures[$name]} $name"
done | sort -rn | while read -r count name; do
  echo "  $name: failed in $count of $rounds rounds"
done
[[ $bad_rounds == 0 ]]
