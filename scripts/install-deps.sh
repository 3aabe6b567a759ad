#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests, the demo and the
# Debian package (scripts/package.sh) need.
set -euo pipefail

packages=(
    build-essential cmake ccache pkg-config
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
    qt6-declarative-dev qt6-httpserver-dev qt6-websockets-dev libqt6opengl6-dev
    libqt6sql6-sqlite libqt6sql6-psql libgl-dev
    libjpeg62-turbo-dev libhpdf-dev
    postgresql
    poppler-utils
    xvfb xauth fonts-dejavu-core fonts-liberation2
    qt6-translations-l10n
    qt6-base-private-dev
    dpkg-dev file lintian
    nodejs
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
