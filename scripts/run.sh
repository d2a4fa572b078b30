#!/usr/bin/env bash
# Builds KELMAR and starts it in the folder of the bundled example data, so
# that "Open files" proposes soil.sit, climat.cld and weather.wed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)" --target kelmar kelmar-cli

cd examples
if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  exec ../build/src/ui/kelmar
fi
echo "No display found, so the window cannot open here. The same run without the window:"
echo "  build/src/cli/kelmar-cli simulate --site examples/soil.sit --weather examples/weather.wed --climate examples/climat.cld --results /tmp/results.csv"
../build/src/cli/kelmar-cli simulate --site soil.sit --weather weather.wed --climate climat.cld \
  --results /tmp/results.csv
head -n 13 /tmp/results.csv
