#!/usr/bin/env bash
# The header-scan benchmark: installs what is missing, builds the scanner and the window driver in
# build-bench/ (Release) and runs bench/run.py, which prints the table and writes
# build-bench/bench-results/. Never part of the test run.
#
#   bench/run.sh            every size (1,000, 10,000, 50,000), both links: about 20 minutes
#   bench/run.sh --quick    1,000 and 10,000, 2 rounds, the delay line at 1,000 only
#   bench/run.sh --help     every option (sizes, rounds, contenders)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVELO_BENCH_BUILD:-$root/build-bench}"

"$root/bench/deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVELO_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" --target tavelo-scan tavelo-window-bench
export PYTHONDONTWRITEBYTECODE=1
# Debian's Python: the one apt installs matplotlib for (another python3 may come first in PATH).
python=/usr/bin/python3
[ -x "$python" ] || python=python3
# bench/tls.sh runs its own script after the same set-up.
exec "$python" "$root/bench/${TAVELO_BENCH_SCRIPT:-run.py}" --build "$build" "$@"
