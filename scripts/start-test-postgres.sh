#!/bin/sh
# Starts a throwaway PostgreSQL 15 server for the store tests and prints the
# variables the tests read. Safe to run again: an existing cluster is reused
# and a running server is left alone.
#   usage: start-test-postgres.sh [DATADIR] [PORT]
set -eu

base=${1:-/tmp/devezozuvor-pg}
port=${2:-54329}
bindir=${PG_BINDIR:-/usr/lib/postgresql/15/bin}
data="$base/data"

if [ ! -x "$bindir/postgres" ]; then
    echo "PostgreSQL server binaries not found in $bindir" >&2
    exit 1
fi

# The server refuses to run as root: run it as the postgres account then.
if [ "$(id -u)" = 0 ]; then
    runas() { su postgres -s /bin/sh -c "$*"; }
    mkdir -p "$base"
    chown postgres "$base"
else
    runas() { sh -c "$*"; }
    mkdir -p "$base"
fi

if [ ! -f "$data/PG_VERSION" ]; then
    runas "'$bindir/initdb' -D '$data' -A trust -U postgres --no-sync -E UTF8 --locale=C.UTF-8" >/dev/null
fi

if ! runas "'$bindir/pg_ctl' -D '$data' status" >/dev/null 2>&1; then
    runas "'$bindir/pg_ctl' -D '$data' -w -t 60 -l '$base/log' \
        -o \"-k '$base' -p $port -c listen_addresses=127.0.0.1 -c fsync=off -c full_page_writes=off\" start" >/dev/null
fi

tries=0
until "$bindir/pg_isready" -q -h 127.0.0.1 -p "$port"; do
    tries=$((tries + 1))
    if [ "$tries" -ge 60 ]; then
        echo "PostgreSQL did not become ready on port $port; see $base/log" >&2
        exit 1
    fi
    sleep 0.5
done

echo "export TERVIK_TEST_PGHOST=127.0.0.1"
echo "export TERVIK_TEST_PGPORT=$port"
echo "export TERVIK_TEST_PGUSER=postgres"
