#!/usr/bin/env bash
# Installs what Orvalis needs on Debian 12, builds it, then starts it or runs every test.
#   ./build.sh run [FILE.nzb]   build and start the program
#   ./build.sh test   build and run the whole test suite; as root it also installs and starts
#                     INN 2 on loopback (tools/inn2/) for the tests against a real server
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
    if ((EUID == 0)); then
        # Comes up while the build runs; its tests are then required.
        tools/inn2/inn2-up.sh >build-inn2.log 2>&1 &
        inn2=$!
        trap 'tools/inn2/inn2-down.sh >>build-inn2.log 2>&1 || true' EXIT
    fi
    build
    if [ -n "${inn2:-}" ]; then
        wait "$inn2" || { cat build-inn2.log >&2; exit 1; }
        export ORVALIS_REQUIRE_INN2=1
    fi
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 64
    ;;
esac
