#!/bin/sh
# Time and memory of the unattended run against the sample site, in one run, beside a query in the window:
#   bench/batch/measure.sh [LIST [LONG [HEIGHT]]]   (defaults 20, 110 clients and the site's report height; LONG 0
#   skips the memory run; from the project root, after a build)
# Prints the window's press-to-stored times, the list's wall time per client, and the memory (PSS of the program
# and its browser processes) as clients 11, 31, 61 and 101 start, i.e. after 10, 30, 60 and 100 clients.
set -eu
list=${1:-20}
long=${2:-110}
height=${3:-}
bin=$(pwd)/build/bin
work=$(mktemp -d)
export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

"$bin/samplesite" --port 0 ${height:+--report-height "$height"} >"$work/site.log" &
site_pid=$!
trap 'kill $site_pid 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 1 100); do
    grep -q "listening on" "$work/site.log" && break
    sleep 0.1
done
site=$(sed -n 's/^samplesite listening on \(http:[^ ]*\)\/$/\1/p' "$work/site.log")
"$bin/seeddemo" --database "$work/tervik.sqlite" --site "$site" --config "$work/dbengine.ini" >/dev/null 2>&1
export DEVEZOZUVOR_DBENGINE_INI="$work/dbengine.ini"
{
    echo "BEGIN;"
    for code in $(seq 2001 $((2000 + (list > long ? list : long)))); do
        echo "INSERT INTO clifor (Filial, Cod_Clifor, Sistema, NOME, CGC) VALUES (1, $code, 'C', 'Cliente $code', '11222333000181');"
    done
    echo "COMMIT;"
} | sqlite3 "$work/tervik.sqlite"

# PSS in MB of the process and every process below it (the browser's helpers).
pss_tree() {
    pids="$1"
    frontier="$1"
    while [ -n "$frontier" ]; do
        next=""
        for p in $frontier; do
            next="$next $(ps -o pid= --ppid "$p" 2>/dev/null || true)"
        done
        frontier=$(echo $next)
        pids="$pids $frontier"
    done
    total=0
    count=0
    for p in $pids; do
        kb=$(awk '/^Pss:/ {print $2}' "/proc/$p/smaps_rollup" 2>/dev/null || echo 0)
        total=$((total + ${kb:-0}))
        count=$((count + 1))
        [ "$p" != "$1" ] || own=$kb
    done
    echo "$((total / 1024)) MB PSS in $count processes, the program's own $((own / 1024)) MB"
}

echo "window: one press each, client 1001 (press to stored, from the log)"
for run in 1 2 3; do
    "$bin/demorun" 1 1 1001 2>&1 | sed -n 's/.*consulta salva em \([0-9]*\) ms.*/  press \1 ms/p'
done

echo "list of $list clients:"
start=$(date +%s%N)
"$bin/DeveZozuvor" --lote 1 $(seq 2001 $((2000 + list))) >"$work/list.out" 2>"$work/list.err" || true
end=$(date +%s%N)
wall=$(( (end - start) / 1000000 ))
echo "  $(tail -1 "$work/list.out"); wall $wall ms, $((wall / list)) ms per client (process start included)"
echo "  press to stored per client, median: $(sed -n 's/.*consulta salva em \([0-9]*\) ms.*/\1/p' "$work/list.err" | sort -n \
    | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}') ms, slowest $(sed -n 's/.*consulta salva em \([0-9]*\) ms.*/\1/p' \
    "$work/list.err" | sort -n | tail -1) ms"
echo "  browser stalls: $(grep -c 'não respondeu' "$work/list.err" || true), captured unsettled: $(grep -c \
    'capturada sem se assentar' "$work/list.err" || true)"

[ "$long" -gt 0 ] || exit 0

echo "list of $long clients, memory:"
"$bin/DeveZozuvor" --lote 1 $(seq 2001 $((2000 + long))) 2>&1 >"$work/long.out" | while IFS= read -r line; do
    case "$line" in
    "11/$long "* | "31/$long "* | "61/$long "* | "101/$long "*)
        pid=$(pgrep -n -x DeveZozuvor || true)
        echo "  after $(( ${line%%/*} - 1 )) clients: $(pss_tree "$pid")"
        ;;
    esac
done
echo "  $(tail -1 "$work/long.out")"
