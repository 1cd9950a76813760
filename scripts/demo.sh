#!/usr/bin/env bash
# Sets everything up, builds, and runs the bundled demo world.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target rulehost gamerules
exec build/rulehost demo "$@"
