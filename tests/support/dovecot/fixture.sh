#!/usr/bin/env bash
# The tests' private Dovecot POP3 server: fixture.sh start <dir> | fixture.sh stop <dir> (see fixture.py).
set -euo pipefail
export PYTHONDONTWRITEBYTECODE=1
exec python3 "$(dirname "$0")/fixture.py" "$@"
