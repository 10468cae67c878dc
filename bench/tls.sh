#!/usr/bin/env bash
# TLS against clear text: installs what is missing, builds the scanner and the window driver in
# build-bench/ (Release) and runs bench/tls.py, which prints the table and writes
# build-bench/bench-results-tls/. Never part of the test run.
#
#   bench/tls.sh                          10,000 and 50,000 messages, 5 rounds: about 10 minutes
#   bench/tls.sh --base OTHER/build-bench  the same programs built from another tree, in the same rounds
#   bench/tls.sh --help                    every option (sizes, rounds, programs, links)
set -euo pipefail
# The set-up of bench/run.sh (what is missing installed, build-bench/ built), then bench/tls.py.
TAVELO_BENCH_SCRIPT=tls.py exec "$(dirname "$0")/run.sh" "$@"
