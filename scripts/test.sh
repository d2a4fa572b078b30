#!/usr/bin/env bash
# Builds and runs every test: the release build (unit tests, window tests,
# benchmarks built), then a clang build with AddressSanitizer and
# UndefinedBehaviorSanitizer that runs the unit and window tests again and
# the fuzzers of the file readers for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

echo "== Release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Sanitizer and fuzz build"
CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKELMAR_SANITIZE=ON -DKELMAR_BUILD_FUZZERS=ON -DKELMAR_BUILD_BENCH=OFF -DKELMAR_BUILD_PYTHON=OFF
cmake --build build-sanitize -j "$jobs"
ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
