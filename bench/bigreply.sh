#!/usr/bin/env bash
# The big-reply memory benchmark: installs what is missing (GNU time), builds tavelo-scan in
# build-bench/ (Release, like bench/run.sh) and runs bench/bigreply.py, which serves mailboxes
# with huge header lines from a POP3 server of its own on 127.0.0.1 and prints the peak memory of
# tavelo-scan for each, then of the real main window (tavelo-window-bench, offscreen, its dialogue
# log on). Never part of the test run; about 20 seconds after the build.
#
#   bench/bigreply.sh                       every shape, big lines of 10, 30 and 60 MB
#   bench/bigreply.sh --only x-big --sizes 100
#   bench/bigreply.sh --help                every option
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BENCH_BUILD:-$root/build-bench}"

"$root/scripts/deps.sh" time
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVELO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tavelo-scan tavelo-window-bench
export PYTHONDONTWRITEBYTECODE=1
python=/usr/bin/python3
[ -x "$python" ] || python=python3
echo "tavelo-scan:"
"$python" "$root/bench/bigreply.py" --scan "$build/bin/tavelo-scan" "$@"
echo
echo "The main window:"
"$python" "$root/bench/bigreply.py" --window "$build/bin/tavelo-window-bench" "$@"
