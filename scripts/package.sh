#!/usr/bin/env bash
# Builds the Debian package devezozuvor_<version>_amd64.deb into the project
# root: installs what is needed, builds (build/), runs CPack's DEB generator
# and checks the result with lintian, which must report no errors.
#   usage: package.sh        then: sudo apt install ./devezozuvor_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build.sh

rm -f build/devezozuvor_*.deb
(cd build && cpack -G DEB >/dev/null)
deb=$(ls build/devezozuvor_*_amd64.deb)
mv -f "$deb" .
deb=$(basename "$deb")

# lintian exits non-zero on errors; its warnings are shown (on stderr), not fatal.
lintian --fail-on error "$deb" >&2 || {
    echo "lintian found errors in $deb" >&2
    exit 1
}
echo "$deb"
