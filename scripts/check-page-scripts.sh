#!/usr/bin/env bash
# Checks the syntax of every page script (webquery/scripts, capture/scripts)
# with Node.js, as the test command does through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
status=0
for script in webquery/scripts/*.js capture/scripts/*.js; do
    node --check "$script" || { echo "page script with a syntax error: $script" >&2; status=1; }
done
exit $status
