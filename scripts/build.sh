#!/usr/bin/env bash
# Configures and builds the whole project into build/ (binaries in build/bin).
set -euo pipefail
cd "$(dirname "$0")/.."

build_type=${BUILD_TYPE:-RelWithDebInfo}
cmake -S . -B build -DCMAKE_BUILD_TYPE="$build_type"
cmake --build build -j"$(nproc)"
