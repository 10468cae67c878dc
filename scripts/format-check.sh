#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format (Debian's 14, the .clang-format at the
# root) makes of it. Run by .ci/run; `clang-format -i FILE` fixes a file.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
"$here/scripts/deps.sh" clang-format
cd "$here"
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror
echo "format: every C++ file as clang-format makes it"
