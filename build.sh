#!/usr/bin/env bash
# Installs what Orvalis needs on Debian 12, builds it, then starts it or runs every test.
#   ./build.sh run [FILE.nzb]   build and start the program
#   ./build.sh test   build and run the whole test suite, then again built with AddressSanitizer
#                     and UndefinedBehaviorSanitizer, then each fuzz target for 40 seconds; as root
#                     it also installs and starts INN 2 on loopback (tools/inn2/) for the tests
#                     against a real server, and installs Debian's nzbget and sabnzbdplus for the
#                     tests of the NZBGet extension and the SABnzbd pre-queue script (started only
#                     with private configurations in temporary folders); it also makes the Debian package, checks it with
#                     lintian and, as root, installs it, starts the installed program and
#                     removes it again
#   ./build.sh coverage   build with --coverage, run the tests and report the line and branch
#                     coverage of the product folders (build-coverage/coverage.html)
#   ./build.sh package   build a Release and make the Debian package (build-pkg/orvalis_*.deb)
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake make g++ pkg-config qt6-base-dev libpugixml-dev zlib1g-dev)
test_packages=(clang libclang-rt-14-dev par2 python3 python3-jsonschema lintian)
package_packages=(dpkg-dev)
coverage_packages=(gcovr par2 python3 python3-jsonschema)
apt_options=() # of every apt-get call of install_missing

install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
    done
    if ((${#missing[@]})); then
        apt-get "${apt_options[@]}" update
        DEBIAN_FRONTEND=noninteractive apt-get "${apt_options[@]}" install -y --no-install-recommends "${missing[@]}"
    fi
}

# build FOLDER [CMAKE_OPTION...]
build() {
    cmake -S . -B "$1" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${@:2}"
    cmake --build "$1" -j2
}

run_tests() {
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$1" --output-on-failure -j2
}

# make_package FOLDER: the Debian package of the build in FOLDER; sets deb to its path.
make_package() {
    (cd "$1" && cpack -G DEB)
    deb=$1/orvalis_$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")_$(dpkg --print-architecture).deb
    [ -f "$deb" ]
}

# check_package: installs $deb, checks that the installed program gives the package's version,
# then removes it, so that the next run installs its own build.
check_package() {
    local expected said
    expected="Orvalis $(dpkg-deb -f "$deb" Version)"
    DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "./$deb"
    said=$(QT_QPA_PLATFORM=offscreen /usr/bin/Orvalis --version)
    DEBIAN_FRONTEND=noninteractive apt-get remove -y orvalis
    [ "$said" = "$expected" ] || { echo "installed Orvalis says '$said', not '$expected'" >&2; return 1; }
}

# start_inn2: as root, brings INN 2 up on loopback while the build runs; require_inn2 then
# waits for it and makes its tests required.
start_inn2() {
    if ((EUID == 0)); then
        tools/inn2/inn2-up.sh >build-inn2.log 2>&1 &
        inn2=$!
        trap 'tools/inn2/inn2-down.sh >>build-inn2.log 2>&1 || true' EXIT
    fi
}

# require_nzbget: as root, installs Debian's nzbget and makes the extension's test required.
require_nzbget() {
    if ((EUID == 0)); then
        install_missing nzbget
        export ORVALIS_REQUIRE_NZBGET=1
    fi
}

# require_sabnzbd: as root, installs Debian's sabnzbdplus (bookworm contrib; the unrar it needs
# is in non-free) through a source list of its own in build-apt/, so that the machine's apt
# sources stay as they are, and makes the pre-queue script's test required.
require_sabnzbd() {
    if ((EUID == 0)); then
        local apt=$PWD/build-apt
        mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
        echo 'deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main contrib non-free' \
            >"$apt/sources.list"
        local apt_options=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
            -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache")
        install_missing sabnzbdplus unrar
        export ORVALIS_REQUIRE_SABNZBD=1
    fi
}

require_inn2() {
    if [ -n "${inn2:-}" ]; then
        wait "$inn2" || { cat build-inn2.log >&2; exit 1; }
        export ORVALIS_REQUIRE_INN2=1
    fi
}

case "${1:-}" in
run)
    install_missing "${packages[@]}"
    build build
    exec ./build/app/Orvalis "${@:2}"
    ;;
test)
    install_missing "${packages[@]}" "${test_packages[@]}" "${package_packages[@]}"
    require_nzbget # before INN 2's install starts in the background: one apt-get at a time
    require_sabnzbd
    start_inn2
    build build
    require_inn2
    run_tests build
    make_package build
    lintian --fail-on error "$deb"
    if ((EUID == 0)); then
        check_package
    fi
    build build-asan -DORVALIS_SANITIZE=ON -DORVALIS_BENCH=OFF
    run_tests build-asan
    cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DORVALIS_FUZZ=ON \
        -DBUILD_TESTING=OFF -DORVALIS_BENCH=OFF
    cmake --build build-fuzz -j2 --target fuzzers
    fuzz/run.sh build-fuzz 40
    ;;
coverage)
    install_missing "${packages[@]}" "${coverage_packages[@]}"
    start_inn2
    build build-coverage -DCMAKE_BUILD_TYPE=Debug -DORVALIS_BENCH=OFF \
        -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage
    require_inn2
    find build-coverage -name '*.gcda' -delete
    run_tests build-coverage
    gcovr --root . --object-directory build-coverage --filter 'app/' --filter 'check/' --filter 'nzb/' \
        --filter 'servers/' --filter 'settings/' --filter 'ui/' --filter 'repair/' \
        --exclude-throw-branches --exclude-unreachable-branches --print-summary \
        --html-details build-coverage/coverage.html --txt build-coverage/coverage.txt
    echo "Report: build-coverage/coverage.html"
    ;;
package)
    install_missing "${packages[@]}" "${package_packages[@]}"
    build build-pkg -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DORVALIS_BENCH=OFF
    make_package build-pkg
    echo "$deb"
    ;;
*)
    echo "usage: $0 run|test|coverage|package" >&2
    exit 64
    ;;
esac
