#!/usr/bin/env bash
# Builds the window, end-to-end and store suites in Debug with AddressSanitizer
# and UndefinedBehaviorSanitizer into build-sanitized/ and runs them, with
# PostgreSQL on loopback; the second press during a login is run 20 times in a
# row, since its fault shows only now and then. Run after scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

suites=(tst_mainwindow tst_endtoend tst_databasefaults tst_store_archive tst_store_dbengine tst_store_parameters
        tst_store_tables)

sanitizers="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"
cmake -S . -B build-sanitized -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$sanitizers" \
      -DCMAKE_EXE_LINKER_FLAGS="$sanitizers" -DCMAKE_SHARED_LINKER_FLAGS="$sanitizers"
cmake --build build-sanitized -j"$(nproc)" --target "${suites[@]}" store_writer sqlite_lock_holder

eval "$(scripts/start-test-postgres.sh "${TMPDIR:-/tmp}/devezozuvor-pg" 54329)"
export TERVIK_TEST_REQUIRE_PG=1
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu
[ "$(id -u)" -ne 0 ] || export QTWEBENGINE_DISABLE_SANDBOX=1
# The engine's own allocator frees with a size the sanitizer does not expect.
export ASAN_OPTIONS=new_delete_type_mismatch=0:detect_leaks=0
export UBSAN_OPTIONS=print_stacktrace=1

(cd build-sanitized && ctest --output-on-failure --timeout 1200 -R "^($(IFS='|'; echo "${suites[*]}"))\$")

for _ in $(seq 20); do
    build-sanitized/bin/tst_endtoend secondPressWhileTheLoginIsFilled -o -,txt >/dev/null \
        || { echo "secondPressWhileTheLoginIsFilled failed under the sanitizers" >&2; exit 1; }
done
echo "sanitized suites: passed"
