#!/usr/bin/env bash
# The tool's main job on a fresh machine: installs what is needed, builds,
# starts the sample bureau site on loopback, seeds a demo SQLite database
# (client 1001 of branch 1 with two archived queries and the ten parameters
# pointing at the site) and starts the tool for that client. Press
# "Consultar CNPJ" to run a full query; the result lands in the archive tab.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

bin=build/bin
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

site_log=$(mktemp)
"$bin/samplesite" --port "${DEMO_PORT:-0}" >"$site_log" &
site_pid=$!
trap 'kill $site_pid 2>/dev/null || true; rm -f "$site_log"' EXIT

# The site prints its address once it listens; wait for that line (bounded).
for _ in $(seq 1 100); do
    grep -q "listening on" "$site_log" && break
    kill -0 $site_pid 2>/dev/null || { cat "$site_log"; exit 1; }
    sleep 0.1
done
site=$(sed -n 's/^samplesite listening on \(http:[^ ]*\)\/$/\1/p' "$site_log")
[ -n "$site" ] || { echo "the sample site did not start" >&2; exit 1; }
echo "Sample bureau site: $site/"

QT_QPA_PLATFORM=offscreen "$bin/seeddemo" --database "$bin/tervik.sqlite" --site "$site" --config "$bin/dbengine.ini"

# Branch 1, client 1001 or DEMO_CLIENT (the first argument is checked but not used).
client=${DEMO_CLIENT:-1001}
program="$bin/DeveZozuvor"
# DEMO_AUTO=1: the same window presses "Consultar CNPJ" by itself, answers the
# boxes and saves a picture of the archive tab in build/demo-archive.png.
[ -z "${DEMO_AUTO:-}" ] || program="$bin/demorun"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display found: running under xvfb-run."
    xvfb-run -a "$program" 0 1 "$client"
else
    "$program" 0 1 "$client"
fi
