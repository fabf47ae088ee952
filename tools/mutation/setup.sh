#!/usr/bin/env bash
# setup.sh REPOSITORY COMMIT FOLDER: a copy of REPOSITORY at COMMIT in FOLDER, built with the
# core as a shared library, for mutate.py.
set -euo pipefail
git clone -q "$1" "$3"
git -C "$3" checkout -q "$2"
sed -i 's/add_library(orvalis_core STATIC/add_library(orvalis_core SHARED/' "$3/CMakeLists.txt"
cmake -S "$3" -B "$3/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVALIS_BENCH=OFF >/dev/null
cmake --build "$3/build" -j2 >/dev/null
