#!/usr/bin/env bash
# Installs what Orvalis needs on Debian 12, builds it, then starts it or runs every test.
#   ./build.sh run [FILE.nzb]   build and start the program
#   ./build.sh test   build and run the whole test suite
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ pkg-config qt6-base-dev libpugixml-dev)

install_missing() {
    local missing=()
    for package in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    if ((${#missing[@]})); then
        apt-get update
        DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
    fi
}

build() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j2
}

case "${1:-}" in
run)
    install_missing
    build
    exec ./build/app/Orvalis "${@:2}"
    ;;
test)
    install_missing
    build
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 64
    ;;
esac
