#!/usr/bin/env bash
# Installs what is needed, builds, starts a PostgreSQL server on loopback and
# runs the whole test suite (SQLite and PostgreSQL store tests, browser tests),
# then builds the Debian package and runs it unpacked (scripts/check-package.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

eval "$(scripts/start-test-postgres.sh "${TMPDIR:-/tmp}/devezozuvor-pg" 54329)"
export TERVIK_TEST_REQUIRE_PG=1

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1

(cd build && ctest --output-on-failure -j2 --timeout 900 "$@")

scripts/check-package.sh
