#!/usr/bin/env bash
# TLS against clear text: installs what is missing, builds the scanner and the window driver in
# build-bench/ (Release) and runs bench/tls.py, which prints the table and writes
# build-bench/bench-results-tls/. Never part of the test run.
#
#   bench/tls.sh                          10,000 and 50,000 messages, 5 rounds: about 10 minutes
#   bench/tls.sh --base OTHER/build-bench  the same programs built from another tree, in the same rounds
#   bench/tls.sh --help                    every option (sizes, rounds, programs, links)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BENCH_BUILD:-$root/build-bench}"

"$root/bench/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVELO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tavelo-scan tavelo-window-bench
export PYTHONDONTWRITEBYTECODE=1
python=/usr/bin/python3
[ -x "$python" ] || python=python3
exec "$python" "$root/bench/tls.py" --build "$build" "$@"
